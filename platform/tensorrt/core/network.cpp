#include "network.h"

namespace trt_standin {
namespace {

constexpr const char* kElementTypeNames[kElementTypeCount] = {"float", "half", "int8", "int32", "bool"};
constexpr std::size_t kElementSizes[kElementTypeCount] = {4, 2, 1, 4, 1};
constexpr const char* kLayerOpNames[kLayerOpCount] = {"add",   "sub",   "mul",    "max",     "relu",
                                                      "scale", "dense", "conv1d", "identity"};

}  // namespace

std::size_t element_size(ElementType type) { return kElementSizes[static_cast<int>(type)]; }

const char* element_type_name(ElementType type) { return kElementTypeNames[static_cast<int>(type)]; }

bool element_type_from_name(const std::string& name, ElementType* type) {
  for (int i = 0; i < kElementTypeCount; ++i) {
    if (name == kElementTypeNames[i]) {
      *type = static_cast<ElementType>(i);
      return true;
    }
  }
  return false;
}

const char* layer_op_name(LayerOp op) { return kLayerOpNames[static_cast<int>(op)]; }

bool layer_op_from_name(const std::string& name, LayerOp* op) {
  for (int i = 0; i < kLayerOpCount; ++i) {
    if (name == kLayerOpNames[i]) {
      *op = static_cast<LayerOp>(i);
      return true;
    }
  }
  return false;
}

int layer_op_arity(LayerOp op) {
  switch (op) {
    case LayerOp::kAdd:
    case LayerOp::kSub:
    case LayerOp::kMul:
    case LayerOp::kMax:
      return 2;
    default:
      return 1;
  }
}

}  // namespace trt_standin
