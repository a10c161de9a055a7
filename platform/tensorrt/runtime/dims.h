// Conversions between the core's shapes and nvinfer1::Dims, and the per-major binding array type.
#ifndef TRT_STANDIN_RUNTIME_DIMS_H_
#define TRT_STANDIN_RUNTIME_DIMS_H_

#include <NvInferRuntime.h>

#include <cstdint>
#include <string>
#include <vector>

#include "network.h"

namespace trt_standin {

#if NV_TENSORRT_MAJOR >= 8
using BindingArray = void* const*;
#else
using BindingArray = void**;
#endif

inline nvinfer1::Dims to_dims(const Shape& shape) {
  nvinfer1::Dims d{};
  d.nbDims = static_cast<int32_t>(shape.size());
  for (std::size_t i = 0; i < shape.size(); ++i) d.d[i] = shape[i];
  return d;
}

// What the runtime answers for a query it cannot satisfy: rank -1, no extents.
inline nvinfer1::Dims invalid_dims() {
  nvinfer1::Dims d{};
  d.nbDims = -1;
  return d;
}

// One of an input's profile extents, as getProfileDimensions / getProfileShape answer it.
inline nvinfer1::Dims profile_extent(const InputRange& range, nvinfer1::OptProfileSelector select) {
  switch (select) {
    case nvinfer1::OptProfileSelector::kMIN:
      return to_dims(range.min);
    case nvinfer1::OptProfileSelector::kOPT:
      return to_dims(range.opt);
    case nvinfer1::OptProfileSelector::kMAX:
      return to_dims(range.max);
  }
  return invalid_dims();
}

// Values as the log lines print them: [2, 3].
inline std::string values_text(const std::vector<int64_t>& values) {
  std::string text = "[";
  for (std::size_t i = 0; i < values.size(); ++i) text += (i ? ", " : "") + std::to_string(values[i]);
  return text + "]";
}

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_DIMS_H_
