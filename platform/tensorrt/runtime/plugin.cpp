// libnvinfer_plugin: the stand-in has no plugins of its own, so registration only reports and counts.
// Its logger becomes the plugin registry's (README, "Plugins").
#include <NvInferPlugin.h>

#include <string>

#include "logging.h"
#include "plugin_registry.h"
#include "test_control.h"

extern "C" TENSORRTAPI bool initLibNvInferPlugins(void* logger, const char* libNamespace) {
  trt_standin_internal_count("initLibNvInferPlugins");
  trt_standin_internal_set_plugin_logger(logger);
  trt_standin::report(static_cast<nvinfer1::ILogger*>(logger), trt_standin::Severity::kVERBOSE,
                      std::string("initLibNvInferPlugins: no plugin creators to register in namespace '") +
                          (libNamespace != nullptr ? libNamespace : "") + "'");
  return true;
}
