// libnvinfer_plugin: the stand-in has no plugins, so registration only reports and counts.
#include <NvInferPlugin.h>

#include <string>

#include "logging.h"
#include "test_control.h"

extern "C" TENSORRTAPI bool initLibNvInferPlugins(void* logger, const char* libNamespace) {
  trt_standin_internal_count("initLibNvInferPlugins");
  trt_standin::report(static_cast<nvinfer1::ILogger*>(logger), trt_standin::Severity::kVERBOSE,
                      std::string("initLibNvInferPlugins: no plugin creators to register in namespace '") +
                          (libNamespace != nullptr ? libNamespace : "") + "'");
  return true;
}
