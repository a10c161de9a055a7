// Shape bindings of the binding-index interface (TensorRT 7.x and 8.x): the values of a shape tensor
// are given to the context with setInputShapeBinding, not read from the bindings array.
#include "context.h"
#include "dims.h"

#if NV_TENSORRT_MAJOR < 10

#include <string>

#include "engine.h"
#include "logging.h"

namespace trt_standin {
int ExecutionContext::input_slot(int32_t bindingIndex) const {
  if (profile_ < 0) return -1;
  const int slot = bindingIndex - profile_ * graph_->bindings_per_profile();
  return slot >= 0 && slot < graph_->input_count() ? slot : -1;
}

bool ExecutionContext::setInputShapeBinding(int32_t bindingIndex, const int32_t* data) noexcept {
  const std::string where = "setInputShapeBinding: binding " + std::to_string(bindingIndex);
  if (profile_ < 0) {
    report(logger_, Severity::kERROR, where + ": no optimization profile is selected");
    return false;
  }
  const int slot = input_slot(bindingIndex);
  if (slot < 0 || graph_->network.inputs[slot].location != TensorLocation::kHost) {
    report(logger_, Severity::kERROR,
           where + " is not an input shape binding of the selected optimization profile " +
               std::to_string(profile_));
    return false;
  }
  if (data == nullptr) {
    report(logger_, Severity::kERROR, where + ": the values are null");
    return false;
  }
  try {
    const std::vector<int64_t> values(data, data + volume(graph_->network.inputs[slot].dims));
    const InputRange& range = graph_->network.profiles[profile_].inputs[slot];
    for (std::size_t i = 0; i < values.size() && range.has_values(); ++i) {
      if (values[i] < range.values_min[i] || values[i] > range.values_max[i]) {
        report(logger_, Severity::kERROR,
               where + ": the values " + values_text(values) +
                   " are outside the optimization profile's range " + values_text(range.values_min) + " to " +
                   values_text(range.values_max));
        return false;
      }
    }
    binding_values_[slot] = values;
  } catch (const std::bad_alloc&) {
    report(logger_, Severity::kERROR, where + ": out of host memory");
    return false;
  }
  capture_blocked_ =
      true;  // "the first enqueueV2() call after a setInputShapeBinding() call" is not captured
  return true;
}

bool ExecutionContext::getShapeBinding(int32_t bindingIndex, int32_t* data) const noexcept {
  const int slot = input_slot(bindingIndex);
  if (slot < 0 || data == nullptr || !binding_values_[slot]) return false;
  for (std::size_t i = 0; i < binding_values_[slot]->size(); ++i)
    data[i] = static_cast<int32_t>((*binding_values_[slot])[i]);
  return true;
}

// The shape bindings whose values steer shapes: those with values in the profiles.
bool ExecutionContext::allInputShapesSpecified() const noexcept {
  if (profile_ < 0) return false;
  for (int slot = 0; slot < graph_->input_count(); ++slot) {
    if (graph_->input_has_values(slot) && !binding_values_[slot]) return false;
  }
  return true;
}

bool ExecutionContext::bound_shape_values(std::vector<std::vector<int64_t>>* values, std::string* why) const {
  values->assign(graph_->input_count(), {});
  for (int slot = 0; slot < graph_->input_count(); ++slot) {
    if (!graph_->input_has_values(slot)) continue;
    if (!binding_values_[slot]) {
      const int binding = profile_ * graph_->bindings_per_profile() + slot;
      *why = "the values of shape binding " + std::to_string(binding) + " (" +
             engine_.getBindingName(binding) + ") are missing: set them with setInputShapeBinding";
      return false;
    }
    (*values)[slot] = *binding_values_[slot];
  }
  return true;
}

}  // namespace trt_standin

#endif  // NV_TENSORRT_MAJOR < 10
