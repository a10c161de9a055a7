#include "session.h"

#include <cstring>
#include <limits>
#include <shared_mutex>

#include "cuda_graph.h"
#include "device_guard.h"
#include "host_stream.h"
#include "log.h"
#include "shape.h"
#include "sticky_faults.h"
#include "tensorrt_reason.h"

namespace sessions {
namespace {

constexpr uint64_t kEveryMemoryKind = (uint64_t{1} << INFERLET_MEMORY_HOST) |
                                      (uint64_t{1} << INFERLET_MEMORY_PINNED) |
                                      (uint64_t{1} << INFERLET_MEMORY_DEVICE);

bool uses(uint64_t kinds, inferlet_memory memory) { return (kinds & (uint64_t{1} << memory)) != 0; }

// What a session's device buffer of a tensor of capacity bytes takes: an empty tensor's too has one.
size_t deviceBytes(size_t capacity) { return capacity > 0 ? capacity : 1; }

Status checkOptions(const Engine& engine, const inferlet_session_config& options) {
  if (options.profile < 0 || options.profile >= engine.profile_count()) {
    return Status::failure(INFERLET_INVALID_ARGUMENT, "profile " + std::to_string(options.profile) +
                                                          " is out of range: the engine has " +
                                                          std::to_string(engine.profile_count()) +
                                                          " profile(s)");
  }
  if (options.graph_cache_size < 1) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "graph_cache_size " + std::to_string(options.graph_cache_size) + " is below 1");
  }
  if ((options.memory_kinds & ~kEveryMemoryKind) != 0) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "memory_kinds " + std::to_string(options.memory_kinds) +
                               " has bits that are no memory kind: only 1 << INFERLET_MEMORY_HOST, "
                               "1 << INFERLET_MEMORY_PINNED and 1 << INFERLET_MEMORY_DEVICE (0: all)");
  }
  return Status();
}

// A host's stream is taken only when it is one stream, of the engine's device. The special handles
// name the default stream of whichever thread uses them, so a wait from another thread would wait on
// another stream; a stream of another device would fail later, in TensorRT or CUDA. Its device is asked
// of the runtime (cudaStreamGetDevice, CUDA 12.8 on), with the engine's device current.
Status checkHostStream(void* stream, int device) {
  const auto handle = static_cast<cudaStream_t>(stream);
  if (!handle) return Status();
  if (handle == cudaStreamLegacy || handle == cudaStreamPerThread) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           std::string("stream is ") +
                               (handle == cudaStreamLegacy ? "cudaStreamLegacy" : "cudaStreamPerThread") +
                               ", which names the default stream of each thread that uses it: give a stream "
                               "of device " +
                               std::to_string(device) + ", or none for the session's own");
  }
  return checkStreamDevice(handle, device);
}

// Every tensor of the profile must be one the library can hand over: dense and row-major in device
// memory, or a shape tensor input where the generation serves them (10, 11), which TensorRT reads from
// host memory. An output that aliases an input (11) is not: a call's inputs are the host's, read
// only, staged or uploaded, and such an output would have the call write into them.
Status checkLayouts(const Engine& engine, int profile) {
  for (int t = 0; t < engine.tensor_count(); ++t) {
    const TensorDescription& tensor = engine.tensor(t);
    if (!tensor.aliased_input.empty()) {
      return Status::failure(INFERLET_UNSUPPORTED_TENSOR,
                             "output '" + tensor.name + "' aliases input '" + tensor.aliased_input +
                                 "' (TensorRT writes it into that input's memory), which this library does "
                                 "not serve");
    }
    trt_binding::Layout layout = tensor.layouts[static_cast<size_t>(profile)];
    if (tensor.shape_tensor) layout.on_host = false;
    const std::string refusal = trt_binding::layoutRefusal(layout);
    if (refusal.empty()) continue;
    const bool shape_tensor =
        tensor.is_input && layout.on_host && layout.format == nvinfer1::TensorFormat::kLINEAR;
    return Status::failure(INFERLET_UNSUPPORTED_TENSOR,
                           std::string(tensor.is_input ? "input" : "output") + " '" + tensor.name +
                               "' of profile " + std::to_string(profile) + " " + refusal +
                               (shape_tensor ? " (a shape tensor: served from TensorRT 10 on)" : ""));
  }
  return Status();
}

// A session serves one call at a time; sessions of one engine serve theirs at once.
constexpr const char* kOneCallAtATime =
    "; a session serves one call at a time, so threads that call at once need a session each (sessions of "
    "one engine run at once)";

}  // namespace

Status busyFailure() {
  return Status::failure(
      INFERLET_BUSY,
      std::string("another thread is enqueueing or waiting for the session's call") + kOneCallAtATime);
}

Session::Session(Made, std::shared_ptr<Engine> engine, const inferlet_session_config& options)
    : mEngine(std::move(engine)),
      mProfile(options.profile),
      mUseGraphs(options.cuda_graphs != 0),
      mGraphCacheSize(static_cast<size_t>(options.graph_cache_size)),
      mPhaseTiming(options.phase_timing != 0),
      mMemoryKinds(options.memory_kinds == 0 ? kEveryMemoryKind : options.memory_kinds),
      mPlan(*mEngine, options.profile) {}

Status Session::create(std::shared_ptr<Engine> engine, const inferlet_session_config& chosen,
                       std::unique_ptr<Session>* session) {
  if (!engine) return Status::failure(INFERLET_INVALID_ARGUMENT, "engine is null");
  if (!session) return Status::failure(INFERLET_INVALID_ARGUMENT, "session is null");
  Status status = checkOptions(*engine, chosen);
  if (!status.ok()) return status;
  status = checkDevice(engine->device());
  if (!status.ok()) return status;
  DeviceGuard guard;
  status = guard.enter(engine->device());
  if (!status.ok()) return status;
  status = checkHostStream(chosen.stream, engine->device());
  if (!status.ok()) return status;
  status = checkLayouts(*engine, chosen.profile);
  if (!status.ok()) return status;

  auto made = std::make_unique<Session>(Made(), std::move(engine), chosen);
  status = made->init(chosen.stream);
  if (!status.ok()) return status;  // made's destructor releases what init took
  *session = std::move(made);
  return Status();
}

Status Session::init(void* host_stream) {
  const Engine& engine = *mEngine;
  const int device = engine.device();
  Status status = mEngine->profiles().claim(mProfile);
  if (!status.ok()) return status;
  mProfileClaimed = true;

  const bool supplies_memory = trt_binding::contextMemoryPerProfile();
  mContext = mEngine->create_context(supplies_memory);
  if (!mContext) {
    return tensorrtAllocatingFailure(INFERLET_TENSORRT_ERROR, "TensorRT made no execution context");
  }
  mContextBytes = engine.context_bytes();
  if (supplies_memory) {
    status = supply_context_memory();
    if (!status.ok()) return status;
  }
  mResources.engine = &engine;
  mResources.profile = mProfile;
  mResources.memory_kinds = mMemoryKinds;
  mResources.context = mContext.get();
  if (host_stream) {
    mResources.stream = static_cast<cudaStream_t>(host_stream);
  } else {
    const cudaError_t code = cudaStreamCreateWithFlags(mOwnStream.receive(), cudaStreamNonBlocking);
    if (code != cudaSuccess) return cudaFailure(device, "cudaStreamCreateWithFlags", code);
    mResources.stream = mOwnStream.get();
  }
  tensorrtStepBegins();
  if (!trt_binding::selectProfile(*mContext, mProfile, mResources.stream)) {
    return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT refused profile " + std::to_string(mProfile));
  }
  cudaError_t code = cudaEventCreateWithFlags(mEvent.receive(), cudaEventDisableTiming);
  if (code != cudaSuccess) return cudaFailure(device, "cudaEventCreateWithFlags", code);
  if (mPhaseTiming) {
    status = mTimer.start(device);
    if (!status.ok()) return status;
  }
  status = allocate_buffers();
  if (!status.ok()) return status;
  mResources.bindings.assign(static_cast<size_t>(engine.binding_count()), nullptr);
  if (mUseGraphs && mPlan.has_data_dependent()) {
    warn_graphs_off();
  } else if (mUseGraphs) {
    mGraphs = std::make_unique<GraphCache>(mGraphCacheSize, mPlan.key_words(), mPlan.output_count());
    mCapturedOutputDims.resize(mPlan.output_count());
  }
  // Whatever selecting the profile queued is done before the first call, or a failure of it shows here.
  code = cudaStreamSynchronize(mResources.stream);
  if (code != cudaSuccess) return cudaFailure(device, "cudaStreamSynchronize", code);

  mDeviceBytes = mContextBytes;  // and the data-dependent outputs' memory as it grows (device_memory)
  for (const TensorBuffers& buffers : mResources.buffers) {
    if (buffers.device.get()) mDeviceBytes += deviceBytes(buffers.capacity);
  }
  if (logs(INFERLET_LOG_INFO)) {
    log(INFERLET_LOG_INFO, "session on profile " + std::to_string(mProfile) + " of engine '" + engine.name() +
                               "': " + std::to_string(mDeviceBytes) +
                               " bytes of device memory (execution context " + std::to_string(mContextBytes) +
                               ", buffers " + std::to_string(mDeviceBytes - mContextBytes) + ")");
  }
  return Status();
}

// The context's activation memory, the profile's own, in one allocation the session holds. Chosen over
// kON_PROFILE_CHANGE, which TensorRT documents only as "reallocate for a profile when it's selected": a
// context starts on profile 0, and the header says neither what it holds before the switch to the
// session's profile nor how much after. With kUSER_MANAGED the session holds exactly
// getDeviceMemorySizeForProfileV2 bytes of its own cudaMalloc, which inferlet_session_device_memory
// reports as they are and a test can count.
Status Session::supply_context_memory() {
  const int device = mEngine->device();
  const int64_t bytes = trt_binding::profileContextMemory(mEngine->trt(), mProfile);
  if (bytes < 0) {
    return Status::failure(INFERLET_TENSORRT_ERROR,
                           "TensorRT gave no device memory size for profile " + std::to_string(mProfile));
  }
  mContextBytes = static_cast<size_t>(bytes);
  if (bytes > 0) {
    std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
    const cudaError_t code = cudaMalloc(mContextMemory.receive(), mContextBytes);
    if (code != cudaSuccess) return cudaFailure(device, "cudaMalloc", code);
  }
  tensorrtStepBegins();
  trt_binding::setContextMemory(*mContext, mContextMemory.get(), bytes);
  return Status();
}

// A call on a session with data-dependent outputs cannot be replayed from a graph: TensorRT learns their
// shapes only while it runs, and a replay leaves TensorRT out. Said once, when the session is made.
void Session::warn_graphs_off() {
  if (!logs(INFERLET_LOG_WARNING)) return;
  std::string names;
  for (size_t j = 0; j < mPlan.output_count(); ++j) {
    if (!mPlan.output_data_dependent(j)) continue;
    names += (names.empty() ? "'" : ", '") + mEngine->tensor(mPlan.output_tensor(j)).name + "'";
  }
  log(INFERLET_LOG_WARNING, "CUDA graphs are off for the session on profile " + std::to_string(mProfile) +
                                ": output(s) " + names +
                                " have extents known only once the call has run, so every call runs "
                                "without a graph");
}

size_t Session::device_memory() const {
  size_t bytes = mDeviceBytes;
  for (const TensorBuffers& buffers : mResources.buffers) {
    if (buffers.sink) bytes += buffers.sink->own_bytes();
  }
  return bytes;
}

// Shape tensors get the session's copy of their values, at the profile's largest values, and TensorRT
// its address: it reads them when it resolves the other tensors' shapes.
Status Session::prepare_shape_tensors() {
  const Engine& engine = *mEngine;
  for (int t = 0; t < engine.tensor_count(); ++t) {
    const TensorDescription& tensor = engine.tensor(t);
    if (!tensor.shape_tensor) continue;
    const int64_t bytes = tensorBytes(tensor.ranges[static_cast<size_t>(mProfile)].max, tensor.element_bits);
    if (bytes < 0 || bytes >= (1 << 20)) {
      return Status::failure(INFERLET_UNSUPPORTED_TENSOR, "input '" + tensor.name +
                                                              "' is a shape tensor without a size at the "
                                                              "largest shape of profile " +
                                                              std::to_string(mProfile));
    }
    TensorBuffers& buffers = mResources.buffers[static_cast<size_t>(t)];
    // The largest values to begin with: the outputs' largest shapes are resolved at them.
    buffers.values.assign(static_cast<size_t>(bytes));
    writeShapeValues(tensor.value_ranges[static_cast<size_t>(mProfile)].max, tensor.item_size,
                     &buffers.values);
    tensorrtStepBegins();
    if (!trt_binding::bindAddress(*mContext, engine.binding(mProfile, t), buffers.values.data())) {
      return tensorrtFailure(INFERLET_TENSORRT_ERROR,
                             "TensorRT refused the address of input '" + tensor.name + "'");
    }
  }
  return Status();
}

// An output TensorRT sizes only while the call runs gets a sink of its own, which TensorRT's allocator
// fills; capacity is TensorRT's bound at the largest input shapes (what host staging must hold).
Status Session::prepare_data_dependent(size_t t, size_t* capacity) {
  const Engine& engine = *mEngine;
  const TensorDescription& tensor = engine.tensor(static_cast<int>(t));
  const trt_binding::Binding& binding = engine.binding(mProfile, static_cast<int>(t));
  tensorrtStepBegins();
  const int64_t bound = trt_binding::maxOutputBytes(*mContext, binding);
  if (bound < 0) {
    return tensorrtFailure(INFERLET_UNSUPPORTED_TENSOR, "output '" + tensor.name +
                                                            "' has extents known only once the call has run, "
                                                            "and TensorRT gives no upper bound for it on "
                                                            "profile " +
                                                            std::to_string(mProfile));
  }
  *capacity = static_cast<size_t>(bound);
  TensorBuffers& buffers = mResources.buffers[t];
  buffers.sink = std::make_unique<GrowingOutput>();
  buffers.allocator = trt_binding::makeOutputAllocator(*buffers.sink);
  tensorrtStepBegins();
  if (!trt_binding::bindOutputAllocator(*mContext, binding, buffers.allocator.get())) {
    return tensorrtFailure(INFERLET_TENSORRT_ERROR,
                           "TensorRT refused an output allocator for output '" + tensor.name + "'");
  }
  mPlan.mark_data_dependent(t);
  return Status();
}

// Sizes every tensor at the profile's largest shapes: the inputs' from the profile, the outputs' as
// TensorRT resolves them from those (and from the shape tensors' largest values).
Status Session::allocate_buffers() {
  const Engine& engine = *mEngine;
  const auto profile = static_cast<size_t>(mProfile);
  const auto count = static_cast<size_t>(engine.tensor_count());
  mResources.buffers.resize(count);
  Status prepared = prepare_shape_tensors();
  if (!prepared.ok()) return prepared;
  std::vector<trt_binding::TensorShape> largest(count);
  for (size_t t = 0; t < count; ++t) {
    const TensorDescription& tensor = engine.tensor(static_cast<int>(t));
    largest[t].binding = engine.binding(mProfile, static_cast<int>(t));
    largest[t].is_input = tensor.is_input;
    largest[t].data_dependent = !tensor.is_input && trt_binding::servesValueDependentShapes();
    if (tensor.is_input) largest[t].dims = tensor.ranges[profile].max;
  }
  tensorrtStepBegins();
  const trt_binding::ShapeResolution resolution = trt_binding::resolveShapes(
      *mContext, largest.data(), static_cast<int>(count), trt_binding::ReadBack::kOutputs);
  if (resolution.outcome == trt_binding::ShapeResolution::kInputRefused) {
    const auto t = static_cast<size_t>(resolution.tensor);
    return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT refused the largest shape " +
                                                        shapeText(largest[t].dims) + " of input '" +
                                                        engine.tensor(resolution.tensor).name +
                                                        "' on profile " + std::to_string(mProfile));
  }
  if (resolution.outcome == trt_binding::ShapeResolution::kInputsIncomplete) {
    return tensorrtFailure(INFERLET_TENSORRT_ERROR,
                           "TensorRT does not take every input's shape as specified");
  }
  // A tensor without a known size (kUnresolved) is refused below, in the engine's order.
  std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
  for (size_t t = 0; t < count; ++t) {
    Status status = allocate_tensor(t, largest[t].dims);
    if (!status.ok()) return status;
  }
  return Status();
}

// One tensor's memory at its largest dims (the census held by the caller). Buffers are for host and
// pinned memory, staging for host memory alone: device memory is TensorRT's in place. A data-dependent
// output has staging at TensorRT's bound and its sink; a shape tensor, its copy of values alone.
Status Session::allocate_tensor(size_t t, const trt_binding::Extents& dims) {
  const TensorDescription& tensor = mEngine->tensor(static_cast<int>(t));
  const int device = mEngine->device();
  const bool needs_buffers =
      uses(mMemoryKinds, INFERLET_MEMORY_HOST) || uses(mMemoryKinds, INFERLET_MEMORY_PINNED);
  const bool needs_staging = uses(mMemoryKinds, INFERLET_MEMORY_HOST);
  const int64_t bytes = tensorBytes(dims, tensor.element_bits);
  const bool size_known = bytes != std::numeric_limits<int64_t>::max();
  const bool rank_known = dims.nbDims >= 0 && dims.nbDims <= INFERLET_MAX_DIMS;
  TensorBuffers& buffers = mResources.buffers[t];
  if (!tensor.is_input && rank_known && !size_known && trt_binding::servesValueDependentShapes()) {
    Status status = prepare_data_dependent(t, &buffers.capacity);
    if (!status.ok()) return status;
  } else if (!rank_known || !size_known) {
    return Status::failure(INFERLET_UNSUPPORTED_TENSOR,
                           std::string(tensor.is_input ? "input" : "output") + " '" + tensor.name +
                               "' has no size TensorRT can tell at the largest input shapes of profile " +
                               std::to_string(mProfile) + " (shape " + shapeText(dims) + ")" +
                               (tensor.is_input ? ""
                                                : ": outputs whose extents depend on the values the call "
                                                  "computes are served from TensorRT 10 on"));
  } else {
    buffers.capacity = static_cast<size_t>(bytes);
  }
  if (tensor.shape_tensor) return Status();
  if (needs_buffers && !buffers.sink) {
    // TensorRT takes no tensor without an address, an empty one neither: it gets a byte.
    const cudaError_t code = cudaMalloc(buffers.device.receive(), deviceBytes(buffers.capacity));
    if (code != cudaSuccess) return cudaFailure(device, "cudaMalloc", code);
  }
  if (needs_staging && buffers.capacity > 0) {
    const cudaError_t code = cudaMallocHost(buffers.staging.receive(), buffers.capacity);
    if (code != cudaSuccess) return cudaFailure(device, "cudaMallocHost", code);
  }
  return Status();
}

Session::~Session() {
  DeviceGuard guard;
  (void)guard.enter(mEngine->device());  // released all the same where the device cannot be had
  // A call still in flight, or what selecting the profile queued: nothing TensorRT queued may outlive
  // its context.
  if (mResources.stream) (void)cudaStreamSynchronize(mResources.stream);
  if (mContext) mEngine->release_context(mContext);
  {
    std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
    mContextMemory.reset();
  }
  mEvent.reset();
  mTimer.release();
  mOwnStream.reset();
  {
    std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
    for (TensorBuffers& buffers : mResources.buffers) {
      buffers.device.reset();
      buffers.staging.reset();
      if (buffers.sink) buffers.sink->release();
    }
  }
  if (mGraphs) mGraphs->clear();
  if (mProfileClaimed) mEngine->profiles().release(mProfile);
}

Status Session::begin_call() {
  int expected = kIdle;
  if (mState.compare_exchange_strong(expected, kBusy)) return Status();
  return Status::failure(
      INFERLET_BUSY,
      std::string("the session is running a call: wait for it before the next one") + kOneCallAtATime);
}

Status Session::enqueue(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
                        size_t output_count) {
  Status status = begin_call();
  if (!status.ok()) return status;
  status = start(inputs, input_count, outputs, output_count);
  mState.store(status.ok() ? kQueued : kIdle);
  return status;
}

Status Session::wait() {
  int expected = kQueued;
  if (!mState.compare_exchange_strong(expected, kBusy)) {
    if (expected == kIdle) return Status::failure(INFERLET_NOT_RUNNING, "the session has no call enqueued");
    return busyFailure();
  }
  Status status = complete();
  mState.store(kIdle);
  return status;
}

Status Session::run(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
                    size_t output_count) {
  Status status = begin_call();
  if (!status.ok()) return status;
  status = start(inputs, input_count, outputs, output_count);
  if (status.ok()) status = complete();
  mState.store(kIdle);
  return status;
}

Status Session::start(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
                      size_t output_count) {
  const int device = mEngine->device();
  Status status = checkDevice(device);
  if (!status.ok()) return status;
  DeviceGuard guard;
  status = guard.enter(device);
  if (!status.ok()) return status;
  status = mPlan.bind(mResources, inputs, input_count, outputs, output_count);
  if (!status.ok()) return status;
  if (mGraphs) mPlan.build_key(mResources);

  const GraphCache::Graph* graph = mGraphs ? mGraphs->find(mPlan.key()) : nullptr;
  // A graph of the key replays only on a context last configured for the key; otherwise this call runs
  // plainly, which configures it, and the graph serves the calls of the key after it.
  if (graph && mGraphs->configured_for(mPlan.key())) {
    status = mPlan.take_output_dims(mResources, graph->output_dims.data());
    if (!status.ok()) return status;
    mPlan.stage_inputs(mResources);
    mTimer.begin_call(/*graph_replay=*/true);
    status = mTimer.mark(PhaseTimer::kStart, mResources.stream, device);
    if (!status.ok()) return status;
    const cudaError_t code = cudaGraphLaunch(graph->exec.get(), mResources.stream);
    if (code != cudaSuccess) return cudaFailure(device, "cudaGraphLaunch", code);
    status = mTimer.mark(PhaseTimer::kEnd, mResources.stream, device);
    if (!status.ok()) return abandon(std::move(status));
  } else {
    if (mGraphs) mGraphs->forget_configured();
    status = mPlan.resolve(mResources);
    if (!status.ok()) return status;
    status = mPlan.bind_addresses(mResources);
    if (!status.ok()) return status;
    mPlan.stage_inputs(mResources);
    status = queue_timed_work();
    if (!status.ok()) return abandon(std::move(status));
    if (mGraphs) mGraphs->set_configured(mPlan.key());
    if (mGraphs && !graph && !mGraphs->failed(mPlan.key())) {
      status = capture();
      if (!status.ok()) return abandon(std::move(status));
    }
  }
  // After the downloads, outside any capture: what the host waits for on the event is the whole call.
  const cudaError_t code = cudaEventRecord(mEvent.get(), mResources.stream);
  if (code != cudaSuccess) return abandon(cudaFailure(device, "cudaEventRecord", code));
  mPlan.publish_output_shapes(outputs, output_count);
  return Status();
}

Status Session::event(void** event) {
  if (!event) return Status::failure(INFERLET_INVALID_ARGUMENT, "event is null");
  Status status = checkDevice(mEngine->device());
  if (!status.ok()) return status;
  switch (mState.load()) {
    case kQueued:
      *event = mEvent.get();
      return Status();
    case kIdle:
      return Status::failure(INFERLET_NOT_RUNNING, "the session has no call enqueued");
    default:
      return busyFailure();
  }
}

// The call's work outside a graph, its phases marked when the session times them.
Status Session::queue_timed_work() {
  const int device = mEngine->device();
  mTimer.begin_call(/*graph_replay=*/false);
  Status status = mTimer.mark(PhaseTimer::kStart, mResources.stream, device);
  if (status.ok()) status = mPlan.queue_uploads(mResources);
  if (status.ok()) status = mTimer.mark(PhaseTimer::kUploaded, mResources.stream, device);
  if (status.ok()) status = mPlan.queue_compute(mResources);
  if (status.ok()) status = mTimer.mark(PhaseTimer::kComputed, mResources.stream, device);
  if (status.ok()) status = mPlan.queue_downloads(mResources);
  if (status.ok()) status = mTimer.mark(PhaseTimer::kEnd, mResources.stream, device);
  return status;
}

// Part of a call may be queued when a later step fails: it finishes before the call answers, so that no
// work of a call that failed still reads or writes the host's memory.
Status Session::abandon(Status failure) {
  const cudaError_t code = cudaStreamSynchronize(mResources.stream);
  if (code != cudaSuccess && failure.code() != INFERLET_CUDA_STICKY) {
    Status sync = cudaFailure(mEngine->device(), "cudaStreamSynchronize", code);
    if (sync.code() == INFERLET_CUDA_STICKY) return sync;
  }
  return failure;
}

Status Session::complete() {
  const int device = mEngine->device();
  Status status = checkDevice(device);
  if (!status.ok()) return status;
  DeviceGuard guard;
  status = guard.enter(device);
  if (!status.ok()) return status;
  const cudaError_t code = cudaStreamSynchronize(mResources.stream);
  if (code != cudaSuccess) return cudaFailure(device, "cudaStreamSynchronize", code);
  mPlan.finish(mResources);
  return mTimer.measure(device);
}

// The call's work has just been queued outside a capture (TensorRT wants one enqueue with new shapes
// before a capture); the same work is now recorded into a graph for the calls with the same key. A
// capture that fails leaves the key to plain calls, with one warning; only a sticky fault fails the
// call.
Status Session::capture() {
  GraphExec exec;
  Status status = record_graph(&exec);
  if (status.ok()) {
    for (size_t j = 0; j < mPlan.output_count(); ++j) mCapturedOutputDims[j] = mPlan.output_dims(j);
    mGraphs->store(mPlan.key(), std::move(exec), mCapturedOutputDims.data());
    return Status();
  }
  // Whatever the failed capture's enqueue left of the context's configuration, the next call of any key
  // runs plainly.
  mGraphs->forget_configured();
  if (status.code() == INFERLET_CUDA_STICKY) return status;
  mGraphs->mark_failed(mPlan.key());
  if (logs(INFERLET_LOG_WARNING)) {
    log(INFERLET_LOG_WARNING,
        "CUDA graph capture failed on profile " + std::to_string(mProfile) +
            ", calls with these input shapes and buffers run without a graph from now on: " +
            status.message());
  }
  return Status();
}

Status Session::record_graph(GraphExec* exec) {
  const int device = mEngine->device();
  // ThreadLocal: a potentially unsafe call of this thread inside the capture (an allocation TensorRT
  // makes in its enqueue, whose address a graph would keep after it is freed) fails the capture instead
  // of being recorded; other threads' calls stay theirs.
  cudaError_t code = cudaStreamBeginCapture(mResources.stream, cudaStreamCaptureModeThreadLocal);
  if (code != cudaSuccess) return cudaFailure(device, "cudaStreamBeginCapture", code);
  Status work = mPlan.queue_work(mResources);
  Graph graph;
  // Ended whatever happened, so that the stream leaves capture mode.
  code = cudaStreamEndCapture(mResources.stream, graph.receive());
  if (!work.ok()) return work;
  if (code != cudaSuccess) return cudaFailure(device, "cudaStreamEndCapture", code);
  code = instantiateGraph(exec->receive(), graph.get());
  if (code != cudaSuccess) {
    exec->reset();
    return cudaFailure(device, "cudaGraphInstantiate", code);
  }
  return Status();
}

}  // namespace sessions
