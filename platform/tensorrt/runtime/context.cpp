#include "context.h"

#include <cuda_runtime_api.h>

#include <algorithm>
#include <string>

#include "engine.h"
#include "enqueue_scratch.h"
#include "layers.h"
#include "layout.h"
#include "logging.h"
#include "stale_replay.h"
#include "test_control.h"

namespace trt_standin {
namespace {

constexpr std::size_t kStagingAlignment = 256;

std::size_t align_up(std::size_t n) {
  return (n + kStagingAlignment - 1) / kStagingAlignment * kStagingAlignment;
}

#if NV_TENSORRT_MAJOR >= 10
constexpr const char* kEnqueueCall = "enqueueV3";
constexpr const char* kCaptureBlocked =
    "the first enqueueV3 after setOptimizationProfileAsync or setInputShape cannot be captured into a "
    "CUDA graph: enqueue once outside the capture first";
#else
constexpr const char* kEnqueueCall = "enqueueV2";
constexpr const char* kCaptureBlocked =
    "the first enqueue after setOptimizationProfile or setBindingDimensions cannot be captured into a "
    "CUDA graph: enqueue once outside the capture first";
#endif

// The network on the staged tensors: inputs in another layout are converted into the dense tensors the
// layers compute on, and outputs back into theirs.
void run_network(const ExecutionContext::Launch& launch) {
  const Graph& g = *launch.graph;
  const std::vector<void*>& dense = *launch.buffers;
  const std::vector<void*>& staged = *launch.staging;
  for (int i = 0; i < g.input_count(); ++i) {
    if (!g.io_needs_dense_copy(i)) continue;
    layout_to_dense(g.io_format(i, launch.layout_profile), launch.shapes[i], element_size(g.tensor_types[i]),
                    staged[i], dense[i]);
  }
  run_graph(g, launch.shapes, dense, launch.produced);
  for (int io = g.input_count(); io < g.bindings_per_profile(); ++io) {
    if (!g.io_needs_dense_copy(io)) continue;
    const int tensor = g.io_tensor(io);
    dense_to_layout(g.io_format(io, launch.layout_profile), launch.shapes[tensor],
                    element_size(g.tensor_types[tensor]), dense[tensor], staged[io]);
  }
  control::count("network_runs");
}

// Runs on the stream's host-function thread: plain host code only, no CUDA calls.
void CUDART_CB run_launch(void* user_data) {
  const auto* launch = static_cast<const ExecutionContext::Launch*>(user_data);
  PendingWork* pending = launch->pending;
  if (launch->applied_profile != nullptr && launch->applied_profile->load() != launch->profile) {
    // The profile switch was queued on another stream and has not run yet: the enqueue raced it.
    control::count("unsynchronized_profile_switches");
    if (!pending->owner_released()) {
      report(launch->logger, Severity::kERROR,
             std::string(kEnqueueCall) + ": the network for optimization profile " +
                 std::to_string(launch->profile) +
                 " ran before the switch that setOptimizationProfileAsync queued on its stream; synchronise "
                 "that stream with the enqueue stream");
    }
  } else if (!stale_replay(*launch)) {
    run_network(*launch);
  }
  if (launch->uses != nullptr) launch->uses->done(launch->layout_profile, launch->user);
  // Last: once told, a released context's state may go.
  if (pending != nullptr) pending->ran();
}

}  // namespace

std::string cuda_failure(const char* call, cudaError_t status) {
  return std::string(call) + " failed: " + cudaGetErrorString(status);
}

void ExecutionContext::PinnedDeleter::operator()(unsigned char* p) const { cudaFreeHost(p); }

ExecutionContext::ExecutionContext(const Engine& engine, std::shared_ptr<const Graph> graph,
                                   nvinfer1::ILogger* logger, int32_t profile, int device)
    : engine_(engine),
      graph_(std::move(graph)),
      logger_(logger),
      profile_(profile),
      device_(device),
      work_(std::make_unique<Work>(graph_, engine.pending_work(), engine.profile_uses())) {
  reset_input_dims();
#if NV_TENSORRT_MAJOR < 10
  binding_values_.assign(graph_->input_count(), std::nullopt);
#endif
#if NV_TENSORRT_MAJOR >= 10
  addresses_.assign(graph_->bindings_per_profile(), nullptr);
  allocators_.assign(graph_->bindings_per_profile(), nullptr);
  applied_profile_ = profile;
#endif
  control::count("live_contexts", 1);
}

ExecutionContext::~ExecutionContext() {
  retire_if_work_pending();
  control::count("live_contexts", -1);
}

std::unique_ptr<ExecutionContext> ExecutionContext::create(const Engine& engine,
                                                           std::shared_ptr<const Graph> graph,
                                                           nvinfer1::ILogger* logger, int32_t initial_profile,
                                                           Activation activation) {
  int device = 0;
  const cudaError_t status = cudaGetDevice(&device);
  if (status != cudaSuccess) {
    report(logger, Severity::kERROR, "createExecutionContext: " + cuda_failure("cudaGetDevice", status));
    return nullptr;
  }
  try {
    auto context =
        std::make_unique<ExecutionContext>(engine, std::move(graph), logger, initial_profile, device);
    context->activation_ = activation;
    if (!context->allocate_buffers() || !context->allocate_activation_memory()) return nullptr;
    return context;
  } catch (const std::bad_alloc&) {
    report(logger, Severity::kERROR, "createExecutionContext: out of host memory");
    return nullptr;
  }
}

// Network inputs and outputs live in one pinned block (they are the copy endpoints), each in its
// layout; the tensors between layers, and the dense copies of I/O tensors in other formats than
// kLINEAR, only ever meet host code and live in ordinary memory.
bool ExecutionContext::allocate_buffers() {
  const Graph& g = *graph_;
  const std::size_t tensors = g.tensor_names.size();
  std::vector<int> io_of_tensor(tensors, -1);
  for (int io = 0; io < g.bindings_per_profile(); ++io) io_of_tensor[g.io_tensor(io)] = io;

  std::vector<std::size_t> offsets(tensors, 0);
  std::size_t total = 0;
  for (std::size_t t = 0; t < tensors; ++t) {
    if (io_of_tensor[t] < 0) continue;
    offsets[t] = total;
    total += align_up(g.io_bytes[io_of_tensor[t]]);
  }
  if (total != 0) {
    void* block = nullptr;
    const cudaError_t status = cudaMallocHost(&block, total);
    if (status != cudaSuccess) {
      report(logger_, Severity::kERROR,
             "createExecutionContext: cannot allocate " + std::to_string(total) +
                 " bytes of staging memory: " + cuda_failure("cudaMallocHost", status));
      return false;
    }
    staging_.reset(static_cast<unsigned char*>(block));
  }
  scratch_.resize(tensors);
  buffers_.assign(tensors, nullptr);
  staging_at_.assign(g.bindings_per_profile(), nullptr);
  for (std::size_t t = 0; t < tensors; ++t) {
    const int io = io_of_tensor[t];
    if (io >= 0) staging_at_[io] = staging_.get() + offsets[t];
    if (io >= 0 && !g.io_needs_dense_copy(io)) {
      buffers_[t] = staging_at_[io];
    } else {
      scratch_[t].resize(g.max_bytes[t]);
      buffers_[t] = scratch_[t].data();
    }
  }
  return true;
}

const nvinfer1::ICudaEngine& ExecutionContext::getEngine() const noexcept { return engine_; }

void ExecutionContext::reset_input_dims() {
  input_dims_.assign(graph_->input_count(), std::nullopt);
  if (profile_ < 0) return;
  for (int slot = 0; slot < graph_->input_count(); ++slot) {
    const Shape& declared = graph_->profile_dims[profile_][slot];
    if (std::none_of(declared.begin(), declared.end(), [](int32_t d) { return d < 0; })) {
      input_dims_[slot] = declared;
    }
  }
}

int32_t ExecutionContext::getOptimizationProfile() const noexcept { return profile_; }

bool ExecutionContext::allInputDimensionsSpecified() const noexcept {
  if (control::call_fails("allInputDimensionsSpecified")) return false;
#if NV_TENSORRT_MAJOR >= 10
  // Documented not to work with setInputShape: strict mode answers what may not be relied on.
  if (control::strict()) return false;
#endif
  return inputs_complete();
}

bool ExecutionContext::inputs_complete() const {
  if (profile_ < 0) return false;
  for (const auto& dims : input_dims_) {
    if (!dims) return false;
  }
  return true;
}

bool ExecutionContext::resolve_shapes(std::vector<Shape>* shapes, std::string* why) const {
  if (!inputs_complete()) {
#if NV_TENSORRT_MAJOR >= 10
    for (int slot = 0; slot < graph_->input_count(); ++slot) {
      if (!input_dims_[slot]) {
        *why = "the shape of input '" + graph_->network.inputs[slot].name +
               "' is missing: set every input with setInputShape";
        break;
      }
    }
#else
    *why = "input dimensions are missing: set every input with setBindingDimensions";
#endif
    return false;
  }
  std::vector<Shape> inputs;
  for (const auto& dims : input_dims_) inputs.push_back(*dims);
  std::vector<std::vector<int64_t>> values;
#if NV_TENSORRT_MAJOR >= 10
  if (!read_shape_values(&values, why)) return false;
#else
  if (!bound_shape_values(&values, why)) return false;
#endif
  return infer_shapes(*graph_, inputs, shapes, why, &values);
}

bool ExecutionContext::fail_enqueue(const std::string& why) noexcept {
  report(logger_, Severity::kERROR, std::string(kEnqueueCall) + ": " + why);
  return false;
}

void ExecutionContext::report_shared_profile() noexcept {
  control::count("concurrent_profile_uses");
  report(logger_, Severity::kERROR,
         std::string(kEnqueueCall) +
             ": another execution context of this engine has a network queued on "
             "optimization profile " +
             std::to_string(profile_) +
             " that has not run yet: with dynamic shapes, execution contexts in concurrent use need "
             "separate optimization profiles");
}

const ExecutionContext::Launch* ExecutionContext::launch_for(std::vector<Shape> shapes, bool captured) {
  // Every tensor's shape: a shape tensor's values decide some beyond the inputs' shapes.
  std::vector<int32_t> key = {profile_, captured ? 1 : 0};
  for (const Shape& shape : shapes) {
    key.push_back(static_cast<int32_t>(shape.size()));
    key.insert(key.end(), shape.begin(), shape.end());
  }
  std::unique_ptr<Launch>& slot = launches_[key];
  if (!slot) {
    slot =
        std::make_unique<Launch>(Launch{graph_.get(), std::move(shapes), &buffers_, &staging_at_, profile_});
    key.erase(key.begin() + 1);  // a plain and a captured enqueue of one shape set configure alike
    slot->configuration = work_->configurations.emplace(key, work_->configurations.size()).first->second;
    if (captured) slot->configured = &work_->configured;
    // Graph replays are the caller's to order; what is queued directly is counted until it runs.
    if (graph_->has_data_dependent_output()) slot->produced = &work_->produced;
    if (!captured) {
      slot->pending = work_->pending.get();
      slot->uses = work_->profile_uses.get();
      slot->user = work_.get();
    }
#if NV_TENSORRT_MAJOR >= 10
    // A graph replays whatever profile it was captured with; only a direct enqueue can race a switch.
    if (!captured) {
      slot->profile = profile_;
      slot->applied_profile = &applied_profile_;
      slot->logger = logger_;
    }
#endif
  }
  return slot.get();
}

bool ExecutionContext::on_own_device(std::string* why) const {
  int current = 0;
  const cudaError_t status = cudaGetDevice(&current);
  if (status != cudaSuccess) {
    *why = cuda_failure("cudaGetDevice", status);
    return false;
  }
  if (current != device_) {
    *why = "the execution context was created on device " + std::to_string(device_) +
           ", but the calling thread's current device is " + std::to_string(current);
    return false;
  }
  return true;
}

bool ExecutionContext::capture_allowed(cudaStream_t stream, cudaStreamCaptureStatus* capture,
                                       std::string* why) const {
  *capture = cudaStreamCaptureStatusNone;
  const cudaError_t status = cudaStreamIsCapturing(stream, capture);
  if (status != cudaSuccess) {
    *why = cuda_failure("cudaStreamIsCapturing", status);
    return false;
  }
  if (*capture != cudaStreamCaptureStatusNone && capture_blocked_) {
    *why = kCaptureBlocked;
    return false;
  }
  return true;
}

bool ExecutionContext::queue_network(std::vector<Shape> shapes, const std::vector<const void*>& inputs,
                                     const std::vector<void*>& outputs, cudaStream_t stream, bool captured,
                                     std::string* why, const std::vector<bool>* deferred) {
  const Graph& g = *graph_;
  const Launch* launch = launch_for(std::move(shapes), captured);
  work_->configured = launch->configuration;
  if (scratch::enabled() && !scratch::use_temporary_memory(stream, why)) return false;
  cudaError_t status = cudaSuccess;
  for (int i = 0; i < g.input_count(); ++i) {
    const std::size_t n = g.io_layout_bytes(i, profile_, launch->shapes[i]);
    // Null only for a binding the network does not read (a shape binding that is no execution binding).
    if (n == 0 || inputs[i] == nullptr) continue;
    // An input in host memory is read as host memory, so a device address there is refused.
    const cudaMemcpyKind kind =
        g.network.inputs[i].location == TensorLocation::kHost ? cudaMemcpyHostToHost : cudaMemcpyDeviceToHost;
    status = cudaMemcpyAsync(staging_at_[i], inputs[i], n, kind, stream);
    if (status != cudaSuccess) {
      *why = cuda_failure("cudaMemcpyAsync", status);
      return false;
    }
  }
  // Each tensor's count of computed elements is set again by this run (left -1 if it does not run).
  if (launch->produced != nullptr) launch->produced->assign(g.tensor_names.size(), -1);
  // Registered before the host function can run (on whichever thread waits for the stream).
  const bool profile_shared = launch->uses != nullptr && launch->uses->queue(profile_, launch->user);
  if (launch->pending != nullptr) launch->pending->queued();
  status = cudaLaunchHostFunc(stream, run_launch, const_cast<Launch*>(launch));
  if (status != cudaSuccess) {
    if (launch->pending != nullptr) launch->pending->withdrawn();
    if (launch->uses != nullptr) launch->uses->done(profile_, launch->user);
    *why = cuda_failure("cudaLaunchHostFunc", status);
    return false;
  }
  if (profile_shared && engine_.has_dynamic_shapes() && control::strict()) report_shared_profile();
  for (int j = 0; j < g.output_count(); ++j) {
    const int io = g.input_count() + j;
    const std::size_t n = g.io_layout_bytes(io, profile_, launch->shapes[g.io_tensor(io)]);
    if (n == 0 || (deferred != nullptr && (*deferred)[j])) continue;
    status = cudaMemcpyAsync(outputs[j], staging_at_[io], n, cudaMemcpyHostToDevice, stream);
    if (status != cudaSuccess) {
      *why = cuda_failure("cudaMemcpyAsync", status);
      return false;
    }
  }
  return true;
}

#if NV_TENSORRT_MAJOR < 10

bool ExecutionContext::setOptimizationProfile(int32_t profileIndex) noexcept {
  control::count("setOptimizationProfile");
  if (profileIndex < 0 || profileIndex >= static_cast<int32_t>(graph_->network.profiles.size())) {
    report(logger_, Severity::kERROR,
           "setOptimizationProfile: profile index " + std::to_string(profileIndex) + " is out of range [0, " +
               std::to_string(graph_->network.profiles.size()) + ")");
    return false;
  }
  if (profileIndex != profile_) {
    // A newly selected profile starts with no input dimensions but those its engine fixes, and no
    // shape binding values.
    profile_ = profileIndex;
    reset_input_dims();
    binding_values_.assign(graph_->input_count(), std::nullopt);
  }
  // Selecting the profile already selected counts as a change too (the stricter reading).
  capture_blocked_ = true;
  return true;
}

bool ExecutionContext::setBindingDimensions(int32_t bindingIndex, nvinfer1::Dims dimensions) noexcept {
  control::record_dims(bindingIndex, dimensions);
  const std::string where = "setBindingDimensions: binding " + std::to_string(bindingIndex);
  if (control::call_fails("setBindingDimensions")) {
    report(logger_, Severity::kERROR, where + ": injected failure");
    return false;
  }
  if (profile_ < 0) {
    report(logger_, Severity::kERROR, where + ": no optimization profile is selected");
    return false;
  }
  const int per_profile = graph_->bindings_per_profile();
  const int slot = bindingIndex - profile_ * per_profile;
  if (slot < 0 || slot >= graph_->input_count()) {
    report(logger_, Severity::kERROR,
           where + " is not an input of the selected optimization profile " + std::to_string(profile_));
    return false;
  }
  const InputRange& range = graph_->network.profiles[profile_].inputs[slot];
  if (dimensions.nbDims != static_cast<int32_t>(range.min.size())) {
    report(logger_, Severity::kERROR,
           where + ": rank " + std::to_string(dimensions.nbDims) + " given, the input has rank " +
               std::to_string(range.min.size()));
    return false;
  }
  Shape shape(dimensions.d, dimensions.d + dimensions.nbDims);
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] < range.min[i] || shape[i] > range.max[i]) {
      report(logger_, Severity::kERROR,
             where + ": " + shape_to_string(shape) + " is outside the optimization profile's range " +
                 shape_to_string(range.min) + " to " + shape_to_string(range.max));
      return false;
    }
  }
  input_dims_[slot] = std::move(shape);
  capture_blocked_ = true;  // even when the extents equal the previous ones (the stricter reading)
  return true;
}

nvinfer1::Dims ExecutionContext::getBindingDimensions(int32_t bindingIndex) const noexcept {
  if (control::call_fails("getBindingDimensions")) return invalid_dims();
  if (bindingIndex < 0 || bindingIndex >= engine_.getNbBindings()) return invalid_dims();
  const nvinfer1::Dims declared = engine_.getBindingDimensions(bindingIndex);
  const int per_profile = graph_->bindings_per_profile();
  if (profile_ < 0 || bindingIndex < profile_ * per_profile || bindingIndex >= (profile_ + 1) * per_profile) {
    return declared;
  }
  const int slot = bindingIndex - profile_ * per_profile;
  if (slot < graph_->input_count()) return input_dims_[slot] ? to_dims(*input_dims_[slot]) : declared;
  std::vector<Shape> shapes;
  std::string why;
  if (!resolve_shapes(&shapes, &why)) return declared;
  return to_dims(shapes[graph_->output_tensors[slot - graph_->input_count()]]);
}

bool ExecutionContext::enqueueV2(BindingArray bindings, cudaStream_t stream,
                                 cudaEvent_t* inputConsumed) noexcept {
  if (control::call_fails("enqueueV2")) return fail_enqueue("injected failure");
  try {
    std::string why;
    if (!on_own_device(&why)) return fail_enqueue(why);
    if (profile_ < 0) return fail_enqueue("no optimization profile is selected");
    std::vector<Shape> shapes;
    if (!resolve_shapes(&shapes, &why)) return fail_enqueue(why);
    if (bindings == nullptr) return fail_enqueue("the bindings array is null");

    const Graph& g = *graph_;
    const int base = profile_ * g.bindings_per_profile();
    for (int slot = 0; slot < g.bindings_per_profile(); ++slot) {
      // No exception for empty tensors (the stricter reading): every execution binding needs an
      // address. A shape binding no layer reads is given through setInputShapeBinding alone.
      if (bindings[base + slot] == nullptr && engine_.isExecutionBinding(base + slot)) {
        return fail_enqueue("binding " + std::to_string(base + slot) + " (" +
                            std::string(engine_.getBindingName(base + slot)) + ") is null");
      }
    }

    cudaStreamCaptureStatus capture = cudaStreamCaptureStatusNone;
    if (!capture_allowed(stream, &capture, &why)) return fail_enqueue(why);

    if (inputConsumed != nullptr) {
      // Input-consumed events are not modelled; the event is left alone.
      report(logger_, Severity::kWARNING, "enqueueV2: inputConsumed is not supported and is ignored");
    }
    const std::vector<const void*> inputs(bindings + base, bindings + base + g.input_count());
    const std::vector<void*> outputs(bindings + base + g.input_count(),
                                     bindings + base + g.bindings_per_profile());
    if (!queue_network(std::move(shapes), inputs, outputs, stream, capture != cudaStreamCaptureStatusNone,
                       &why)) {
      return fail_enqueue(why);
    }
    control::record_bindings(bindings, engine_.getNbBindings());
    if (capture == cudaStreamCaptureStatusNone) capture_blocked_ = false;
    return true;
  } catch (const std::bad_alloc&) {
    return fail_enqueue("out of host memory");
  }
}

#endif  // NV_TENSORRT_MAJOR < 10

}  // namespace trt_standin
