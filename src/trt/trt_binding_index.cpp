// The binding-index interface of TensorRT 7 and 8: bindings are the engine's own, named per profile
// ("in0 [profile 1]"), dimensions go by binding number and the enqueue takes the whole binding array.
#include "trt_binding.h"

namespace trt_binding {
namespace {

// The record the dimension calls take and give: Dims32 from TensorRT 8 on, Dims (with its unused
// per-extent type array) in TensorRT 7.
#if NV_TENSORRT_MAJOR >= 8
using DimsRecord = nvinfer1::Dims32;
#else
using DimsRecord = nvinfer1::Dims;
#endif

Extents toExtents(const DimsRecord& dims) {
  Extents extents;
  extents.nbDims = dims.nbDims;
  for (int i = 0; i < dims.nbDims && i < 8; ++i) extents.d[i] = dims.d[i];
  return extents;
}

DimsRecord toDims(const Extents& extents) {
  DimsRecord dims{};
  dims.nbDims = extents.nbDims;
  for (int i = 0; i < extents.nbDims && i < 8; ++i) dims.d[i] = static_cast<int32_t>(extents.d[i]);
  return dims;
}

}  // namespace

void settleRuntime(TrtUniquePtr<nvinfer1::IRuntime>& runtime) { runtime.reset(); }

bool enginesMayHoldHostCode() { return false; }
void allowEngineHostCode(nvinfer1::IRuntime&) {}

int maxBatchSize(const nvinfer1::ICudaEngine& engine) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return engine.getMaxBatchSize();
#pragma GCC diagnostic pop
}

int bindingCount(const nvinfer1::ICudaEngine& engine) { return engine.getNbBindings(); }

int64_t contextMemory(const nvinfer1::ICudaEngine& engine) {
  return static_cast<int64_t>(engine.getDeviceMemorySize());
}

// 8.0's createExecutionContextWithoutDeviceMemory and setDeviceMemory take only getDeviceMemorySize,
// every profile's size: supplying it would save nothing.
bool contextMemoryPerProfile() { return false; }

int64_t profileContextMemory(const nvinfer1::ICudaEngine& engine, int) { return contextMemory(engine); }

nvinfer1::IExecutionContext* createContext(nvinfer1::ICudaEngine& engine, bool) {
  return engine.createExecutionContext();
}

void setContextMemory(nvinfer1::IExecutionContext&, void*, int64_t) {}

int bindingsPerProfile(const nvinfer1::ICudaEngine& engine) {
  const int profiles = engine.getNbOptimizationProfiles();
  return profiles > 0 ? engine.getNbBindings() / profiles : 0;
}

int bindingIndex(const nvinfer1::ICudaEngine& engine, int profile, int tensor) {
  return profile * bindingsPerProfile(engine) + tensor;
}

// The number is all these calls need.
Binding binding(const nvinfer1::ICudaEngine&, int index) {
  Binding found;
  found.index = index;
  return found;
}

std::string bindingName(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  const char* name = engine.getBindingName(binding.index);
  return name ? name : "";
}

bool bindingIsInput(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  return engine.bindingIsInput(binding.index);
}

nvinfer1::DataType bindingDataType(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  return engine.getBindingDataType(binding.index);
}

Extents bindingDimensions(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  return toExtents(engine.getBindingDimensions(binding.index));
}

Layout bindingLayout(const nvinfer1::ICudaEngine& engine, const Binding& binding) {
  Layout layout;
  layout.on_host = engine.getLocation(binding.index) == nvinfer1::TensorLocation::kHOST;
  layout.format = engine.getBindingFormat(binding.index);
  return layout;
}

Extents profileDimensions(const nvinfer1::ICudaEngine& engine, const Binding& binding, int profile,
                          nvinfer1::OptProfileSelector point) {
  return toExtents(engine.getProfileDimensions(binding.index, profile, point));
}

// TensorRT's result is not acted on here: a profile it refused shows in the dimensions it refuses next.
bool selectProfile(nvinfer1::IExecutionContext& context, int profile, cudaStream_t) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  context.setOptimizationProfile(profile);
#pragma GCC diagnostic pop
  return true;
}

bool setInputDimensions(nvinfer1::IExecutionContext& context, const Binding& binding, const Extents& dims) {
  return context.setBindingDimensions(binding.index, toDims(dims));
}

bool allInputDimensionsSpecified(nvinfer1::IExecutionContext& context) {
  return context.allInputDimensionsSpecified();
}

Extents resolvedDimensions(const nvinfer1::IExecutionContext& context, const Binding& binding) {
  return toExtents(context.getBindingDimensions(binding.index));
}

bool bindAddress(nvinfer1::IExecutionContext&, const Binding&, void*) { return true; }

bool enqueue(nvinfer1::IExecutionContext& context, void** bindings, cudaStream_t stream) {
  return context.enqueueV2(bindings, stream, nullptr);
}

// Neither data-dependent outputs nor shape tensors are served on these generations: a session refuses
// engines that have them before any of these is asked.
bool servesValueDependentShapes() { return false; }
const char* aliasedInput(const nvinfer1::ICudaEngine&, const Binding&) { return nullptr; }

struct OutputAllocator {};
void OutputAllocatorRelease::operator()(OutputAllocator* allocator) const { delete allocator; }
OutputAllocatorPtr makeOutputAllocator(OutputSink&) { return nullptr; }
bool bindOutputAllocator(nvinfer1::IExecutionContext&, const Binding&, OutputAllocator*) { return false; }
int64_t maxOutputBytes(const nvinfer1::IExecutionContext&, const Binding&) { return -1; }
bool profileTensorValues(const nvinfer1::ICudaEngine&, const Binding&, int, nvinfer1::OptProfileSelector,
                         int64_t*, int) {
  return false;
}

}  // namespace trt_binding
