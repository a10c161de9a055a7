// The named-tensor interface of TensorRT 10 and 11. The engine names each input and output tensor once;
// the bindings are those tensors once per profile (binding b = tensor b mod n of profile b / n), named
// as TensorRT 8 names them, " [profile k]" after the tensor's name for k >= 1. Shapes and addresses go
// by tensor name, the profile is selected on the calls' stream, and the enqueue takes only the stream.
#include "trt_binding.h"

namespace trt_binding {
namespace {

Extents toExtents(const nvinfer1::Dims& dims) {
  Extents extents;
  extents.nbDims = dims.nbDims;
  for (int i = 0; i < dims.nbDims && i < 8; ++i) extents.d[i] = dims.d[i];
  return extents;
}

nvinfer1::Dims toDims(const Extents& extents) {
  nvinfer1::Dims dims{};
  dims.nbDims = static_cast<int32_t>(extents.nbDims);
  for (int i = 0; i < extents.nbDims && i < 8; ++i) dims.d[i] = extents.d[i];
  return dims;
}

constexpr Extents kUnknown{};  // nbDims -1: what TensorRT answers for a name it does not know

}  // namespace

// Kept: the caller releases it after the engine.
void settleRuntime(TrtUniquePtr<nvinfer1::IRuntime>&) {}

bool enginesMayHoldHostCode() { return true; }
void allowEngineHostCode(nvinfer1::IRuntime& runtime) { runtime.setEngineHostCodeAllowed(true); }

// Implicit batch is gone; 1 is what TensorRT 8 reported for every explicit-batch engine.
int maxBatchSize(const nvinfer1::ICudaEngine&) { return 1; }

int bindingCount(const nvinfer1::ICudaEngine& engine) {
  return engine.getNbIOTensors() * engine.getNbOptimizationProfiles();
}

int64_t contextMemory(const nvinfer1::ICudaEngine& engine) { return engine.getDeviceMemorySizeV2(); }

bool contextMemoryPerProfile() { return true; }

int64_t profileContextMemory(const nvinfer1::ICudaEngine& engine, int profile) {
  return engine.getDeviceMemorySizeForProfileV2(profile);
}

nvinfer1::IExecutionContext* createContext(nvinfer1::ICudaEngine& engine, bool caller_memory) {
  return engine.createExecutionContext(caller_memory
                                           ? nvinfer1::ExecutionContextAllocationStrategy::kUSER_MANAGED
                                           : nvinfer1::ExecutionContextAllocationStrategy::kSTATIC);
}

void setContextMemory(nvinfer1::IExecutionContext& context, void* memory, int64_t bytes) {
  context.setDeviceMemoryV2(memory, bytes);
}

int bindingsPerProfile(const nvinfer1::ICudaEngine& engine) { return engine.getNbIOTensors(); }

int bindingIndex(const nvinfer1::ICudaEngine& engine, int profile, int tensor) {
  return profile * engine.getNbIOTensors() + tensor;
}

// A number outside every profile's block gets no tensor: TensorRT does not say what getIOTensorName
// answers out of range.
Binding binding(const nvinfer1::ICudaEngine& engine, int index) {
  Binding found;
  found.index = index;
  const int n = engine.getNbIOTensors();
  if (n <= 0 || index < 0 || index >= n * engine.getNbOptimizationProfiles()) return found;
  found.profile = index / n;
  found.tensor = engine.getIOTensorName(index % n);
  return found;
}

std::string bindingName(const nvinfer1::ICudaEngine&, const Binding& binding) {
  if (!binding.tensor) return "";
  const std::string name = binding.tensor;
  return binding.profile == 0 ? name : name + " [profile " + std::to_string(binding.profile) + "]";
}

bool bindingIsInput(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  return binding.tensor && engine.getTensorIOMode(binding.tensor) == nvinfer1::TensorIOMode::kINPUT;
}

nvinfer1::DataType bindingDataType(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  return binding.tensor ? engine.getTensorDataType(binding.tensor) : nvinfer1::DataType::kFLOAT;
}

Extents bindingDimensions(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  return binding.tensor ? toExtents(engine.getTensorShape(binding.tensor)) : kUnknown;
}

Layout bindingLayout(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  Layout layout;
  if (!binding.tensor) return layout;
  layout.on_host = engine.getTensorLocation(binding.tensor) == nvinfer1::TensorLocation::kHOST;
  layout.format = engine.getTensorFormat(binding.tensor, binding.profile);
  return layout;
}

Extents profileDimensions(const nvinfer1::ICudaEngine& engine, const Binding& binding, int profile,
                          nvinfer1::OptProfileSelector point) {
  return binding.tensor ? toExtents(engine.getProfileShape(binding.tensor, profile, point)) : kUnknown;
}

// A switch makes TensorRT update its resources on the next enqueue and may drop the shapes and
// addresses set so far, so the context switches only when the call's profile differs from its own
// (a new context is on profile 0). The switch goes on the stream the calls enqueue on, so whatever
// work TensorRT queues for it comes before theirs.
bool selectProfile(nvinfer1::IExecutionContext& context, int profile, cudaStream_t stream) {
  if (context.getOptimizationProfile() == profile) return true;
  return context.setOptimizationProfileAsync(profile, stream);
}

bool setInputDimensions(nvinfer1::IExecutionContext& context, const Binding& binding, const Extents& dims) {
  return binding.tensor && context.setInputShape(binding.tensor, toDims(dims));
}

// TensorRT's own documentation says allInputDimensionsSpecified does not follow setInputShape and
// points to inferShapes, which answers the number of inputs still without a shape (or -1).
bool allInputDimensionsSpecified(nvinfer1::IExecutionContext& context) {
  return context.inferShapes(0, nullptr) == 0;
}

Extents resolvedDimensions(const nvinfer1::IExecutionContext& context, const Binding& binding) {
  return binding.tensor ? toExtents(context.getTensorShape(binding.tensor)) : kUnknown;
}

bool bindAddress(nvinfer1::IExecutionContext& context, const Binding& binding, void* address) {
  return binding.tensor && context.setTensorAddress(binding.tensor, address);
}

bool enqueue(nvinfer1::IExecutionContext& context, void**, cudaStream_t stream) {
  return context.enqueueV3(stream);
}

bool servesValueDependentShapes() { return true; }

const char* aliasedInput(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
#if NV_TENSORRT_MAJOR >= 11
  return binding.tensor ? engine.getAliasedInputTensor(binding.tensor) : nullptr;
#else
  (void)engine, (void)binding;
  return nullptr;
#endif
}

// TensorRT's allocator interface over the library's sink. TensorRT's alignment is at most cudaMalloc's
// 256 bytes for every output address it documents, so the sink's memory serves whatever it asks.
struct OutputAllocator final : nvinfer1::IOutputAllocator {
  explicit OutputAllocator(OutputSink& target) : sink(target) {}
  void* reallocateOutputAsync(char const*, void*, uint64_t size, uint64_t alignment,
                              cudaStream_t stream) noexcept override {
    return alignment > 256 ? nullptr : sink.reserve(size, stream);
  }
  void notifyShape(char const*, nvinfer1::Dims const& dims) noexcept override { sink.shape(toExtents(dims)); }
  OutputSink& sink;
};

void OutputAllocatorRelease::operator()(OutputAllocator* allocator) const { delete allocator; }

OutputAllocatorPtr makeOutputAllocator(OutputSink& sink) {
  return OutputAllocatorPtr(new OutputAllocator(sink));
}

bool bindOutputAllocator(nvinfer1::IExecutionContext& context, const Binding& binding,
                         OutputAllocator* allocator) {
  return binding.tensor && context.setOutputAllocator(binding.tensor, allocator);
}

int64_t maxOutputBytes(const nvinfer1::IExecutionContext& context, const Binding& binding) {
  return binding.tensor ? context.getMaxOutputSize(binding.tensor) : -1;
}

// The 64-bit values of setShapeValuesV2; an engine whose profile was given 32-bit values (10 only, where
// setShapeValues still exists) answers them through the older call.
bool profileTensorValues(const nvinfer1::ICudaEngine& engine, const Binding& binding, int profile,
                         nvinfer1::OptProfileSelector point, int64_t* values, int count) {
  if (!binding.tensor) return false;
  if (const int64_t* wide = engine.getProfileTensorValuesV2(binding.tensor, profile, point)) {
    for (int k = 0; k < count; ++k) values[k] = wide[k];
    return true;
  }
#if NV_TENSORRT_MAJOR == 10
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (const int32_t* narrow = engine.getProfileTensorValues(binding.tensor, profile, point)) {
    for (int k = 0; k < count; ++k) values[k] = narrow[k];
    return true;
  }
#pragma GCC diagnostic pop
#endif
  return false;
}

}  // namespace trt_binding
