// ICudaEngine over a checked network: bindings (up to 8.x) or named I/O tensors (from 10.x),
// profiles and execution context creation.
#ifndef TRT_STANDIN_RUNTIME_ENGINE_H_
#define TRT_STANDIN_RUNTIME_ENGINE_H_

#include <NvInferRuntime.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_memory.h"
#include "graph.h"
#include "interface.h"
#include "pending_work.h"
#include "profile_uses.h"

namespace trt_standin {

// Shared by a runtime and the engines it deserialized, so that an engine learns that its runtime is
// gone (undefined behaviour from 10.x on, which the stand-in reports).
struct RuntimeLink {
  std::atomic<int> live_engines{0};
  std::atomic<bool> released{false};
};

// Per profile, the activation memory a context needs: the tensors between layers (not the network's
// inputs and outputs) at the profile's largest shapes, each rounded up to 256 bytes.
std::vector<std::size_t> activation_bytes_per_profile(const Graph& graph);

// Up to 8.x bindings are numbered profile by profile; inside a profile's block inputs come first,
// then outputs. From 10.x the I/O tensors are the network's inputs, then its outputs, once.
class Engine final : public EngineInterface {
 public:
  Engine(std::shared_ptr<const Graph> graph, nvinfer1::ILogger* logger, std::shared_ptr<RuntimeLink> runtime);
  ~Engine() override;

  // Takes the weights' device memory on the current device; false with the kERROR text when refused.
  bool allocate_weights(std::string* why);
  // The activation memory a context holds: the largest any profile needs.
  std::size_t context_memory_bytes() const;
  // The activation memory of one profile (in range).
  std::size_t profile_memory_bytes(int32_t profile) const { return activation_bytes_[profile]; }
  // What the engine's contexts queued on streams and has not run yet.
  std::shared_ptr<PendingWork> pending_work() const { return pending_; }
  // The profiles its contexts' queued networks use.
  std::shared_ptr<ProfileUses> profile_uses() const { return profile_uses_; }
  // Some profile lets an input extent vary: contexts in concurrent use then need separate profiles.
  bool has_dynamic_shapes() const { return dynamic_shapes_; }

  bool isRefittable() const noexcept override;
  const char* getName() const noexcept override;
  int32_t getNbOptimizationProfiles() const noexcept override;

#if NV_TENSORRT_MAJOR >= 10
  int32_t getNbIOTensors() const noexcept override;
  const char* getIOTensorName(int32_t index) const noexcept override;
  nvinfer1::TensorIOMode getTensorIOMode(const char* tensorName) const noexcept override;
  nvinfer1::DataType getTensorDataType(const char* tensorName) const noexcept override;
  nvinfer1::Dims getTensorShape(const char* tensorName) const noexcept override;
  nvinfer1::Dims getProfileShape(const char* tensorName, int32_t profileIndex,
                                 nvinfer1::OptProfileSelector select) const noexcept override;
  nvinfer1::IExecutionContext* createExecutionContext(
      nvinfer1::ExecutionContextAllocationStrategy strategy) noexcept override;
  nvinfer1::TensorLocation getTensorLocation(const char* tensorName) const noexcept override;
  bool isShapeInferenceIO(const char* tensorName) const noexcept override;
#if NV_TENSORRT_MAJOR < 11
  bool hasImplicitBatchDimension() const noexcept override;
#endif
  int32_t getTensorBytesPerComponent(const char* tensorName) const noexcept override;
  int32_t getTensorBytesPerComponentV2(const char* tensorName, int32_t profileIndex) const noexcept override;
  int32_t getTensorComponentsPerElement(const char* tensorName) const noexcept override;
  int32_t getTensorComponentsPerElementV2(const char* tensorName,
                                          int32_t profileIndex) const noexcept override;
  nvinfer1::TensorFormat getTensorFormat(const char* tensorName) const noexcept override;
  nvinfer1::TensorFormat getTensorFormatV2(const char* tensorName,
                                           int32_t profileIndex) const noexcept override;
  const char* getTensorFormatDesc(const char* tensorName) const noexcept override;
  const char* getTensorFormatDescV2(const char* tensorName, int32_t profileIndex) const noexcept override;
  int32_t getTensorVectorizedDim(const char* tensorName) const noexcept override;
  int32_t getTensorVectorizedDimV2(const char* tensorName, int32_t profileIndex) const noexcept override;
  int64_t getDeviceMemorySizeV2() const noexcept override;
  int64_t getDeviceMemorySizeForProfileV2(int32_t profileIndex) const noexcept override;
#if NV_TENSORRT_MAJOR < 11
  const int32_t* getProfileTensorValues(const char* tensorName, int32_t profileIndex,
                                        nvinfer1::OptProfileSelector select) const noexcept override;
#endif
  const int64_t* getProfileTensorValuesV2(const char* tensorName, int32_t profileIndex,
                                          nvinfer1::OptProfileSelector select) const noexcept override;
#if NV_TENSORRT_MAJOR >= 11
  const char* getAliasedInputTensor(const char* tensorName) const noexcept override;
#endif

  // The I/O tensor index of a name, or -1 for a name that is not an input or output.
  int io_index(const char* tensorName) const;
  // The graph tensor of an I/O tensor index.
  int tensor_of_io(int index) const;
  // False, after a kERROR line naming call, once the runtime that made this engine is released.
  bool runtime_alive(const char* call) const;
#else
  int32_t getNbBindings() const noexcept override;
  int32_t getBindingIndex(const char* name) const noexcept override;
  const char* getBindingName(int32_t bindingIndex) const noexcept override;
  bool bindingIsInput(int32_t bindingIndex) const noexcept override;
  nvinfer1::Dims getBindingDimensions(int32_t bindingIndex) const noexcept override;
  nvinfer1::DataType getBindingDataType(int32_t bindingIndex) const noexcept override;
  int32_t getMaxBatchSize() const noexcept override;
  nvinfer1::IExecutionContext* createExecutionContext() noexcept override;
  nvinfer1::Dims getProfileDimensions(int32_t bindingIndex, int32_t profileIndex,
                                      nvinfer1::OptProfileSelector select) const noexcept override;
  nvinfer1::TensorLocation getLocation(int32_t bindingIndex) const noexcept override;
  std::size_t getDeviceMemorySize() const noexcept override;
  int32_t getBindingBytesPerComponent(int32_t bindingIndex) const noexcept override;
  int32_t getBindingComponentsPerElement(int32_t bindingIndex) const noexcept override;
  nvinfer1::TensorFormat getBindingFormat(int32_t bindingIndex) const noexcept override;
  const char* getBindingFormatDesc(int32_t bindingIndex) const noexcept override;
  int32_t getBindingVectorizedDim(int32_t bindingIndex) const noexcept override;
  bool isShapeBinding(int32_t bindingIndex) const noexcept override;
  bool isExecutionBinding(int32_t bindingIndex) const noexcept override;
  const int32_t* getProfileShapeValues(int32_t profileIndex, int32_t inputIndex,
                                       nvinfer1::OptProfileSelector select) const noexcept override;
#if NV_TENSORRT_MAJOR < 8
  void destroy() noexcept override { delete this; }
#endif

  // The network tensor a binding stands for, or -1 for an index out of range.
  int tensor_of_binding(int32_t bindingIndex) const;
#endif

 private:
#if NV_TENSORRT_MAJOR < 10
  bool in_range(int32_t bindingIndex) const { return bindingIndex >= 0 && bindingIndex < getNbBindings(); }
#endif
  // An input with values in the profiles (a shape tensor that steers shapes), and a profile in range.
  bool has_profile_values(int index, int32_t profileIndex) const;
  // Released while its contexts' work is queued: reported, and the weights stay until it has run.
  void retire_if_work_pending() noexcept;

  std::shared_ptr<const Graph> graph_;
  nvinfer1::ILogger* logger_;
  std::shared_ptr<RuntimeLink> runtime_;
  std::vector<std::string> binding_names_;  // up to 8.x; from 10.x the I/O tensor names
  // Per profile, per input, per selector (min, opt, max): a shape tensor's values in 32 bits.
  std::vector<std::vector<std::vector<std::vector<int32_t>>>> values32_;
  bool dynamic_shapes_ = false;
  // Contexts may be created from several threads; up to 8.x only the first one gets profile 0.
  std::mutex creation_mutex_;
  bool context_created_ = false;               // guarded by creation_mutex_
  std::vector<std::size_t> activation_bytes_;  // per profile
  std::unique_ptr<DeviceMemory> weights_ = std::make_unique<DeviceMemory>();
  std::shared_ptr<PendingWork> pending_ = std::make_shared<PendingWork>();
  std::shared_ptr<ProfileUses> profile_uses_;
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_ENGINE_H_
