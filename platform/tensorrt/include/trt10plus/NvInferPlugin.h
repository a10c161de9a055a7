// Stand-in TensorRT 10.13 / 11.1: registration of the standard plugins (libnvinfer_plugin).
#ifndef TRT_STANDIN_10PLUS_NV_INFER_PLUGIN_H_
#define TRT_STANDIN_10PLUS_NV_INFER_PLUGIN_H_

#include "NvInfer.h"

extern "C" {
// Registers the plugin creators under libNamespace; logger is an nvinfer1::ILogger*. Not noexcept.
TENSORRTAPI bool initLibNvInferPlugins(void* logger, char const* libNamespace);
}

#endif  // TRT_STANDIN_10PLUS_NV_INFER_PLUGIN_H_
