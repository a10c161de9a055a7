// The part of the TensorRT seam that reads the same on every generation: what it says about layouts and
// sizes, and the sequence that resolves a call's shapes, once for both interfaces of the library.
#include <limits>

#include "trt_binding.h"

namespace trt_binding {

std::string layoutRefusal(const Layout& layout) {
  if (!layout.on_host && layout.format == nvinfer1::TensorFormat::kLINEAR) return "";
  const std::string where = layout.on_host ? "host memory" : "format " + formatName(layout.format);
  return "is in " + where + ", not a dense row-major tensor in device memory";
}

int64_t extentsBytes(const Extents& dims, int64_t element_size, int64_t limit) {
  constexpr int64_t kUnbounded = std::numeric_limits<int64_t>::max();
  int64_t bytes = element_size;
  for (int i = 0; i < dims.nbDims && i < 8 && bytes <= limit; ++i) {
    const int64_t extent = dims.d[i];
    if (extent < 0 || (extent > 0 && bytes > kUnbounded / extent)) {
      bytes = kUnbounded;
    } else {
      bytes *= extent;
    }
  }
  return bytes;
}

namespace {

bool known(const Extents& dims) {
  if (dims.nbDims < 0 || dims.nbDims > 8) return false;
  for (int k = 0; k < dims.nbDims; ++k) {
    if (dims.d[k] < 0) return false;
  }
  return true;
}

}  // namespace

ShapeResolution resolveShapes(nvinfer1::IExecutionContext& context, TensorShape* tensors, int count,
                              ReadBack read_back) {
  ShapeResolution found;
  for (int t = 0; t < count; ++t) {
    if (tensors[t].is_input && !setInputDimensions(context, tensors[t].binding, tensors[t].dims)) {
      return {ShapeResolution::kInputRefused, t};
    }
  }
  if (!allInputDimensionsSpecified(context)) return {ShapeResolution::kInputsIncomplete, -1};
  for (int t = 0; t < count; ++t) {
    TensorShape& tensor = tensors[t];
    if (tensor.is_input && read_back == ReadBack::kOutputs) continue;
    tensor.dims = resolvedDimensions(context, tensor.binding);
    if (found.outcome == ShapeResolution::kResolved && !known(tensor.dims)) {
      found = {ShapeResolution::kUnresolved, t};
    }
  }
  return found;
}

}  // namespace trt_binding
