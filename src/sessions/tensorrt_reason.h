// TensorRT's reason for a refusal. TensorRT says why it refuses only in the lines it logs; a host
// without a log callback (the default) would never see them, so the error lines TensorRT logs on a
// thread are kept there, log callback or not, from the start of the library's current TensorRT step
// (tensorrtStepBegins) until the step's status is made (tensorrtFailure).
#ifndef INFERLET_SESSIONS_TENSORRT_REASON_H_
#define INFERLET_SESSIONS_TENSORRT_REASON_H_

#include <NvInfer.h>

#include <string>

#include "status.h"

namespace sessions {

// Forgets what this thread kept: called just before a call into TensorRT whose refusal is reported.
void tensorrtStepBegins() noexcept;

// Keeps a line TensorRT logs (from the library's ILogger); only kERROR and kINTERNAL_ERROR lines are kept.
void keepTensorrtLine(nvinfer1::ILogger::Severity severity, const char* line) noexcept;

// Whether an allocation TensorRT made in this step failed for want of device memory.
bool tensorrtRanOutOfMemory();

// code with what + " (TensorRT: <the step's error lines, "; " between them>)", or
// " (TensorRT logged no error)".
Status tensorrtFailure(inferlet_code code, const std::string& what);

// The same for a step that allocates device memory (deserializing an engine, making an execution
// context): INFERLET_OUT_OF_MEMORY instead of code when tensorrtRanOutOfMemory().
Status tensorrtAllocatingFailure(inferlet_code code, const std::string& what);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_TENSORRT_REASON_H_
