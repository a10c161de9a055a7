// The device memory of an engine: its weights, held from deserialization to release, and the
// activation memory each execution context holds.
#include <algorithm>
#include <string>

#include "engine.h"
#include "logging.h"
#include "retired.h"
#include "test_control.h"

namespace trt_standin {
namespace {

constexpr std::size_t kActivationAlignment = 256;

std::size_t align_activation(std::size_t n) {
  return (n + kActivationAlignment - 1) / kActivationAlignment * kActivationAlignment;
}

// The float32 weights and biases of the layers, as the engine stores them.
std::size_t weight_bytes(const Network& net) {
  std::size_t values = 0;
  for (const Layer& layer : net.layers) values += layer.weights.size() + layer.bias.size();
  return values * sizeof(float);
}

}  // namespace

std::vector<std::size_t> activation_bytes_per_profile(const Graph& graph) {
  std::vector<bool> between_layers(graph.tensor_names.size(), true);
  for (int i = 0; i < graph.input_count(); ++i) between_layers[i] = false;
  for (int t : graph.output_tensors) between_layers[t] = false;

  std::vector<std::size_t> per_profile;
  for (const Profile& profile : graph.network.profiles) {
    std::vector<Shape> largest;
    for (const InputRange& range : profile.inputs) largest.push_back(range.max);
    std::vector<Shape> shapes;
    std::string why;
    // The engine's checks inferred these shapes already; they cannot fail here.
    if (!infer_shapes(graph, largest, &shapes, &why)) shapes.assign(graph.tensor_names.size(), Shape{0});
    std::size_t bytes = 0;
    for (std::size_t t = 0; t < shapes.size(); ++t) {
      if (!between_layers[t]) continue;
      bytes += align_activation(tensor_bytes(graph.tensor_types[t], volume(shapes[t])));
    }
    per_profile.push_back(bytes);
  }
  return per_profile;
}

bool Engine::allocate_weights(std::string* why) {
  retired::sweep();  // what released objects kept may be free by now
  const std::size_t bytes = weight_bytes(graph_->network);
  if (weights_->allocate(bytes, why)) return true;
  *why = "cannot allocate " + std::to_string(bytes) + " bytes of device memory for the weights: " + *why;
  return false;
}

std::size_t Engine::context_memory_bytes() const {
  return activation_bytes_.empty() ? 0
                                   : *std::max_element(activation_bytes_.begin(), activation_bytes_.end());
}

void Engine::retire_if_work_pending() noexcept {
  const long queued = pending_->outstanding();
  if (queued > 0) {
    // Undefined on the real runtime; here the release is reported and the weights stay until the work
    // that may use them has run.
    control::count("releases_with_queued_work");
    try {
      report(logger_, Severity::kERROR,
             "ICudaEngine released while " + std::to_string(queued) +
                 " item(s) of work its execution contexts queued on a stream have not run: synchronise the "
                 "stream before releasing the engine");
    } catch (const std::bad_alloc&) {
    }
    retired::keep(pending_, std::move(weights_));
  }
  retired::sweep();
}

#if NV_TENSORRT_MAJOR >= 10

int64_t Engine::getDeviceMemorySizeV2() const noexcept {
  return static_cast<int64_t>(context_memory_bytes());
}

// Out of range the V2 query answers -1, which the size_t of the deprecated getDeviceMemorySizeForProfile
// turns into SIZE_MAX.
int64_t Engine::getDeviceMemorySizeForProfileV2(int32_t profileIndex) const noexcept {
  if (profileIndex < 0 || profileIndex >= getNbOptimizationProfiles()) return -1;
  return static_cast<int64_t>(activation_bytes_[profileIndex]);
}

#else

std::size_t Engine::getDeviceMemorySize() const noexcept { return context_memory_bytes(); }

#endif

}  // namespace trt_standin
