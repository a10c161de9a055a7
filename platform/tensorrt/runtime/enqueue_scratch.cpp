#include "enqueue_scratch.h"

#include <trt_standin.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "context.h"

namespace trt_standin {
namespace scratch {
namespace {

constexpr size_t kTemporaryBytes = 256;

std::atomic<bool> option{false};

[[maybe_unused]] const bool kEnvironmentLoaded = (load_from_environment(), true);

}  // namespace

bool enabled() { return option; }

void load_from_environment() {
  const char* value = std::getenv("TRT_STANDIN_ENQUEUE_SCRATCH");
  const std::string text = value == nullptr ? "" : value;
  if (text != "" && text != "0" && text != "1") {
    std::fprintf(stderr, "trt_standin: ignoring malformed TRT_STANDIN_ENQUEUE_SCRATCH=%s\n", text.c_str());
  }
  option = text == "1";
}

bool use_temporary_memory(cudaStream_t stream, std::string* why) {
  void* temporary = nullptr;
  cudaError_t status = cudaMalloc(&temporary, kTemporaryBytes);
  if (status != cudaSuccess) {
    *why = cuda_failure("cudaMalloc", status);
    return false;
  }
  status = cudaMemsetAsync(temporary, 0, kTemporaryBytes, stream);
  const char* failed = "cudaMemsetAsync";
  // Freed whatever the memset answered: the memory is the enqueue's alone.
  const cudaError_t freed = cudaFree(temporary);
  if (status == cudaSuccess && freed != cudaSuccess) {
    status = freed;
    failed = "cudaFree";
  }
  if (status != cudaSuccess) {
    *why = cuda_failure(failed, status);
    return false;
  }
  return true;
}

}  // namespace scratch
}  // namespace trt_standin

extern "C" void trt_standin_set_enqueue_scratch(int on) { trt_standin::scratch::option = on != 0; }

extern "C" int trt_standin_enqueue_scratch(void) { return trt_standin::scratch::enabled() ? 1 : 0; }
