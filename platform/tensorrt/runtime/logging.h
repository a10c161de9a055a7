// Everything the runtime reports goes through the application's ILogger.
#ifndef TRT_STANDIN_RUNTIME_LOGGING_H_
#define TRT_STANDIN_RUNTIME_LOGGING_H_

#include <NvInferRuntime.h>

#include <string>

namespace trt_standin {

using Severity = nvinfer1::ILogger::Severity;

// Sends one message; a null logger drops it. An exception thrown by a 7.x logger (whose log() may
// throw) is swallowed, since every caller is noexcept.
void report(nvinfer1::ILogger* logger, Severity severity, const std::string& message) noexcept;

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_LOGGING_H_
