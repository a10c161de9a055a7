// Shape tensors whose values steer shapes (TensorRT 10.x and later): the values are read from the
// input's host address whenever shapes are resolved, so enqueueV3 reads them at enqueue time.
#include "context.h"
#include "dims.h"

#if NV_TENSORRT_MAJOR >= 10

#include <cstring>
#include <string>

namespace trt_standin {
namespace {

// count values of an int32 or int64 tensor in host memory.
std::vector<int64_t> host_values(const void* data, ElementType type, std::size_t count) {
  std::vector<int64_t> values(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (type == ElementType::kInt64) {
      std::memcpy(&values[i], static_cast<const int64_t*>(data) + i, sizeof(int64_t));
    } else {
      int32_t v = 0;
      std::memcpy(&v, static_cast<const int32_t*>(data) + i, sizeof v);
      values[i] = v;
    }
  }
  return values;
}

}  // namespace

bool ExecutionContext::read_shape_values(std::vector<std::vector<int64_t>>* values, std::string* why) const {
  const Graph& g = *graph_;
  values->assign(g.input_count(), {});
  for (int slot = 0; slot < g.input_count(); ++slot) {
    if (!g.input_has_values(slot)) continue;
    const TensorDesc& input = g.network.inputs[slot];
    if (addresses_[slot] == nullptr) {
      *why = "the values of shape tensor '" + input.name +
             "' are missing: set its address with setTensorAddress";
      return false;
    }
    std::vector<int64_t> read =
        host_values(addresses_[slot], input.type, static_cast<std::size_t>(volume(input.dims)));
    const InputRange& range = g.network.profiles[profile_].inputs[slot];
    for (std::size_t i = 0; i < read.size(); ++i) {
      if (read[i] < range.values_min[i] || read[i] > range.values_max[i]) {
        *why = "the values " + values_text(read) + " of shape tensor '" + input.name +
               "' are outside the range of optimization profile " + std::to_string(profile_) + ": " +
               values_text(range.values_min) + " to " + values_text(range.values_max);
        return false;
      }
    }
    (*values)[slot] = std::move(read);
  }
  return true;
}

}  // namespace trt_standin

#endif  // NV_TENSORRT_MAJOR >= 10
