// ICudaEngine over a checked network: bindings, profiles and execution context creation.
#ifndef TRT_STANDIN_RUNTIME_ENGINE_H_
#define TRT_STANDIN_RUNTIME_ENGINE_H_

#include <NvInferRuntime.h>

#include <memory>
#include <string>
#include <vector>

#include "graph.h"

namespace trt_standin {

// Bindings are numbered profile by profile; inside a profile's block inputs come first, then outputs.
class Engine final : public nvinfer1::ICudaEngine {
 public:
  Engine(std::shared_ptr<const Graph> graph, nvinfer1::ILogger* logger);
  ~Engine() override;

  int32_t getNbBindings() const noexcept override;
  int32_t getBindingIndex(const char* name) const noexcept override;
  const char* getBindingName(int32_t bindingIndex) const noexcept override;
  bool bindingIsInput(int32_t bindingIndex) const noexcept override;
  nvinfer1::Dims getBindingDimensions(int32_t bindingIndex) const noexcept override;
  nvinfer1::DataType getBindingDataType(int32_t bindingIndex) const noexcept override;
  int32_t getMaxBatchSize() const noexcept override;
  nvinfer1::IExecutionContext* createExecutionContext() noexcept override;
  bool isRefittable() const noexcept override;
  const char* getName() const noexcept override;
  int32_t getNbOptimizationProfiles() const noexcept override;
  nvinfer1::Dims getProfileDimensions(int32_t bindingIndex, int32_t profileIndex,
                                      nvinfer1::OptProfileSelector select) const noexcept override;
#if NV_TENSORRT_MAJOR < 8
  void destroy() noexcept override { delete this; }
#endif

  // The network tensor a binding stands for, or -1 for an index out of range.
  int tensor_of_binding(int32_t bindingIndex) const;

 private:
  bool in_range(int32_t bindingIndex) const { return bindingIndex >= 0 && bindingIndex < getNbBindings(); }

  std::shared_ptr<const Graph> graph_;
  nvinfer1::ILogger* logger_;
  std::vector<std::string> binding_names_;
  bool context_created_ = false;
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_ENGINE_H_
