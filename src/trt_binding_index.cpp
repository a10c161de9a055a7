// The binding-index interface of TensorRT 7 and 8: bindings are the engine's own, named per profile
// ("in0 [profile 1]"), dimensions go by binding index and the enqueue takes the whole binding array.
#include "trt_binding.h"

namespace trt_binding {
namespace {

// The record setBindingDimensions takes: Dims32 from TensorRT 8 on, Dims (with its unused per-extent
// type array) in TensorRT 7.
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

}  // namespace

void settleRuntime(TrtUniquePtr<nvinfer1::IRuntime>& runtime) { runtime.reset(); }

int maxBatchSize(const nvinfer1::ICudaEngine& engine) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return engine.getMaxBatchSize();
#pragma GCC diagnostic pop
}

int bindingCount(const nvinfer1::ICudaEngine& engine) { return engine.getNbBindings(); }

std::string bindingName(const nvinfer1::ICudaEngine& engine, int binding) {
  const char* name = engine.getBindingName(binding);
  return name ? name : "";
}

bool bindingIsInput(const nvinfer1::ICudaEngine& engine, int binding) {
  return engine.bindingIsInput(binding);
}

nvinfer1::DataType bindingDataType(const nvinfer1::ICudaEngine& engine, int binding) {
  return engine.getBindingDataType(binding);
}

Extents bindingDimensions(const nvinfer1::ICudaEngine& engine, int binding) {
  return toExtents(engine.getBindingDimensions(binding));
}

Layout bindingLayout(const nvinfer1::ICudaEngine& engine, int binding) {
  Layout layout;
  layout.on_host = engine.getLocation(binding) == nvinfer1::TensorLocation::kHOST;
  layout.format = engine.getBindingFormat(binding);
  return layout;
}

// TensorRT's result is not acted on here: a profile it refused shows in the dimensions it refuses next.
bool selectProfile(nvinfer1::IExecutionContext& context, int profile, cudaStream_t) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  context.setOptimizationProfile(profile);
#pragma GCC diagnostic pop
  return true;
}

bool setInputDimensions(nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine&, int binding,
                        const std::vector<int>& shape, int batch_size) {
  DimsRecord dims{};
  dims.nbDims = static_cast<int>(shape.size());
  dims.d[0] = batch_size;
  for (size_t j = 1; j < shape.size(); ++j) dims.d[j] = shape[j];
  return context.setBindingDimensions(binding, dims);
}

bool allInputDimensionsSpecified(nvinfer1::IExecutionContext& context) {
  return context.allInputDimensionsSpecified();
}

Extents resolvedDimensions(const nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine&,
                           int binding) {
  return toExtents(context.getBindingDimensions(binding));
}

int bindAddresses(nvinfer1::IExecutionContext&, const nvinfer1::ICudaEngine&, int, int, void* const*) {
  return -1;
}

bool enqueue(nvinfer1::IExecutionContext& context, void** bindings, cudaStream_t stream) {
  return context.enqueueV2(bindings, stream, nullptr);
}

}  // namespace trt_binding
