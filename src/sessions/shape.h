// Shapes as the C interface carries them (inferlet_shape) and as the TensorRT seam does (Extents), and
// how messages write them: "[2, 340]".
#ifndef INFERLET_SESSIONS_SHAPE_H_
#define INFERLET_SESSIONS_SHAPE_H_

#include <string>

#include "inferlet_sessions.h"
#include "trt_binding.h"

namespace sessions {

// rank must be in 0..INFERLET_MAX_DIMS.
trt_binding::Extents toExtents(const inferlet_shape& shape);
inferlet_shape toShape(const trt_binding::Extents& extents);

bool sameExtents(const trt_binding::Extents& a, const trt_binding::Extents& b);

std::string shapeText(const trt_binding::Extents& extents);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_SHAPE_H_
