#include "tensorrt_reason.h"

#include <cuda_runtime_api.h>

namespace sessions {
namespace {

// Per thread: TensorRT logs a refusal on the thread that made the call it refuses.
struct StepLines {
  std::string errors;  // the step's error lines, "; " between them
  bool out_of_memory = false;
};
thread_local StepLines tStep;

// TensorRT 8 follows its reason with a generic line ("Error Code 4: Internal Error (Engine
// deserialization failed.)"), so the reason is in an earlier line than the last: every error line of
// the step is kept, up to a bound that keeps a status short.
constexpr size_t kMostReasonBytes = 2048;

// How the library tells a refusal for want of device memory from the others. TensorRT's interface
// gives no code with a null engine or context; what it gives is its error line, and TensorRT reports
// a failed CUDA call with CUDA's own text for the error. So an error line of the step carrying the
// runtime's text for cudaErrorMemoryAllocation (asked of the runtime, not spelled here) means one of
// TensorRT's allocations found the device full. A refusal for any other reason does not carry it.
bool saysOutOfMemory(const std::string& line) {
  const char* text = cudaGetErrorString(cudaErrorMemoryAllocation);
  return text && *text && line.find(text) != std::string::npos;
}

}  // namespace

void tensorrtStepBegins() noexcept {
  tStep.errors.clear();
  tStep.out_of_memory = false;
}

void keepTensorrtLine(nvinfer1::ILogger::Severity severity, const char* line) noexcept {
  if (static_cast<int>(severity) > static_cast<int>(nvinfer1::ILogger::Severity::kERROR)) return;
  try {
    const std::string text = line ? line : "";
    tStep.out_of_memory = tStep.out_of_memory || saysOutOfMemory(text);
    if (text.empty() || tStep.errors.size() >= kMostReasonBytes) return;
    if (!tStep.errors.empty()) tStep.errors += "; ";
    tStep.errors += text;
  } catch (...) {
    tStep.errors.clear();  // no memory for the line: the status says TensorRT logged nothing
  }
}

bool tensorrtRanOutOfMemory() { return tStep.out_of_memory; }

Status tensorrtFailure(inferlet_code code, const std::string& what) {
  if (tStep.errors.empty()) return Status::failure(code, what + " (TensorRT logged no error)");
  return Status::failure(code, what + " (TensorRT: " + tStep.errors + ")");
}

Status tensorrtAllocatingFailure(inferlet_code code, const std::string& what) {
  return tensorrtFailure(tensorrtRanOutOfMemory() ? INFERLET_OUT_OF_MEMORY : code, what);
}

}  // namespace sessions
