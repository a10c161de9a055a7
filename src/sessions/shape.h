// Shapes as the C interface carries them (inferlet_shape) and as the TensorRT seam does (Extents), and
// how messages write them: "[2, 340]". The conversions and the comparison are inline: every call makes
// them for each of its tensors.
#ifndef INFERLET_SESSIONS_SHAPE_H_
#define INFERLET_SESSIONS_SHAPE_H_

#include <cstdint>
#include <limits>
#include <string>

#include "inferlet_sessions.h"
#include "trt_binding.h"

namespace sessions {

static_assert(INFERLET_MAX_DIMS == sizeof(trt_binding::Extents::d) / sizeof(trt_binding::Extents::d[0]),
              "a shape of the C interface holds every extent TensorRT may have");

// rank must be in 0..INFERLET_MAX_DIMS.
inline trt_binding::Extents toExtents(const inferlet_shape& shape) {
  trt_binding::Extents extents;
  extents.nbDims = shape.rank;
  for (int i = 0; i < shape.rank && i < INFERLET_MAX_DIMS; ++i) extents.d[i] = shape.dims[i];
  return extents;
}

inline inferlet_shape toShape(const trt_binding::Extents& extents) {
  inferlet_shape shape{};
  shape.rank = extents.nbDims;
  for (int i = 0; i < extents.nbDims && i < INFERLET_MAX_DIMS; ++i) shape.dims[i] = extents.d[i];
  return shape;
}

inline bool sameExtents(const trt_binding::Extents& a, const trt_binding::Extents& b) {
  if (a.nbDims != b.nbDims) return false;
  for (int i = 0; i < a.nbDims && i < INFERLET_MAX_DIMS; ++i) {
    if (a.d[i] != b.d[i]) return false;
  }
  return true;
}

std::string shapeText(const trt_binding::Extents& extents);

// The bytes a dense tensor of dims takes, elements of element_bits packed (two 4-bit elements a byte,
// the last byte of an odd count half used); INT64_MAX for an unknown extent or a size past it.
inline int64_t tensorBytes(const trt_binding::Extents& dims, int element_bits) {
  constexpr int64_t kUnbounded = std::numeric_limits<int64_t>::max();
  const int64_t elements = trt_binding::extentsBytes(dims, 1, kUnbounded);
  if (elements == kUnbounded) return kUnbounded;
  if (element_bits % 8 == 0) {
    const int64_t size = element_bits / 8;
    return size != 0 && elements > kUnbounded / size ? kUnbounded : elements * size;
  }
  return elements / 8 * element_bits + (elements % 8 * element_bits + 7) / 8;
}

}  // namespace sessions

#endif  // INFERLET_SESSIONS_SHAPE_H_
