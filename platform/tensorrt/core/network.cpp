#include "network.h"

namespace trt_standin {
namespace {

constexpr const char* kLayerOpNames[kLayerOpCount] = {
    "add",    "sub",      "mul",    "max",           "relu",    "scale",         "dense",
    "conv1d", "identity", "plugin", "keep_positive", "reshape", "scale_in_place"};

}  // namespace

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
    case LayerOp::kReshape:
      return 2;
    default:
      return 1;
  }
}

}  // namespace trt_standin
