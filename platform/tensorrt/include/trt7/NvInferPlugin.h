// Stand-in TensorRT 7.2.3: registration of the standard plugins (libnvinfer_plugin).
#ifndef TRT_STANDIN_7_NV_INFER_PLUGIN_H_
#define TRT_STANDIN_7_NV_INFER_PLUGIN_H_

#include "NvInfer.h"

extern "C" {
// Registers the plugin creators under libNamespace; logger is an nvinfer1::ILogger*.
TENSORRTAPI bool initLibNvInferPlugins(void* logger, const char* libNamespace);
}

#endif  // TRT_STANDIN_7_NV_INFER_PLUGIN_H_
