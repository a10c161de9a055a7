#include "logging.h"

namespace trt_standin {

void report(nvinfer1::ILogger* logger, Severity severity, const std::string& message) noexcept {
  if (logger == nullptr) return;
  try {
    logger->log(severity, message.c_str());
  } catch (...) {
  }
}

}  // namespace trt_standin
