// The named-tensor interface of IExecutionContext (TensorRT 10.x and later): profile switches on a
// stream, input shapes and tensor addresses by name, enqueueV3.
#include "context.h"

#if NV_TENSORRT_MAJOR >= 10

#include <cstdint>
#include <sstream>
#include <string>

#include "engine.h"
#include "logging.h"
#include "test_control.h"

namespace trt_standin {
namespace {

constexpr uintptr_t kAddressAlignment = 256;

std::string dims_text(const nvinfer1::Dims& dims) {
  std::string text = "[";
  for (int32_t i = 0; i < dims.nbDims && i < nvinfer1::Dims::MAX_DIMS; ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(dims.d[i]);
  }
  return text + "]";
}

// The stream work of setOptimizationProfileAsync: the profile's resources are in place from here on.
void CUDART_CB apply_profile(void* user_data) {
  const auto* change = static_cast<const ExecutionContext::ProfileSwitch*>(user_data);
  change->applied_profile->store(change->profile);
  change->pending->ran();  // last: once told, a released context's state may go
}

}  // namespace

std::string quoted(const char* name) { return name == nullptr ? "(null)" : "'" + std::string(name) + "'"; }

std::string address_text(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

bool ExecutionContext::setOptimizationProfileAsync(int32_t profileIndex, cudaStream_t stream) noexcept {
  const std::string where = "setOptimizationProfileAsync: ";
  if (control::call_fails("setOptimizationProfileAsync")) {
    report(logger_, Severity::kERROR, where + "injected failure");
    return false;
  }
  try {
    const auto profiles = static_cast<int32_t>(graph_->network.profiles.size());
    if (profileIndex < 0 || profileIndex >= profiles) {
      report(logger_, Severity::kERROR,
             where + "profile index " + std::to_string(profileIndex) + " is out of range [0, " +
                 std::to_string(profiles) + ")");
      return false;
    }
    std::string why;
    if (!on_own_device(&why)) {
      report(logger_, Severity::kERROR, where + why);
      return false;
    }
    cudaStreamCaptureStatus capture = cudaStreamCaptureStatusNone;
    cudaError_t status = cudaStreamIsCapturing(stream, &capture);
    if (status != cudaSuccess) {
      report(logger_, Severity::kERROR, where + cuda_failure("cudaStreamIsCapturing", status));
      return false;
    }
    if (capture != cudaStreamCaptureStatusNone) {
      report(logger_, Severity::kERROR,
             where + "the stream is capturing: switch optimization profiles outside a CUDA graph capture");
      return false;
    }
    if (activation_ == Activation::kOnProfileChange && !reallocate_activation_memory(profileIndex, where)) {
      return false;
    }
    std::unique_ptr<ProfileSwitch>& change = switches_[profileIndex];
    if (!change) {
      change = std::make_unique<ProfileSwitch>(
          ProfileSwitch{&applied_profile_, profileIndex, work_->pending.get()});
    }
    work_->pending->queued();
    status = cudaLaunchHostFunc(stream, apply_profile, change.get());
    if (status != cudaSuccess) {
      work_->pending->withdrawn();
      report(logger_, Severity::kERROR, where + cuda_failure("cudaLaunchHostFunc", status));
      return false;
    }
    // Every switch, to the same profile too, starts over: shapes (but those the profile pins) and
    // addresses must be set again, and the next enqueue cannot be captured.
    profile_ = profileIndex;
    reset_input_dims();
    addresses_.assign(addresses_.size(), nullptr);
    allocators_.assign(allocators_.size(), nullptr);
    capture_blocked_ = true;
    return true;
  } catch (const std::bad_alloc&) {
    report(logger_, Severity::kERROR, where + "out of host memory");
    return false;
  }
}

bool ExecutionContext::setInputShape(const char* tensorName, const nvinfer1::Dims& dims) noexcept {
  const int index = engine_.io_index(tensorName);
  const int inputs = graph_->input_count();
  if (index >= 0 && index < inputs)
    control::record_dims(profile_ * graph_->bindings_per_profile() + index, dims);
  const std::string where = "setInputShape: tensor " + quoted(tensorName);
  if (control::call_fails("setInputShape")) {
    report(logger_, Severity::kERROR, where + ": injected failure");
    return false;
  }
  if (index < 0 || index >= inputs) {
    report(logger_, Severity::kERROR, where + " is not an input tensor of the engine");
    return false;
  }
  const InputRange& range = graph_->network.profiles[profile_].inputs[index];
  if (dims.nbDims != static_cast<int32_t>(range.min.size())) {
    report(logger_, Severity::kERROR,
           where + ": rank " + std::to_string(dims.nbDims) + " given, the input has rank " +
               std::to_string(range.min.size()));
    return false;
  }
  for (std::size_t i = 0; i < range.min.size(); ++i) {
    if (dims.d[i] < range.min[i] || dims.d[i] > range.max[i]) {
      report(logger_, Severity::kERROR,
             where + ": " + dims_text(dims) + " is outside the range of optimization profile " +
                 std::to_string(profile_) + ": " + shape_to_string(range.min) + " to " +
                 shape_to_string(range.max));
      return false;
    }
  }
  try {
    // In range of the profile, so every extent fits in 32 bits.
    Shape shape;
    for (int32_t i = 0; i < dims.nbDims; ++i) shape.push_back(static_cast<int32_t>(dims.d[i]));
    input_dims_[index] = std::move(shape);
  } catch (const std::bad_alloc&) {
    report(logger_, Severity::kERROR, where + ": out of host memory");
    return false;
  }
  capture_blocked_ = true;  // even when the extents equal the previous ones (the stricter reading)
  return true;
}

Shape ExecutionContext::shape_of_input(int slot) const {
  return input_dims_[slot] ? *input_dims_[slot] : graph_->profile_dims[profile_][slot];
}

nvinfer1::Dims ExecutionContext::getTensorShape(const char* tensorName) const noexcept {
  if (control::call_fails("getTensorShape")) return invalid_dims();
  const int index = engine_.io_index(tensorName);
  if (index < 0) return invalid_dims();
  try {
    if (index < graph_->input_count()) return to_dims(shape_of_input(index));
    // An extent that depends on the values computed stays -1, whatever the inputs.
    if (graph_->io_data_dependent(index)) return engine_.getTensorShape(tensorName);
    std::vector<Shape> shapes;
    std::string why;
    // As the real runtime: an output stays unresolved while a shape-inference input has no address.
    if (shape_values_missing() || !resolve_shapes(&shapes, &why)) return engine_.getTensorShape(tensorName);
    return to_dims(shapes[engine_.tensor_of_io(index)]);
  } catch (const std::bad_alloc&) {
    return invalid_dims();
  }
}

int32_t ExecutionContext::inferShapes(int32_t nbMaxNames, const char** tensorNames) noexcept {
  if (control::call_fails("inferShapes")) {
    report(logger_, Severity::kERROR, "inferShapes: injected failure");
    return -1;
  }
  if (nbMaxNames < 0 || (nbMaxNames > 0 && tensorNames == nullptr)) {
    report(logger_, Severity::kERROR,
           "inferShapes: nbMaxNames " + std::to_string(nbMaxNames) + " with a null name array");
    return -1;
  }
  // An input is unspecified without a shape, and a shape-inference (host) input also without an address.
  int32_t missing = 0;
  for (int slot = 0; slot < graph_->input_count(); ++slot) {
    if (input_dims_[slot] && !values_missing(slot)) continue;
    if (missing < nbMaxNames) tensorNames[missing] = graph_->network.inputs[slot].name.c_str();
    ++missing;
  }
  if (missing > 0) return missing;
  try {
    std::vector<Shape> shapes;
    std::string why;
    if (!resolve_shapes(&shapes, &why)) {
      report(logger_, Severity::kERROR, "inferShapes: " + why);
      return -1;
    }
  } catch (const std::bad_alloc&) {
    report(logger_, Severity::kERROR, "inferShapes: out of host memory");
    return -1;
  }
  return 0;
}

bool ExecutionContext::aliases_share_memory(std::string* why) const {
  const Graph& g = *graph_;
  for (int j = 0; j < g.output_count(); ++j) {
    const int input = g.aliased_input[j];
    const int io = g.input_count() + j;
    if (input < 0 || addresses_[io] == addresses_[input]) continue;
    *why = "output '" + std::string(engine_.getIOTensorName(io)) + "' must share the memory of input '" +
           g.network.inputs[input].name + "' (ICudaEngine::getAliasedInputTensor): its address " +
           address_text(addresses_[io]) + " is not the input's " + address_text(addresses_[input]);
    return false;
  }
  return true;
}

bool ExecutionContext::values_missing(int slot) const {
  return graph_->network.inputs[slot].location == TensorLocation::kHost && addresses_[slot] == nullptr;
}

bool ExecutionContext::shape_values_missing() const {
  for (int slot = 0; slot < graph_->input_count(); ++slot) {
    if (values_missing(slot)) return true;
  }
  return false;
}

#if NV_TENSORRT_MAJOR < 11
// Only shape tensors count here: true once every host input has an address.
bool ExecutionContext::allInputShapesSpecified() const noexcept { return !shape_values_missing(); }
#endif

bool ExecutionContext::set_address(const char* call, const char* tensorName, void* data,
                                   nvinfer1::TensorIOMode wanted) noexcept {
  const std::string where = std::string(call) + ": tensor " + quoted(tensorName);
  if (control::call_fails(call)) {
    report(logger_, Severity::kERROR, where + ": injected failure");
    return false;
  }
  const int index = engine_.io_index(tensorName);
  const bool is_input = index >= 0 && index < graph_->input_count();
  const bool fits = index >= 0 && (wanted == nvinfer1::TensorIOMode::kNONE ||
                                   (wanted == nvinfer1::TensorIOMode::kINPUT) == is_input);
  if (!fits) {
    const char* kind = wanted == nvinfer1::TensorIOMode::kINPUT    ? "an input"
                       : wanted == nvinfer1::TensorIOMode::kOUTPUT ? "an output"
                                                                   : "an input or output";
    report(logger_, Severity::kERROR, where + " is not " + kind + " tensor of the engine");
    return false;
  }
  if (reinterpret_cast<uintptr_t>(data) % kAddressAlignment != 0) {
    report(logger_, Severity::kERROR,
           where + ": address " + address_text(data) + " is not aligned to " +
               std::to_string(kAddressAlignment) + " bytes");
    return false;
  }
  addresses_[index] = data;
  return true;
}

bool ExecutionContext::setTensorAddress(const char* tensorName, void* data) noexcept {
  return set_address("setTensorAddress", tensorName, data, nvinfer1::TensorIOMode::kNONE);
}

bool ExecutionContext::setInputTensorAddress(const char* tensorName, const void* data) noexcept {
  // Inputs are only read; the address is kept with the others.
  return set_address("setInputTensorAddress", tensorName, const_cast<void*>(data),
                     nvinfer1::TensorIOMode::kINPUT);
}

bool ExecutionContext::setOutputTensorAddress(const char* tensorName, void* data) noexcept {
  return set_address("setOutputTensorAddress", tensorName, data, nvinfer1::TensorIOMode::kOUTPUT);
}

const void* ExecutionContext::getTensorAddress(const char* tensorName) const noexcept {
  const int index = engine_.io_index(tensorName);
  return index < 0 ? nullptr : addresses_[index];
}

void* ExecutionContext::getOutputTensorAddress(const char* tensorName) const noexcept {
  const int index = engine_.io_index(tensorName);
  return index < graph_->input_count() ? nullptr : addresses_[index];
}

// Input-consumed events are not modelled: the stand-in never records one, so it refuses to take one.
bool ExecutionContext::setInputConsumedEvent(cudaEvent_t event) noexcept {
  if (event == nullptr) return true;
  report(logger_, Severity::kERROR, "setInputConsumedEvent: input-consumed events are not supported");
  return false;
}

cudaEvent_t ExecutionContext::getInputConsumedEvent() const noexcept { return nullptr; }

bool ExecutionContext::tensor_addresses(std::vector<const void*>* inputs, std::vector<void*>* outputs,
                                        std::string* why) const {
  const Graph& g = *graph_;
  for (int i = 0; i < g.bindings_per_profile(); ++i) {
    // No exception for empty tensors: every input and output needs an address, or for an output an
    // allocator.
    const bool allocated = i >= g.input_count() && allocators_[i] != nullptr;
    if (addresses_[i] == nullptr && !allocated) {
      const std::string name = engine_.getIOTensorName(i);
      *why = g.io_data_dependent(i)
                 ? "tensor '" + name +
                       "' has neither an address nor an output allocator: its shape depends on the values "
                       "computed, set one with setTensorAddress or setOutputAllocator"
                 : "tensor '" + name + "' has no address: set every input and output with setTensorAddress";
      return false;
    }
    if (i < g.input_count()) {
      inputs->push_back(addresses_[i]);
    } else {
      outputs->push_back(addresses_[i]);
    }
  }
  return true;
}

bool ExecutionContext::enqueueV3(cudaStream_t stream) noexcept {
  if (control::call_fails("enqueueV3")) return fail_enqueue("injected failure");
  try {
    if (!engine_.runtime_alive("enqueueV3")) return false;
    std::string why;
    if (!on_own_device(&why)) return fail_enqueue(why);
    std::vector<Shape> shapes;
    if (!resolve_shapes(&shapes, &why)) return fail_enqueue(why);
    if (!user_memory_suits(&why)) return fail_enqueue(why);

    const Graph& g = *graph_;
    std::vector<const void*> inputs;
    std::vector<void*> outputs;
    if (!tensor_addresses(&inputs, &outputs, &why)) return fail_enqueue(why);
    if (!aliases_share_memory(&why)) return fail_enqueue(why);

    cudaStreamCaptureStatus capture = cudaStreamCaptureStatusNone;
    if (!capture_allowed(stream, &capture, &why)) return fail_enqueue(why);
    const bool captured = capture != cudaStreamCaptureStatusNone;
    if (captured && g.has_data_dependent_output()) {
      return fail_enqueue(
          "the network computes data-dependent shapes, which cannot be captured into a CUDA graph: enqueue "
          "it outside the capture");
    }
    std::vector<bool> deferred;
    if (!allocate_known_outputs(shapes, stream, &outputs, &deferred, &why)) return fail_enqueue(why);
    const std::vector<Shape> resolved = shapes;
    if (!queue_network(std::move(shapes), inputs, outputs, stream, captured, &why, &deferred)) {
      return fail_enqueue(why);
    }
    notify_known_outputs(resolved, deferred);
    if (!finish_data_dependent_outputs(deferred, stream, &why)) return fail_enqueue(why);
    // Recorded in the binding numbering of the 8.x interface: the selected profile's block is filled.
    const int per_profile = g.bindings_per_profile();
    std::vector<void*> bindings(static_cast<std::size_t>(per_profile) * g.network.profiles.size(), nullptr);
    std::copy(addresses_.begin(), addresses_.end(), bindings.begin() + profile_ * per_profile);
    control::record_bindings(bindings.data(), static_cast<int>(bindings.size()));
    if (capture == cudaStreamCaptureStatusNone) capture_blocked_ = false;
    return true;
  } catch (const std::bad_alloc&) {
    return fail_enqueue("out of host memory");
  }
}

}  // namespace trt_standin

#endif  // NV_TENSORRT_MAJOR >= 10
