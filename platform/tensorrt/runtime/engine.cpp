#include "engine.h"

#include "context.h"
#include "dims.h"
#include "logging.h"
#include "test_control.h"

namespace trt_standin {

Engine::Engine(std::shared_ptr<const Graph> graph, nvinfer1::ILogger* logger,
               std::shared_ptr<RuntimeLink> runtime)
    : graph_(std::move(graph)), logger_(logger), runtime_(std::move(runtime)) {
  const Network& net = graph_->network;
  // From 10.x one name per I/O tensor; before, one block of names per profile.
  const std::size_t blocks = NV_TENSORRT_MAJOR >= 10 ? 1 : net.profiles.size();
  for (std::size_t p = 0; p < blocks; ++p) {
    const std::string suffix = p == 0 ? "" : " [profile " + std::to_string(p) + "]";
    for (const TensorDesc& t : net.inputs) binding_names_.push_back(t.name + suffix);
    for (const TensorDesc& t : net.outputs) binding_names_.push_back(t.name + suffix);
  }
  activation_bytes_ = activation_bytes_per_profile(*graph_);
  for (const Profile& profile : net.profiles) {
    std::vector<std::vector<std::vector<int32_t>>> per_input;
    for (const InputRange& range : profile.inputs) {
      // Shape tensor values that vary make the shapes dynamic too.
      dynamic_shapes_ = dynamic_shapes_ || range.min != range.max || range.values_min != range.values_max;
      std::vector<std::vector<int32_t>> narrow;
      for (const std::vector<int64_t>* v : {&range.values_min, &range.values_opt, &range.values_max})
        narrow.emplace_back(v->begin(), v->end());
      per_input.push_back(std::move(narrow));
    }
    values32_.push_back(std::move(per_input));
  }
  profile_uses_ = std::make_shared<ProfileUses>(net.profiles.size());
  ++runtime_->live_engines;
  control::count("live_engines", 1);
}

Engine::~Engine() {
  retire_if_work_pending();
  --runtime_->live_engines;
  control::count("live_engines", -1);
}

bool Engine::has_profile_values(int index, int32_t profileIndex) const {
  return index >= 0 && index < graph_->input_count() && profileIndex >= 0 &&
         profileIndex < getNbOptimizationProfiles() && graph_->input_has_values(index);
}

bool Engine::isRefittable() const noexcept { return graph_->network.refittable; }

const char* Engine::getName() const noexcept { return graph_->network.name.c_str(); }

int32_t Engine::getNbOptimizationProfiles() const noexcept {
  return static_cast<int32_t>(graph_->network.profiles.size());
}

#if NV_TENSORRT_MAJOR < 10

int32_t Engine::getNbBindings() const noexcept { return static_cast<int32_t>(binding_names_.size()); }

int32_t Engine::getBindingIndex(const char* name) const noexcept {
  if (name == nullptr) return -1;
  for (std::size_t b = 0; b < binding_names_.size(); ++b) {
    if (binding_names_[b] == name) return static_cast<int32_t>(b);
  }
  return -1;
}

const char* Engine::getBindingName(int32_t bindingIndex) const noexcept {
  return in_range(bindingIndex) ? binding_names_[bindingIndex].c_str() : nullptr;
}

bool Engine::bindingIsInput(int32_t bindingIndex) const noexcept {
  return in_range(bindingIndex) && bindingIndex % graph_->bindings_per_profile() < graph_->input_count();
}

nvinfer1::Dims Engine::getBindingDimensions(int32_t bindingIndex) const noexcept {
  if (!in_range(bindingIndex)) return nvinfer1::Dims{};
  const int per_profile = graph_->bindings_per_profile();
  return to_dims(graph_->profile_dims[bindingIndex / per_profile][bindingIndex % per_profile]);
}

nvinfer1::DataType Engine::getBindingDataType(int32_t bindingIndex) const noexcept {
  const int tensor = tensor_of_binding(bindingIndex);
  if (tensor < 0) return nvinfer1::DataType::kFLOAT;
  return static_cast<nvinfer1::DataType>(graph_->tensor_types[tensor]);
}

int32_t Engine::getMaxBatchSize() const noexcept { return graph_->network.max_batch_size; }

nvinfer1::IExecutionContext* Engine::createExecutionContext() noexcept {
  if (control::call_fails("createExecutionContext")) return nullptr;
  std::lock_guard<std::mutex> lock(creation_mutex_);
  // Only an engine's first context starts with profile 0 selected.
  const int32_t initial_profile = context_created_ ? -1 : 0;
  std::unique_ptr<ExecutionContext> context =
      ExecutionContext::create(*this, graph_, logger_, initial_profile);
  if (!context) return nullptr;
  context_created_ = true;
  return context.release();
}

nvinfer1::Dims Engine::getProfileDimensions(int32_t bindingIndex, int32_t profileIndex,
                                            nvinfer1::OptProfileSelector select) const noexcept {
  const int per_profile = graph_->bindings_per_profile();
  if (profileIndex < 0 || profileIndex >= getNbOptimizationProfiles() || !in_range(bindingIndex)) {
    return invalid_dims();
  }
  // Either the binding of that profile's block or its profile-0 counterpart.
  if (bindingIndex >= per_profile && bindingIndex / per_profile != profileIndex) return invalid_dims();
  const int slot = bindingIndex % per_profile;
  if (slot >= graph_->input_count()) return invalid_dims();
  return profile_extent(graph_->network.profiles[profileIndex].inputs[slot], select);
}

// The binding of the profile's block or its profile-0 counterpart, as for getProfileDimensions.
const int32_t* Engine::getProfileShapeValues(int32_t profileIndex, int32_t inputIndex,
                                             nvinfer1::OptProfileSelector select) const noexcept {
  const int per_profile = graph_->bindings_per_profile();
  if (!in_range(inputIndex) || (inputIndex >= per_profile && inputIndex / per_profile != profileIndex)) {
    return nullptr;
  }
  const int slot = inputIndex % per_profile;
  const int selector = static_cast<int>(select);
  if (!has_profile_values(slot, profileIndex) || selector < 0 || selector > 2) return nullptr;
  return values32_[profileIndex][slot][selector].data();
}

int Engine::tensor_of_binding(int32_t bindingIndex) const {
  if (!in_range(bindingIndex)) return -1;
  const int slot = bindingIndex % graph_->bindings_per_profile();
  return slot < graph_->input_count() ? slot : graph_->output_tensors[slot - graph_->input_count()];
}

#endif  // NV_TENSORRT_MAJOR < 10

}  // namespace trt_standin
