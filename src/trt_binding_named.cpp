// The named-tensor interface of TensorRT 10 and 11. The engine names each input and output tensor once;
// the library's bindings are those tensors once per profile (binding b = tensor b mod n of profile
// b / n), named as TensorRT 8 names them, " [profile k]" after the tensor's name for k >= 1. Shapes
// and addresses go by tensor name, the profile is selected on the calls' stream, and the enqueue
// takes only the stream.
#include "trt_binding.h"

namespace trt_binding {
namespace {

int tensorCount(const nvinfer1::ICudaEngine& engine) { return engine.getNbIOTensors(); }

// The tensor behind a binding, or null for an index outside every profile's block (TensorRT does not
// say what getIOTensorName answers out of range).
const char* tensorName(const nvinfer1::ICudaEngine& engine, int binding) {
  const int n = tensorCount(engine);
  if (n <= 0 || binding < 0 || binding >= n * engine.getNbOptimizationProfiles()) return nullptr;
  return engine.getIOTensorName(binding % n);
}

Extents toExtents(const nvinfer1::Dims& dims) {
  Extents extents;
  extents.nbDims = dims.nbDims;
  for (int i = 0; i < dims.nbDims && i < 8; ++i) extents.d[i] = dims.d[i];
  return extents;
}

constexpr Extents kUnknown{};  // nbDims -1: what TensorRT answers for a name it does not know

}  // namespace

// Kept: the caller releases it after the engine.
void settleRuntime(TrtUniquePtr<nvinfer1::IRuntime>&) {}

// Implicit batch is gone; 1 is what TensorRT 8 reported for every explicit-batch engine.
int maxBatchSize(const nvinfer1::ICudaEngine&) { return 1; }

int bindingCount(const nvinfer1::ICudaEngine& engine) {
  return tensorCount(engine) * engine.getNbOptimizationProfiles();
}

std::string bindingName(const nvinfer1::ICudaEngine& engine, int binding) {
  const char* name = tensorName(engine, binding);
  if (!name) return "";
  const int profile = binding / tensorCount(engine);
  return profile == 0 ? std::string(name) : std::string(name) + " [profile " + std::to_string(profile) + "]";
}

bool bindingIsInput(const nvinfer1::ICudaEngine& engine, int binding) {
  const char* name = tensorName(engine, binding);
  return name && engine.getTensorIOMode(name) == nvinfer1::TensorIOMode::kINPUT;
}

nvinfer1::DataType bindingDataType(const nvinfer1::ICudaEngine& engine, int binding) {
  const char* name = tensorName(engine, binding);
  return name ? engine.getTensorDataType(name) : nvinfer1::DataType::kFLOAT;
}

Extents bindingDimensions(const nvinfer1::ICudaEngine& engine, int binding) {
  const char* name = tensorName(engine, binding);
  return name ? toExtents(engine.getTensorShape(name)) : kUnknown;
}

Layout bindingLayout(const nvinfer1::ICudaEngine& engine, int binding) {
  Layout layout;
  const char* name = tensorName(engine, binding);
  if (!name) return layout;
  layout.on_host = engine.getTensorLocation(name) == nvinfer1::TensorLocation::kHOST;
  layout.format = engine.getTensorFormat(name, binding / tensorCount(engine));
  return layout;
}

// A switch makes TensorRT update its resources on the next enqueue and may drop the shapes and
// addresses set so far, so the context switches only when the call's profile differs from its own
// (a new context is on profile 0). The switch goes on the stream the calls enqueue on, so whatever
// work TensorRT queues for it comes before theirs.
bool selectProfile(nvinfer1::IExecutionContext& context, int profile, cudaStream_t stream) {
  if (context.getOptimizationProfile() == profile) return true;
  return context.setOptimizationProfileAsync(profile, stream);
}

bool setInputDimensions(nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine& engine,
                        int binding, const std::vector<int>& shape, int batch_size) {
  const char* name = tensorName(engine, binding);
  if (!name || shape.empty() || shape.size() > 8) return false;
  nvinfer1::Dims dims{};
  dims.nbDims = static_cast<int32_t>(shape.size());
  dims.d[0] = batch_size;
  for (size_t j = 1; j < shape.size(); ++j) dims.d[j] = shape[j];
  return context.setInputShape(name, dims);
}

// TensorRT's own documentation says allInputDimensionsSpecified does not follow setInputShape and
// points to inferShapes, which answers the number of inputs still without a shape (or -1).
bool allInputDimensionsSpecified(nvinfer1::IExecutionContext& context) {
  return context.inferShapes(0, nullptr) == 0;
}

Extents resolvedDimensions(const nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine& engine,
                           int binding) {
  const char* name = tensorName(engine, binding);
  return name ? toExtents(context.getTensorShape(name)) : kUnknown;
}

// Every tensor of the profile gets its address on every call: a profile switch may drop what was set.
int bindAddresses(nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine& engine, int first,
                  int count, void* const* bindings) {
  for (int b = first; b < first + count; ++b) {
    const char* name = tensorName(engine, b);
    if (!name || !context.setTensorAddress(name, bindings[b])) return b;
  }
  return -1;
}

bool enqueue(nvinfer1::IExecutionContext& context, void**, cudaStream_t stream) {
  return context.enqueueV3(stream);
}

}  // namespace trt_binding
