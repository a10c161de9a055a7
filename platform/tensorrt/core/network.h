// The network an engine carries: tensors, optimization profiles and layers, as plain data.
// Shared by the builder (which fills it from JSON) and the runtime (which reads it from an engine).
#ifndef TRT_STANDIN_CORE_NETWORK_H_
#define TRT_STANDIN_CORE_NETWORK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "element_type.h"
#include "tensor_format.h"

namespace trt_standin {

// kKeepPositive: the elements of its input that are > 0, in order, as a 1-D tensor whose extent depends
// on the values (a data-dependent shape, TensorRT 10 and later). kReshape: its first input's elements
// in the extents its second input holds, a shape tensor (an input in host memory). kScaleInPlace:
// a * x + b written into its input's memory (an output aliased to an input, TensorRT 11 and later).
enum class LayerOp : uint8_t {
  kAdd,
  kSub,
  kMul,
  kMax,
  kRelu,
  kScale,
  kDense,
  kConv1d,
  kIdentity,
  kPlugin,
  kKeepPositive,
  kReshape,
  kScaleInPlace
};
constexpr int kLayerOpCount = 13;

const char* layer_op_name(LayerOp op);  // the JSON spelling: "add", "conv1d", ...
bool layer_op_from_name(const std::string& name, LayerOp* op);
int layer_op_arity(LayerOp op);  // number of input tensors

constexpr int kMaxRank = 8;
constexpr int kMaxProfiles = 64;
using Shape = std::vector<int32_t>;

struct TensorDesc {
  std::string name;
  ElementType type = ElementType::kFloat;
  Shape dims;                         // -1 where an optimization profile lets the extent vary
  std::vector<TensorFormat> formats;  // one per optimization profile
  TensorLocation location = TensorLocation::kDevice;
};

struct InputRange {
  Shape min, opt, max;
  // A shape tensor's values (one per element of its fixed dims) the profile allows; empty for other
  // inputs.
  std::vector<int64_t> values_min, values_opt, values_max;
  bool has_values() const { return !values_min.empty() || !values_opt.empty() || !values_max.empty(); }
};

// One range per network input, in input order.
struct Profile {
  std::vector<InputRange> inputs;
};

struct Layer {
  LayerOp op = LayerOp::kIdentity;
  std::vector<std::string> inputs;
  std::string output;
  float a = 1.0f;  // scale: a * x + b
  float b = 0.0f;
  int32_t units = 0;           // dense: output features
  std::vector<float> weights;  // dense: [in_features][units] row-major; conv1d: the taps
  std::vector<float> bias;     // dense: [units]; conv1d: empty or one value
  // plugin: the creator that implements the layer, as TensorRT identifies creators. The runtime finds
  // it in the plugin registry when it deserializes the engine and computes a * x + b with the values
  // of the creator's fields "scale" and "offset" (a and b stay 1 and 0 in the engine).
  std::string plugin_name, plugin_version, plugin_namespace;
};

struct Network {
  std::string name;
  int32_t max_batch_size = 1;
  bool refittable = false;
  // Built with kVERSION_COMPATIBLE (10 and later): the engine holds host code its runtime must allow.
  bool version_compatible = false;
  std::vector<TensorDesc> inputs;
  std::vector<TensorDesc> outputs;
  std::vector<Profile> profiles;
  std::vector<Layer> layers;
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_NETWORK_H_
