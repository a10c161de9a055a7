// A small CUDA host program, built twice: against the toolkit's static runtime and against the
// emulated device. It prints one line: "link_check: ok ..." or the call that failed.
#include <cuda_runtime.h>

#include <cstdio>
#include <cstring>

namespace {

int failed(const char* call, cudaError_t e) {
  std::printf("link_check: %s failed: %d %s (%s)\n", call, static_cast<int>(e), cudaGetErrorName(e),
              cudaGetErrorString(e));
  // No driver or no GPU is an answer this program handles; anything else is a failure.
  return e == cudaErrorInsufficientDriver || e == cudaErrorNoDevice ? 0 : 1;
}

void CUDART_CB add_one(void* data) {
  auto* bytes = static_cast<unsigned char*>(data);
  for (int i = 0; i < 64; ++i) bytes[i] = static_cast<unsigned char>(bytes[i] + 1);
}

}  // namespace

#define CHECK(call)                                  \
  do {                                               \
    cudaError_t e_ = (call);                         \
    if (e_ != cudaSuccess) return failed(#call, e_); \
  } while (0)

int main() {
  int count = 0;
  CHECK(cudaGetDeviceCount(&count));
  CHECK(cudaSetDevice(0));
  cudaStream_t stream = nullptr;
  CHECK(cudaStreamCreate(&stream));
  void* device = nullptr;
  unsigned char* pinned = nullptr;
  CHECK(cudaMalloc(&device, 64));
  CHECK(cudaMallocHost(&pinned, 64, cudaHostAllocDefault));  // the C++ overload: cudaHostAlloc
  CHECK(cudaMemset(device, 7, 64));

  // Recorded once, replayed twice: device -> pinned, +1 on the host, pinned -> device.
  cudaGraph_t graph = nullptr;
  cudaGraphExec_t exec = nullptr;
  CHECK(cudaStreamBeginCapture(stream, cudaStreamCaptureModeRelaxed));
  CHECK(cudaMemcpyAsync(pinned, device, 64, cudaMemcpyDeviceToHost, stream));
  CHECK(cudaLaunchHostFunc(stream, add_one, pinned));
  CHECK(cudaMemcpyAsync(device, pinned, 64, cudaMemcpyHostToDevice, stream));
  CHECK(cudaStreamEndCapture(stream, &graph));
  CHECK(cudaGraphInstantiate(&exec, graph, 0));
  CHECK(cudaGraphDestroy(graph));
  CHECK(cudaGraphLaunch(exec, stream));
  CHECK(cudaGraphLaunch(exec, stream));
  unsigned char result[64] = {};
  CHECK(cudaMemcpyAsync(result, device, 64, cudaMemcpyDeviceToHost, stream));
  CHECK(cudaStreamSynchronize(stream));
  CHECK(cudaGraphExecDestroy(exec));
  CHECK(cudaFreeHost(pinned));
  CHECK(cudaFree(device));
  CHECK(cudaStreamDestroy(stream));
  CHECK(cudaGetLastError());

  unsigned char expected[64];
  std::memset(expected, 9, sizeof expected);
  if (std::memcmp(result, expected, sizeof expected) != 0) {
    std::printf("link_check: wrong bytes after two graph launches (first byte %d, want 9)\n", result[0]);
    return 1;
  }
  std::printf("link_check: ok (%d device(s))\n", count);
  return 0;
}
