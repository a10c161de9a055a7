#include "tensorrt_reason.h"

#include <cuda_runtime_api.h>

#include <cstring>

namespace sessions {
namespace {

// TensorRT 8 follows its reason with a generic line ("Error Code 4: Internal Error (Engine
// deserialization failed.)"), so the reason is in an earlier line than the last: every error line of
// the step is kept, as far as a bound that keeps a status short reaches.
constexpr size_t kMostReasonBytes = 2048;

// Per thread: TensorRT logs a refusal on the thread that made the call it refuses. Plain bytes, so that
// the thread-local needs no destructor at thread exit in a library that is loaded with dlopen.
struct StepLines {
  char errors[kMostReasonBytes];  // the step's error lines, "; " between them
  size_t size;
  bool out_of_memory;
};
thread_local StepLines tStep;

// How the library tells a refusal for want of device memory from the others. TensorRT's interface
// gives no code with a null engine or context; what it gives is its error line, and TensorRT reports
// a failed CUDA call with CUDA's own text for the error. So an error line of the step carrying the
// runtime's text for cudaErrorMemoryAllocation (asked of the runtime, not spelled here) means one of
// TensorRT's allocations found the device full. A refusal for any other reason does not carry it.
bool saysOutOfMemory(const char* line) {
  const char* text = cudaGetErrorString(cudaErrorMemoryAllocation);
  return text && *text && std::strstr(line, text) != nullptr;
}

void append(const char* text, size_t length) {
  const size_t room = kMostReasonBytes - tStep.size;
  const size_t taken = length < room ? length : room;
  std::memcpy(tStep.errors + tStep.size, text, taken);
  tStep.size += taken;
}

}  // namespace

void tensorrtStepBegins() noexcept {
  tStep.size = 0;
  tStep.out_of_memory = false;
}

void keepTensorrtLine(nvinfer1::ILogger::Severity severity, const char* line) noexcept {
  if (static_cast<int>(severity) > static_cast<int>(nvinfer1::ILogger::Severity::kERROR)) return;
  if (!line || !*line) return;
  tStep.out_of_memory = tStep.out_of_memory || saysOutOfMemory(line);
  if (tStep.size > 0) append("; ", 2);
  append(line, std::strlen(line));
}

bool tensorrtRanOutOfMemory() { return tStep.out_of_memory; }

Status tensorrtFailure(inferlet_code code, const std::string& what) {
  if (tStep.size == 0) return Status::failure(code, what + " (TensorRT logged no error)");
  return Status::failure(code, what + " (TensorRT: " + std::string(tStep.errors, tStep.size) + ")");
}

Status tensorrtAllocatingFailure(inferlet_code code, const std::string& what) {
  return tensorrtFailure(tensorrtRanOutOfMemory() ? INFERLET_OUT_OF_MEMORY : code, what);
}

}  // namespace sessions
