#include "shape.h"

namespace sessions {

std::string shapeText(const trt_binding::Extents& extents) {
  std::string text = "[";
  for (int i = 0; i < extents.nbDims && i < INFERLET_MAX_DIMS; ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(extents.d[i]);
  }
  return text + "]";
}

}  // namespace sessions
