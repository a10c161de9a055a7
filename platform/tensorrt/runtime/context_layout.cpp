// Strides of an execution context's I/O tensors in their formats, for the shapes set so far.
#include <type_traits>

#include "context.h"
#include "dims.h"
#include "engine.h"
#include "layout.h"

namespace trt_standin {
namespace {

// In elements of the format (vectors of its width), per axis of dims; an extent still unknown (-1)
// counts as 0, as for the dense strides of kLINEAR.
nvinfer1::Dims layout_strides(TensorFormat format, const nvinfer1::Dims& dims) {
  if (dims.nbDims < 0) return invalid_dims();
  Shape shape;
  for (int32_t i = 0; i < dims.nbDims; ++i) shape.push_back(static_cast<int32_t>(dims.d[i]));
  const std::vector<int64_t> steps = element_strides(format, shape);
  nvinfer1::Dims strides{};
  strides.nbDims = dims.nbDims;
  for (int32_t i = 0; i < dims.nbDims; ++i) {
    strides.d[i] = static_cast<std::remove_reference_t<decltype(strides.d[i])>>(steps[i]);
  }
  return strides;
}

}  // namespace

#if NV_TENSORRT_MAJOR >= 10
nvinfer1::Dims ExecutionContext::getTensorStrides(const char* tensorName) const noexcept {
  const int index = engine_.io_index(tensorName);
  if (index < 0) return invalid_dims();
  return layout_strides(graph_->io_format(index, profile_), getTensorShape(tensorName));
}
#else
nvinfer1::Dims ExecutionContext::getStrides(int32_t bindingIndex) const noexcept {
  if (engine_.tensor_of_binding(bindingIndex) < 0) return invalid_dims();
  const int per_profile = graph_->bindings_per_profile();
  return layout_strides(graph_->io_format(bindingIndex % per_profile, bindingIndex / per_profile),
                        getBindingDimensions(bindingIndex));
}
#endif

}  // namespace trt_standin
