// The plugin registry of this libnvinfer (getPluginRegistry): the creators that plugin libraries
// register, found by name, version and namespace when an engine with plugin layers is deserialized,
// and on 10 and later IPluginRegistry::loadLibrary. README.md, section "Plugins".
#ifndef TRT_STANDIN_RUNTIME_PLUGIN_REGISTRY_H_
#define TRT_STANDIN_RUNTIME_PLUGIN_REGISTRY_H_

#include <NvInferRuntime.h>

#include <string>

// libnvinfer_plugin's initLibNvInferPlugins hands its logger to the registry through this.
extern "C" TENSORRTAPI void trt_standin_internal_set_plugin_logger(void* logger);

namespace trt_standin {

struct Graph;

// For each plugin layer of the graph: its creator from the registry, whose fields "scale" and
// "offset" become the layer's a and b. False with the reason (for a kERROR line after
// "deserializeCudaEngine: ") when a creator is not registered or does not describe both values.
bool resolve_plugin_layers(Graph* graph, std::string* why);

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_PLUGIN_REGISTRY_H_
