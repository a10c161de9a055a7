// inferlet sessions for C++17 hosts: the C interface of inferlet_sessions.h in RAII types, header-only.
//
//   inferlet::Engine engine = inferlet::Engine::LoadFile("smoke.engine");   // device 0
//   inferlet::Session session(engine);                                     // holds the engine
//   std::vector<inferlet::Output> outputs{{"out0", out0}};
//   session.Run({{"in0", in0, {2, 340}}, {"in1", in1, {2, 340}}}, outputs);  // outputs[0].shape: [2, 338]
//
// Failures. A failed call throws inferlet::Error (a std::runtime_error) in the host's code, carrying the
// library's code and message: the C functions never throw, the wrapper turns their statuses into
// exceptions on the host's side of the interface. The calls a host may expect to fail as part of its
// flow (a busy session, a profile in use) also come as Try... functions answering an inferlet::Status
// instead. Beyond the library's answers the wrapper throws only std::bad_alloc, and Error with
// Code::kInvalidArgument for its own two checks (a shape of more than INFERLET_MAX_DIMS dimensions, an
// engine file it cannot read).
//
// Ownership. Engine and Session are move-only owners of one C reference each, released by their
// destructors; a moved-from one is empty, and what is called on it fails (Code::kInvalidArgument,
// "engine is null" / "session is null"). A session holds its engine: the host's Engine may go first.
// Only C types cross into the library; the log's std::function stays on the host's side.
//
// Threads, memory kinds, shapes, graphs and faults are as inferlet_sessions.h says: the wrapper keeps
// no state of its own but the log function.
#ifndef INFERLET_SESSIONS_HPP_
#define INFERLET_SESSIONS_HPP_

#if !defined(__cplusplus) || __cplusplus < 201703L
#error "inferlet_sessions.hpp needs C++17; a C host includes inferlet_sessions.h"
#endif

#include <inferlet_sessions.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace inferlet {

// ---- Results ------------------------------------------------------------------------------------

enum class Code : int {
  kOk = INFERLET_OK,
  kInvalidArgument = INFERLET_INVALID_ARGUMENT,
  kOutOfMemory = INFERLET_OUT_OF_MEMORY,
  kEngineRefused = INFERLET_ENGINE_REFUSED,
  kUnsupportedTensor = INFERLET_UNSUPPORTED_TENSOR,
  kProfileInUse = INFERLET_PROFILE_IN_USE,
  kShapeOutOfProfile = INFERLET_SHAPE_OUT_OF_PROFILE,
  kBufferTooSmall = INFERLET_BUFFER_TOO_SMALL,
  kBusy = INFERLET_BUSY,
  kNotRunning = INFERLET_NOT_RUNNING,
  kTensorRtError = INFERLET_TENSORRT_ERROR,
  kCudaError = INFERLET_CUDA_ERROR,
  kCudaSticky = INFERLET_CUDA_STICKY,
  kInternalError = INFERLET_INTERNAL_ERROR,
};

// A failure of the library, or of the wrapper's own checks. what() is the message alone.
class Error : public std::runtime_error {
 public:
  Error(Code code, const std::string& message) : std::runtime_error(message), code_(code) {}
  Code code() const noexcept { return code_; }

 private:
  Code code_;
};

// What a Try... function answers: success, or the library's status, owned and released with this
// object. Reading it allocates nothing.
class [[nodiscard]] Status {
 public:
  Status() noexcept = default;  // success
  explicit Status(inferlet_status* adopted) noexcept : status_(adopted) {}

  bool ok() const noexcept { return !status_; }
  Code code() const noexcept { return static_cast<Code>(inferlet_status_code(status_.get())); }
  const char* message() const noexcept { return inferlet_status_message(status_.get()); }  // "" if ok
  void ThrowIfError() const {
    if (status_) throw Error(code(), message());
  }

 private:
  struct Release {
    void operator()(inferlet_status* status) const noexcept { inferlet_status_release(status); }
  };
  std::unique_ptr<inferlet_status, Release> status_;
};

namespace detail {

inline void Check(inferlet_status* status) { Status(status).ThrowIfError(); }

// A range whose elements lie one after another (std::vector, std::array, std::string, a C array,
// std::span): what std::data and std::size give, in bytes.
template <typename Range, typename = void>
struct IsContiguous : std::false_type {};
template <typename Range>
struct IsContiguous<Range, std::void_t<decltype(std::data(std::declval<Range&>())),
                                       decltype(std::size(std::declval<Range&>()))>>
    : std::is_pointer<decltype(std::data(std::declval<Range&>()))> {};
template <typename Range>
using IfContiguous = std::enable_if_t<IsContiguous<Range>::value>;

template <typename Range>
size_t ByteSize(Range& range) {
  using Element = std::remove_pointer_t<decltype(std::data(range))>;
  static_assert(std::is_trivially_copyable_v<Element>, "the library copies tensors as bytes");
  return static_cast<size_t>(std::size(range)) * sizeof(Element);
}

}  // namespace detail

// ---- Description --------------------------------------------------------------------------------

// The dimensions of a tensor: up to INFERLET_MAX_DIMS extents, -1 where the engine leaves one to the
// profile.
class Shape {
 public:
  Shape() noexcept : shape_{} {}  // rank 0
  Shape(std::initializer_list<int64_t> dims) : Shape(dims.begin(), dims.size()) {}
  explicit Shape(const std::vector<int64_t>& dims) : Shape(dims.data(), dims.size()) {}
  explicit Shape(const inferlet_shape& shape) noexcept : shape_(shape) {}

  int32_t rank() const noexcept { return shape_.rank; }
  int64_t operator[](int32_t k) const noexcept { return shape_.dims[k]; }
  const int64_t* begin() const noexcept { return shape_.dims; }
  const int64_t* end() const noexcept { return shape_.dims + Extents(); }
  std::vector<int64_t> dims() const { return {begin(), end()}; }
  // Elements at these extents (1 for rank 0); meaningless while an extent is -1.
  int64_t Volume() const noexcept {
    int64_t volume = 1;
    for (int64_t extent : *this) volume *= extent;
    return volume;
  }
  const inferlet_shape& c_shape() const noexcept { return shape_; }

  friend bool operator==(const Shape& a, const Shape& b) noexcept {
    if (a.rank() != b.rank()) return false;
    for (int32_t k = 0; k < a.Extents(); ++k) {
      if (a[k] != b[k]) return false;
    }
    return true;
  }
  friend bool operator!=(const Shape& a, const Shape& b) noexcept { return !(a == b); }
  // As the library's messages write shapes: [2, 340].
  friend std::ostream& operator<<(std::ostream& out, const Shape& shape) {
    out << '[';
    for (int32_t k = 0; k < shape.Extents(); ++k) out << (k ? ", " : "") << shape[k];
    return out << ']';
  }

 private:
  Shape(const int64_t* dims, size_t rank) : shape_{} {
    if (rank > INFERLET_MAX_DIMS) {
      throw Error(Code::kInvalidArgument, "a shape has at most " + std::to_string(INFERLET_MAX_DIMS) +
                                              " dimensions, not " + std::to_string(rank));
    }
    shape_.rank = static_cast<int32_t>(rank);
    for (size_t k = 0; k < rank; ++k) shape_.dims[k] = dims[k];
  }
  // The extents held, whatever rank a C caller stored.
  int32_t Extents() const noexcept {
    return shape_.rank < 0 ? 0 : shape_.rank > INFERLET_MAX_DIMS ? INFERLET_MAX_DIMS : shape_.rank;
  }

  inferlet_shape shape_;
};

// One I/O tensor of an engine. dtype and format are numbered as TensorRT's DataType and TensorFormat
// (format: of profile 0, see Engine::TensorFormat).
struct TensorInfo {
  std::string name;
  bool is_input = false;
  int32_t dtype = 0;
  int32_t format = 0;
  bool on_host = false;  // TensorRT reads it from host memory (a shape tensor)
  int32_t item_size = 0;
  Shape shape;
};

// What a profile holds at its three points.
template <typename T>
struct AtProfilePoints {
  T min, opt, max;
};
using ShapeRange = AtProfilePoints<Shape>;                 // a tensor's shapes
using ValueRange = AtProfilePoints<std::vector<int64_t>>;  // a shape tensor's values

struct EngineMemory {
  size_t engine_bytes = 0;   // the engine's weights on its device
  size_t context_bytes = 0;  // what TensorRT says one execution context needs
};

// inferlet_engine_properties, its name copied.
struct EngineProperties {
  std::string name;
  int32_t max_batch_size = 0;
  bool refittable = false;
  int32_t binding_count = 0;
  bool dynamic_shapes = false;
};

// ---- Log ----------------------------------------------------------------------------------------

enum class LogLevel : int {
  kError = INFERLET_LOG_ERROR,
  kWarning = INFERLET_LOG_WARNING,
  kInfo = INFERLET_LOG_INFO,
  kVerbose = INFERLET_LOG_VERBOSE,
};

// message lives for the duration of the call.
using LogFunction = std::function<void(LogLevel level, std::string_view message)>;

namespace detail {

// The process's one log function. The library may still be calling the previous one on another
// thread when it is replaced, so each call holds its own reference to the function it runs.
struct LogSlot {
  std::mutex mutex;
  std::shared_ptr<const LogFunction> function;
};

inline LogSlot& TheLogSlot() {
  static LogSlot slot;
  return slot;
}

inline void ForwardLog(void*, inferlet_log_level level, const char* message) noexcept {
  std::shared_ptr<const LogFunction> function;
  {
    LogSlot& slot = TheLogSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    function = slot.function;
  }
  if (!function) return;
  // Not under the lock, so that the function may itself call into the library or SetLog. What it
  // throws cannot cross the library, and is dropped.
  try {
    (*function)(static_cast<LogLevel>(level), message ? message : "");
  } catch (...) {
  }
}

}  // namespace detail

// Installs function for every message at or below threshold, the library's and TensorRT's, called
// from whichever thread made the call; an empty function logs nothing. The wrapper keeps it until it
// is replaced and no call of it is still running.
inline void SetLog(LogFunction function, LogLevel threshold = LogLevel::kWarning) {
  std::shared_ptr<const LogFunction> held;
  if (function) held = std::make_shared<const LogFunction>(std::move(function));
  detail::LogSlot& slot = detail::TheLogSlot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  // Under the lock, so that the slot and the library's threshold change together.
  inferlet_set_log(held ? detail::ForwardLog : nullptr, nullptr, static_cast<inferlet_log_level>(threshold));
  held.swap(slot.function);
  // The previous function goes with `held`, after the lock: its destructor may call SetLog too.
}

// The TensorRT major the linked library was built for.
inline int TensorRtMajor() noexcept { return inferlet_tensorrt_major(); }

// ---- Plugins ------------------------------------------------------------------------------------

// Loads a library of TensorRT plugins into the linked library's TensorRT, before the engines whose
// layers need it: inferlet_plugin_library_load, whose status TryLoadPluginLibrary answers and
// LoadPluginLibrary throws.
inline Status TryLoadPluginLibrary(const std::string& path) {
  return Status(inferlet_plugin_library_load(path.c_str()));
}
inline void LoadPluginLibrary(const std::string& path) { TryLoadPluginLibrary(path).ThrowIfError(); }

// ---- Engines ------------------------------------------------------------------------------------

// What inferlet_engine_config_init sets, as defaults.
struct EngineOptions {
  int32_t device = 0;
  // A version-compatible engine (TensorRT 10 and later) holds host code that TensorRT runs in this
  // process: allow it only for engines from a trusted source. Changes nothing on 7 and 8.
  bool allow_host_code = false;
};

class Engine {
 public:
  Engine() noexcept = default;  // empty
  explicit Engine(inferlet_engine* adopted) noexcept : engine_(adopted) {}
  ~Engine() { inferlet_engine_release(engine_); }
  Engine(Engine&& other) noexcept : engine_(std::exchange(other.engine_, nullptr)) {}
  Engine& operator=(Engine&& other) noexcept {
    if (this != &other) {
      inferlet_engine_release(engine_);
      engine_ = std::exchange(other.engine_, nullptr);
    }
    return *this;
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Deserializes size bytes on CUDA device `device`; the bytes may go once it returns.
  static Engine Load(const void* bytes, size_t size, int device = 0) {
    Engine engine;
    TryLoad(bytes, size, device, &engine).ThrowIfError();
    return engine;
  }
  template <typename Range, typename = detail::IfContiguous<const Range>>
  static Engine Load(const Range& bytes, int device = 0) {
    return Load(std::data(bytes), detail::ByteSize(bytes), device);
  }
  // The same with options (inferlet_engine_load_with_config).
  static Engine Load(const void* bytes, size_t size, const EngineOptions& options) {
    Engine engine;
    TryLoad(bytes, size, options, &engine).ThrowIfError();
    return engine;
  }
  template <typename Range, typename = detail::IfContiguous<const Range>>
  static Engine Load(const Range& bytes, const EngineOptions& options) {
    return Load(std::data(bytes), detail::ByteSize(bytes), options);
  }
  // A file it cannot read is Code::kInvalidArgument.
  static Engine LoadFile(const std::string& path, int device = 0) {
    EngineOptions options;
    options.device = device;
    return LoadFile(path, options);
  }
  static Engine LoadFile(const std::string& path, const EngineOptions& options) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.is_open() || file.bad())
      throw Error(Code::kInvalidArgument, "cannot read engine file '" + path + "'");
    return Load(bytes, options);
  }
  // *engine is left as it was on failure.
  static Status TryLoad(const void* bytes, size_t size, int device, Engine* engine) {
    inferlet_engine* loaded = nullptr;
    Status status(inferlet_engine_load(bytes, size, device, &loaded));
    if (status.ok()) *engine = Engine(loaded);
    return status;
  }
  static Status TryLoad(const void* bytes, size_t size, const EngineOptions& options, Engine* engine) {
    inferlet_engine_config config;
    inferlet_engine_config_init(&config);
    config.device = options.device;
    config.allow_host_code = options.allow_host_code ? 1 : 0;
    inferlet_engine* loaded = nullptr;
    Status status(inferlet_engine_load_with_config(bytes, size, &config, &loaded));
    if (status.ok()) *engine = Engine(loaded);
    return status;
  }

  explicit operator bool() const noexcept { return engine_ != nullptr; }
  inferlet_engine* get() const noexcept { return engine_; }

  int32_t TensorCount() const {
    int32_t count = 0;
    detail::Check(inferlet_engine_tensor_count(engine_, &count));
    return count;
  }
  TensorInfo Tensor(int32_t index) const {
    inferlet_tensor_info info{};
    detail::Check(inferlet_engine_tensor_info(engine_, index, &info));
    return {info.name ? info.name : "", info.is_input != 0, info.dtype,       info.format,
            info.on_host != 0,          info.item_size,     Shape(info.shape)};
  }
  // In the engine's order of its I/O tensors.
  std::vector<TensorInfo> Tensors() const {
    std::vector<TensorInfo> tensors;
    const int32_t count = TensorCount();
    for (int32_t t = 0; t < count; ++t) tensors.push_back(Tensor(t));
    return tensors;
  }
  int32_t TensorFormat(int32_t index, int32_t profile) const {
    int32_t format = 0;
    detail::Check(inferlet_engine_tensor_format(engine_, index, profile, &format));
    return format;
  }
  int32_t ProfileCount() const {
    int32_t count = 0;
    detail::Check(inferlet_engine_profile_count(engine_, &count));
    return count;
  }
  // input_index as Tensor() numbers the tensors; an output's is refused.
  ShapeRange ProfileShapes(int32_t profile, int32_t input_index) const {
    return AtEachPoint(
        [&](inferlet_profile_point point) { return ProfileShape(profile, input_index, point); });
  }
  // Any tensor, outputs as TensorRT infers them for the inputs at each point (the first question about
  // a profile makes a context on it: see inferlet_engine_profile_resolved_shape).
  ShapeRange ResolvedShapes(int32_t profile, int32_t index) const {
    return AtEachPoint([&](inferlet_profile_point point) { return ResolvedShape(profile, index, point); });
  }
  // A shape tensor input's values (see inferlet_engine_profile_tensor_values); any other tensor is
  // refused.
  ValueRange ProfileValues(int32_t profile, int32_t input_index) const {
    return AtEachPoint(
        [&](inferlet_profile_point point) { return ProfileValues(profile, input_index, point); });
  }
  EngineMemory DeviceMemory() const {
    EngineMemory memory;
    detail::Check(inferlet_engine_device_memory(engine_, &memory.engine_bytes, &memory.context_bytes));
    return memory;
  }
  EngineProperties Properties() const {
    inferlet_engine_properties properties;
    inferlet_engine_properties_init(&properties);
    detail::Check(inferlet_engine_get_properties(engine_, &properties));
    return {properties.name ? properties.name : "", properties.max_batch_size, properties.refittable != 0,
            properties.binding_count, properties.dynamic_shapes != 0};
  }

 private:
  // read(point) at min, opt and max, in that order.
  template <typename Read>
  static auto AtEachPoint(Read read) -> AtProfilePoints<decltype(read(INFERLET_PROFILE_MIN))> {
    return {read(INFERLET_PROFILE_MIN), read(INFERLET_PROFILE_OPT), read(INFERLET_PROFILE_MAX)};
  }
  Shape ProfileShape(int32_t profile, int32_t input_index, inferlet_profile_point point) const {
    inferlet_shape shape{};
    detail::Check(inferlet_engine_profile_shape(engine_, profile, input_index, point, &shape));
    return Shape(shape);
  }
  Shape ResolvedShape(int32_t profile, int32_t index, inferlet_profile_point point) const {
    inferlet_shape shape{};
    detail::Check(inferlet_engine_profile_resolved_shape(engine_, profile, index, point, &shape));
    return Shape(shape);
  }

  std::vector<int64_t> ProfileValues(int32_t profile, int32_t input_index,
                                     inferlet_profile_point point) const {
    size_t count = 0;
    // Asked with no room first: only the refusal that says how many there are writes count; any other
    // answer is thrown.
    inferlet_status* sizing =
        inferlet_engine_profile_tensor_values(engine_, profile, input_index, point, nullptr, 0, &count);
    if (count == 0) {
      detail::Check(sizing);
      return {};
    }
    inferlet_status_release(sizing);
    std::vector<int64_t> values(count);
    detail::Check(inferlet_engine_profile_tensor_values(engine_, profile, input_index, point, values.data(),
                                                        count, &count));
    return values;
  }

  inferlet_engine* engine_ = nullptr;
};

// ---- Calls --------------------------------------------------------------------------------------

enum class Memory : int {
  kHost = INFERLET_MEMORY_HOST,      // pageable: inputs staged during Enqueue, outputs copied by Wait
  kPinned = INFERLET_MEMORY_PINNED,  // page-locked: used directly until the call is waited for
  kDevice = INFERLET_MEMORY_DEVICE,  // of the engine's device, cudaMalloc-aligned: used in place
};

// One input of a call, with its full shape. The memory data points at must stay as the memory kind
// requires (host memory: until Enqueue returns; pinned and device: until the call is waited for).
struct Input {
  std::string name;
  const void* data = nullptr;
  size_t bytes = 0;
  Shape shape;
  Memory memory = Memory::kHost;

  Input() = default;
  Input(std::string tensor, const void* address, size_t capacity, Shape extents, Memory kind)
      : name(std::move(tensor)), data(address), bytes(capacity), shape(extents), memory(kind) {}
  template <typename Range, typename = detail::IfContiguous<const Range>>
  Input(std::string tensor, const Range& values, Shape extents, Memory kind = Memory::kHost)
      : Input(std::move(tensor), std::data(values), detail::ByteSize(values), extents, kind) {}
};

// One output of a call. Enqueue and Run write shape with what the engine resolved (a data-dependent
// output's too: TensorRT tells it before its enqueue returns); the values are in place once the call is
// waited for. ResolveShapes writes shape (-1 in the extents a data-dependent output learns only as the
// call runs), data_dependent and max_bytes, the bytes its buffer must hold at those input shapes.
struct Output {
  std::string name;
  void* data = nullptr;
  size_t bytes = 0;
  Memory memory = Memory::kHost;
  Shape shape;
  bool data_dependent = false;
  uint64_t max_bytes = 0;

  Output() = default;
  Output(std::string tensor, void* address, size_t capacity, Memory kind)
      : name(std::move(tensor)), data(address), bytes(capacity), memory(kind) {}
  template <typename Range, typename = detail::IfContiguous<Range>>
  Output(std::string tensor, Range& values, Memory kind = Memory::kHost)
      : Output(std::move(tensor), std::data(values), detail::ByteSize(values), kind) {}
  // The call writes into an output: a const range or a temporary would not keep what it writes.
  template <typename Range, typename = detail::IfContiguous<const Range>>
  Output(std::string tensor, const Range& values, Memory kind = Memory::kHost) = delete;
};

namespace detail {

// A call's tensors in their C form: on the stack for up to kOnStack of them, so that a call through the
// wrapper allocates no more than one through the C header.
class CTensors {
 public:
  static constexpr size_t kOnStack = 8;
  explicit CTensors(size_t count) : count_(count) {
    if (count > kOnStack) {
      spilled_.resize(count);
      data_ = spilled_.data();
    }
  }
  CTensors(const CTensors&) = delete;
  CTensors& operator=(const CTensors&) = delete;

  inferlet_tensor* data() noexcept { return data_; }
  size_t size() const noexcept { return count_; }
  inferlet_tensor& operator[](size_t k) noexcept { return data_[k]; }

 private:
  std::array<inferlet_tensor, kOnStack> on_stack_{};
  std::vector<inferlet_tensor> spilled_;
  size_t count_;
  inferlet_tensor* data_ = on_stack_.data();
};

inline inferlet_tensor ToC(const Input& input) {
  return {input.name.c_str(), static_cast<inferlet_memory>(input.memory), const_cast<void*>(input.data),
          input.bytes, input.shape.c_shape()};
}

inline inferlet_tensor ToC(const Output& output) {
  return {output.name.c_str(), static_cast<inferlet_memory>(output.memory), output.data, output.bytes,
          output.shape.c_shape()};
}

}  // namespace detail

// ---- Sessions -----------------------------------------------------------------------------------

// What inferlet_session_config_init sets, as defaults.
struct SessionOptions {
  int32_t profile = 0;
  bool cuda_graphs = false;      // capture each (shapes, buffers) once and replay it
  int32_t graph_cache_size = 8;  // graphs kept, the least recently used dropped first; at least 1
  void* stream = nullptr;        // a cudaStream_t of the engine's device; null: the session's own
  bool phase_timing = false;     // time each call's phases on the device (Session::PhaseTimes)
  // The kinds the calls will use, {Memory::kDevice}: the session then takes memory only for those, and
  // refuses a call's tensor of another kind (Code::kInvalidArgument). Empty: every kind.
  std::vector<Memory> memory_kinds;
};

// The last completed call's device time per phase, in milliseconds; a replayed graph is all compute.
using PhaseTimes = inferlet_phase_times;

class Session {
 public:
  Session() noexcept = default;  // empty
  explicit Session(inferlet_session* adopted) noexcept : session_(adopted) {}
  // One execution context of engine on options.profile; holds the engine.
  explicit Session(const Engine& engine, const SessionOptions& options = {}) {
    TryCreate(engine, options, this).ThrowIfError();
  }
  // Waits for a call still running, then releases everything the session holds.
  ~Session() { inferlet_session_release(session_); }
  Session(Session&& other) noexcept : session_(std::exchange(other.session_, nullptr)) {}
  Session& operator=(Session&& other) noexcept {
    if (this != &other) {
      inferlet_session_release(session_);
      session_ = std::exchange(other.session_, nullptr);
    }
    return *this;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // *session is left as it was on failure (Code::kProfileInUse, ...).
  static Status TryCreate(const Engine& engine, const SessionOptions& options, Session* session) {
    inferlet_session_config config;
    inferlet_session_config_init(&config);
    config.profile = options.profile;
    config.cuda_graphs = options.cuda_graphs ? 1 : 0;
    config.graph_cache_size = options.graph_cache_size;
    config.stream = options.stream;
    config.phase_timing = options.phase_timing ? 1 : 0;
    for (Memory kind : options.memory_kinds) config.memory_kinds |= uint64_t{1} << static_cast<int>(kind);
    inferlet_session* made = nullptr;
    Status status(inferlet_session_create_with_config(engine.get(), &config, &made));
    if (status.ok()) *session = Session(made);
    return status;
  }

  explicit operator bool() const noexcept { return session_ != nullptr; }
  inferlet_session* get() const noexcept { return session_; }

  // Every input and every output of the engine, each once, in any order.
  void Run(const std::vector<Input>& inputs, std::vector<Output>& outputs) {
    TryRun(inputs, outputs).ThrowIfError();
  }
  // Returns once the call is queued, with the outputs' shapes written; Wait completes it.
  void Enqueue(const std::vector<Input>& inputs, std::vector<Output>& outputs) {
    TryEnqueue(inputs, outputs).ThrowIfError();
  }
  void Wait() { TryWait().ThrowIfError(); }
  Status TryRun(const std::vector<Input>& inputs, std::vector<Output>& outputs) {
    return Call(inferlet_session_run, inputs, outputs);
  }
  Status TryEnqueue(const std::vector<Input>& inputs, std::vector<Output>& outputs) {
    return Call(inferlet_session_enqueue, inputs, outputs);
  }
  Status TryWait() { return Status(inferlet_session_wait(session_)); }
  // Writes the outputs' shapes a call with these inputs resolves, whether each is data-dependent and
  // the bytes each may take, so that they can be sized first; nothing runs. Only the inputs' names and
  // shapes (and shape tensors' memory and values) and the outputs' names are read.
  void ResolveShapes(const std::vector<Input>& inputs, std::vector<Output>& outputs) {
    std::vector<inferlet_output_bound> bounds(outputs.size());
    for (inferlet_output_bound& bound : bounds) inferlet_output_bound_init(&bound);
    const auto resolve = [&bounds](inferlet_session* session, const inferlet_tensor* c_inputs,
                                   size_t input_count, inferlet_tensor* c_outputs, size_t output_count) {
      return inferlet_session_resolve_output_bounds(session, c_inputs, input_count, c_outputs, output_count,
                                                    bounds.data());
    };
    Status status = Call(resolve, inputs, outputs);
    status.ThrowIfError();
    for (size_t j = 0; j < outputs.size(); ++j) {
      outputs[j].data_dependent = bounds[j].data_dependent != 0;
      outputs[j].max_bytes = bounds[j].max_bytes;
    }
  }

  // The session's cudaEvent_t, recorded after the enqueued call's work (Code::kNotRunning without one).
  void* Event() const {
    void* event = nullptr;
    detail::Check(inferlet_session_event(session_, &event));
    return event;
  }
  // The session's cudaStream_t, and orderings against a host's stream (a cudaStream_t of the engine's
  // device, cudaStreamLegacy or cudaStreamPerThread), queued on the device: the session's later work
  // after what stream has queued (WaitStream), or stream's later work after the session's (OrderStream).
  void* Stream() const {
    void* stream = nullptr;
    detail::Check(inferlet_session_stream(session_, &stream));
    return stream;
  }
  void WaitStream(void* stream) { detail::Check(inferlet_session_wait_stream(session_, stream)); }
  void OrderStream(void* stream) { detail::Check(inferlet_session_order_stream(session_, stream)); }
  // TensorRT's context memory plus the session's device buffers.
  size_t DeviceMemory() const {
    size_t bytes = 0;
    detail::Check(inferlet_session_device_memory(session_, &bytes));
    return bytes;
  }
  // Code::kInvalidArgument without SessionOptions::phase_timing, Code::kNotRunning before a call completed.
  PhaseTimes LastPhaseTimes() const {
    PhaseTimes times{};
    detail::Check(inferlet_session_phase_times(session_, &times));
    return times;
  }

 private:
  template <typename CCall>
  Status Call(CCall call, const std::vector<Input>& inputs, std::vector<Output>& outputs) {
    detail::CTensors c_inputs(inputs.size()), c_outputs(outputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) c_inputs[i] = detail::ToC(inputs[i]);
    for (size_t j = 0; j < outputs.size(); ++j) c_outputs[j] = detail::ToC(outputs[j]);
    Status status(call(session_, c_inputs.data(), c_inputs.size(), c_outputs.data(), c_outputs.size()));
    // A refusal leaves the shapes as they were, which is what they are copied back as.
    for (size_t j = 0; j < outputs.size(); ++j) outputs[j].shape = Shape(c_outputs[j].shape);
    return status;
  }

  inferlet_session* session_ = nullptr;
};

// Device or pinned memory (Memory::kDevice, Memory::kPinned) of one device, allocated by the library
// (inferlet_memory_allocate) for hosts without a CUDA runtime of their own; freed when it goes, after the
// device's work that may use it.
class DeviceBuffer {
 public:
  DeviceBuffer() noexcept = default;  // empty
  DeviceBuffer(int device, Memory kind, size_t bytes)
      : device_(device), kind_(static_cast<inferlet_memory>(kind)) {
    detail::Check(inferlet_memory_allocate(device, kind_, bytes, &data_));
  }
  ~DeviceBuffer() { Reset(); }
  DeviceBuffer(DeviceBuffer&& other) noexcept
      : device_(other.device_), kind_(other.kind_), data_(std::exchange(other.data_, nullptr)) {}
  DeviceBuffer& operator=(DeviceBuffer&& other) noexcept {
    if (this != &other) {
      Reset();
      device_ = other.device_;
      kind_ = other.kind_;
      data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
  }
  DeviceBuffer(const DeviceBuffer&) = delete;
  DeviceBuffer& operator=(const DeviceBuffer&) = delete;

  void* data() const noexcept { return data_; }
  Memory kind() const noexcept { return static_cast<Memory>(kind_); }
  void Reset() noexcept {
    if (data_) inferlet_status_release(inferlet_memory_free(device_, kind_, std::exchange(data_, nullptr)));
  }

 private:
  int device_ = 0;
  inferlet_memory kind_ = INFERLET_MEMORY_DEVICE;
  void* data_ = nullptr;
};

// bytes from src to dst, of any memory kinds, on stream of device; returns once the copy is done.
inline void CopyMemory(int device, void* dst, const void* src, size_t bytes, void* stream) {
  detail::Check(inferlet_memory_copy(device, dst, src, bytes, stream));
}

}  // namespace inferlet

#endif  // INFERLET_SESSIONS_HPP_
