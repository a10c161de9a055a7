// Strides of an execution context's I/O tensors for the shapes set so far.
#include <type_traits>

#include "context.h"
#include "dims.h"
#include "engine.h"

namespace trt_standin {
namespace {

// Placeholder until formats exist: dense row-major strides of dims.
nvinfer1::Dims dense_strides(const nvinfer1::Dims& dims) {
  if (dims.nbDims < 0) return invalid_dims();
  nvinfer1::Dims strides{};
  strides.nbDims = dims.nbDims;
  int64_t step = 1;
  for (int32_t i = dims.nbDims - 1; i >= 0; --i) {
    strides.d[i] = static_cast<std::remove_reference_t<decltype(strides.d[i])>>(step);
    step *= dims.d[i] < 0 ? 0 : dims.d[i];
  }
  return strides;
}

}  // namespace

#if NV_TENSORRT_MAJOR >= 10
nvinfer1::Dims ExecutionContext::getTensorStrides(const char* tensorName) const noexcept {
  return dense_strides(getTensorShape(tensorName));
}
#else
nvinfer1::Dims ExecutionContext::getStrides(int32_t bindingIndex) const noexcept {
  return dense_strides(getBindingDimensions(bindingIndex));
}
#endif

}  // namespace trt_standin
