// IExecutionContext: profile selection, input dimensions, and the enqueue of a whole network.
//
// enqueueV2 issues, in stream order: device->staging copies of the inputs, one host function that
// computes the network on the staging buffers, staging->device copies of the outputs. The staging
// buffers are pinned host memory owned by the context, allocated once at creation for the largest
// shapes any profile allows, so enqueueV2 itself allocates nothing and can be captured into a graph.
#ifndef TRT_STANDIN_RUNTIME_CONTEXT_H_
#define TRT_STANDIN_RUNTIME_CONTEXT_H_

#include <NvInferRuntime.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "dims.h"
#include "graph.h"

namespace trt_standin {

class Engine;

class ExecutionContext final : public nvinfer1::IExecutionContext {
 public:
  // Null, after a kERROR line, when the staging memory cannot be allocated.
  static std::unique_ptr<ExecutionContext> create(const Engine& engine, std::shared_ptr<const Graph> graph,
                                                  nvinfer1::ILogger* logger, int32_t initial_profile);
  ExecutionContext(const Engine& engine, std::shared_ptr<const Graph> graph, nvinfer1::ILogger* logger,
                   int32_t profile, int device);
  ~ExecutionContext() override;

  const nvinfer1::ICudaEngine& getEngine() const noexcept override;
  bool setOptimizationProfile(int32_t profileIndex) noexcept override;
  int32_t getOptimizationProfile() const noexcept override;
  bool setBindingDimensions(int32_t bindingIndex, nvinfer1::Dims dimensions) noexcept override;
  nvinfer1::Dims getBindingDimensions(int32_t bindingIndex) const noexcept override;
  bool allInputDimensionsSpecified() const noexcept override;
  bool enqueueV2(BindingArray bindings, cudaStream_t stream, cudaEvent_t* inputConsumed) noexcept override;
#if NV_TENSORRT_MAJOR < 8
  void destroy() noexcept override { delete this; }
#endif

  // What one queued host function computes: the shapes fixed at enqueue time and the buffers.
  struct Launch {
    const Graph* graph;
    std::vector<Shape> shapes;
    const std::vector<void*>* buffers;
  };

 private:
  struct PinnedDeleter {
    void operator()(unsigned char* p) const;
  };

  bool allocate_buffers();
  void reset_input_dims();  // static inputs of the selected profile are specified, the rest unset
  bool inputs_specified() const;
  bool resolve_shapes(std::vector<Shape>* shapes, std::string* why) const;
  bool fail_enqueue(const std::string& why) noexcept;
  const Launch* launch_for(std::vector<Shape> shapes);

  const Engine& engine_;
  std::shared_ptr<const Graph> graph_;
  nvinfer1::ILogger* logger_;
  int32_t profile_;
  int device_;  // the CUDA device current when the context was created; enqueueV2 runs only there
  // The first enqueue after the creation, a profile selection or new input dimensions must run outside
  // a stream capture (TensorRT: "run enqueueV2 once before capturing").
  bool capture_blocked_ = true;
  std::vector<std::optional<Shape>> input_dims_;  // per network input, for the selected profile
  std::unique_ptr<unsigned char, PinnedDeleter> staging_;
  std::vector<std::vector<unsigned char>> scratch_;  // tensors between layers
  std::vector<void*> buffers_;                       // per tensor: staging or scratch
  // One record per distinct set of input shapes: captured graphs keep pointing at them.
  std::map<std::vector<int32_t>, std::unique_ptr<Launch>> launches_;
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_CONTEXT_H_
