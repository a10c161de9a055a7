// Child process for the environment tests: reports what the emulator answered, and leaves one
// allocation, one stream and one event alive for the exit report when asked to ("leak"), or prints whether
// strict mode is on ("strict").
#include <cuda_runtime_api.h>
#include <cudaemu.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "strict") == 0) {
    std::printf("strict=%d\n", cudaemu_strict());
    return 0;
  }
  int count = -1;
  cudaError_t devices = cudaGetDeviceCount(&count);
  void* a = nullptr;
  void* b = nullptr;
  cudaError_t first = cudaMalloc(&a, 1000);
  cudaError_t second = cudaMalloc(&b, 1000);
  cudaStream_t s = nullptr;
  cudaError_t stream = cudaStreamCreate(&s);
  std::printf("devices=%d count=%d malloc=%d,%d stream=%d\n", devices, count, first, second, stream);
  std::fflush(stdout);  // before the exit report on stderr
  if (argc > 1 && std::strcmp(argv[1], "leak") == 0) {
    cudaEvent_t e = nullptr;
    cudaEventCreate(&e);
    cudaFree(b);
    return 0;
  }
  cudaFree(a);
  cudaFree(b);
  cudaStreamDestroy(s);
  return 0;
}
