// The part of the TensorRT seam that reads the same on every generation: what it says about layouts and
// sizes, once for both interfaces of the library.
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

}  // namespace trt_binding
