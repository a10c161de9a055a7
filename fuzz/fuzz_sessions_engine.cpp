// Any bytes as an engine of the sessions interface: through inferlet_engine_load as given, and through
// inferlet_engine_load_with_config with the stand-in engine header's payload size and CRC-32 made to
// match (so that mutations reach the engines behind the checksum). A refusal must answer a code of the
// documented set with a message and leave *engine alone. An engine that loads is described through
// every description function, each answer held against the others and every out-of-range question
// refused without writing; then it serves a session on profile 0 and one call at the profile's
// smallest shapes. Once the session and the engine are released, the emulated device and TensorRT hold
// nothing.
#include <cudaemu.h>
#include <inferlet_sessions.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_sessions_support.h"
#include "fuzz_support.h"

using inferlet_fuzz::Answer;
using inferlet_fuzz::CallBuffer;
using inferlet_fuzz::CheckAllReleased;
using inferlet_fuzz::CheckNoViolations;
using inferlet_fuzz::EngineHandle;
using inferlet_fuzz::Expect;
using inferlet_fuzz::Finding;
using inferlet_fuzz::SameShape;
using inferlet_fuzz::SessionHandle;
using inferlet_fuzz::ShapeBytes;
using inferlet_fuzz::Take;

namespace {

// Engines whose execution contexts or tensors would take more are valid requests for that much memory,
// not faults: the emulated device has this much, no execution context is made past kMaxContextBytes
// or for tensors past kMaxTensorElements (TensorRT's own buffers grow with them), and a call's
// buffers are left out past kMaxCallBytes.
constexpr size_t kDeviceCapacity = size_t{256} << 20;
constexpr int64_t kMaxContextBytes = int64_t{64} << 20;
constexpr int64_t kMaxTensorElements = int64_t{4} << 20;
constexpr int64_t kMaxCallBytes = int64_t{4} << 20;

// What the description functions said of the engine.
struct Described {
  std::vector<inferlet_tensor_info> tensors;
  std::vector<int> bits;  // per tensor, of its data type
  int32_t profiles = 0;
  bool dynamic_shapes = false;
  size_t context_bytes = 0;
  // The inputs' largest extent and element count under any profile, bounds of every tensor's.
  int64_t largest_extent = 1;
  int64_t largest_input = 1;
};

int64_t Elements(const inferlet_shape& shape, int64_t unknown_extent) {
  int64_t elements = 1;
  for (int k = 0; k < shape.rank && k < INFERLET_MAX_DIMS; ++k) {
    const int64_t extent = shape.dims[k] < 0 ? unknown_extent : shape.dims[k];
    if (extent > 0 && elements > kMaxTensorElements / extent) return kMaxTensorElements + 1;
    elements *= extent;
  }
  return elements;
}

// An execution context on the engine would hold more than is made here: its outputs' extents that
// profiles set are bounded by the inputs' largest.
bool TooLargeForContexts(const Described& d) {
  if (static_cast<int64_t>(d.context_bytes) > kMaxContextBytes || d.largest_input > kMaxTensorElements) {
    return true;
  }
  for (const inferlet_tensor_info& info : d.tensors) {
    if (Elements(info.shape, d.largest_extent) > kMaxTensorElements) return true;
  }
  return false;
}

template <typename T>
T Filled() {
  T value;
  std::memset(static_cast<void*>(&value), 0x5A, sizeof value);
  return value;
}

template <typename T>
void ExpectUntouched(const T& value, const char* what) {
  const T filled = Filled<T>();
  if (std::memcmp(&value, &filled, sizeof value) != 0) Finding(std::string(what) + " wrote its output");
}

inferlet_engine* Load(const uint8_t* data, size_t size, bool with_config, bool allow_host_code) {
  inferlet_engine* engine = inferlet_fuzz::UntouchedEngine();
  inferlet_engine_config config;
  inferlet_engine_config_init(&config);
  config.allow_host_code = allow_host_code ? 1 : 0;
  const Answer answer = Take(with_config ? inferlet_engine_load_with_config(data, size, &config, &engine)
                                         : inferlet_engine_load(data, size, 0, &engine),
                             "inferlet_engine_load");
  if (answer.code == INFERLET_OK) {
    if (engine == inferlet_fuzz::UntouchedEngine() || engine == nullptr) Finding("a load without an engine");
    return engine;
  }
  if (engine != inferlet_fuzz::UntouchedEngine()) Finding("a refused load wrote *engine");
  const bool expected = size == 0
                            ? answer.code == INFERLET_INVALID_ARGUMENT
                            : answer.code == INFERLET_ENGINE_REFUSED || answer.code == INFERLET_OUT_OF_MEMORY;
  if (!expected) Finding(std::string("a load refused with ") + inferlet_code_name(answer.code));
  return nullptr;
}

void DescribeTensor(const inferlet_engine* engine, int32_t index, Described* described) {
  inferlet_tensor_info info = Filled<inferlet_tensor_info>();
  Expect(inferlet_engine_tensor_info(engine, index, &info), INFERLET_OK, "inferlet_engine_tensor_info");
  if (info.name == nullptr || (info.is_input != 0 && info.is_input != 1) || info.shape.rank < 0 ||
      info.shape.rank > INFERLET_MAX_DIMS || info.item_size < 1) {
    Finding("inferlet_engine_tensor_info described tensor " + std::to_string(index) + " out of bounds");
  }
  inferlet_data_type_info type;
  inferlet_data_type_info_init(&type);
  Expect(inferlet_describe_data_type(info.dtype, &type), INFERLET_OK, "inferlet_describe_data_type");
  if (info.item_size != (type.bits < 8 ? 1 : type.bits / 8)) Finding("item_size differs from the data type");
  for (int k = 0; k < info.shape.rank; ++k) {
    if (info.is_input && info.shape.dims[k] < 0) described->dynamic_shapes = true;
  }
  described->tensors.push_back(info);
  described->bits.push_back(type.bits);
}

// An input's range under one profile: its three points; an output or a point that is none refused.
void DescribeRange(const inferlet_engine* engine, int32_t profile, int32_t index, Described* d) {
  const inferlet_tensor_info& info = d->tensors[static_cast<size_t>(index)];
  std::array<inferlet_shape, 3> points;
  for (int point = 0; point < 3; ++point) {
    inferlet_shape& shape = points[static_cast<size_t>(point)];
    shape = Filled<inferlet_shape>();
    const inferlet_code expected = info.is_input ? INFERLET_OK : INFERLET_INVALID_ARGUMENT;
    Expect(inferlet_engine_profile_shape(engine, profile, index, static_cast<inferlet_profile_point>(point),
                                         &shape),
           expected, "inferlet_engine_profile_shape");
    if (!info.is_input) ExpectUntouched(shape, "a refused inferlet_engine_profile_shape");
  }
  inferlet_shape beyond = Filled<inferlet_shape>();
  Expect(
      inferlet_engine_profile_shape(engine, profile, index, static_cast<inferlet_profile_point>(3), &beyond),
      INFERLET_INVALID_ARGUMENT, "inferlet_engine_profile_shape");
  ExpectUntouched(beyond, "a refused inferlet_engine_profile_shape");
  if (!info.is_input) return;
  // What the ranges are is TensorRT's to say (the stand-in takes engines whose profiles disagree with
  // their tensors' shapes); what is made of them here only bounds the sizes of the contexts made.
  d->largest_input = std::max(d->largest_input, Elements(points[2], 1));
  for (int k = 0; k < points[2].rank && k < INFERLET_MAX_DIMS; ++k) {
    d->largest_extent = std::max(d->largest_extent, points[2].dims[k]);
  }
}

void DescribeProperties(const inferlet_engine* engine, const Described& d) {
  inferlet_engine_properties properties;
  inferlet_engine_properties_init(&properties);
  Expect(inferlet_engine_get_properties(engine, &properties), INFERLET_OK, "inferlet_engine_get_properties");
  if (properties.name == nullptr || properties.struct_size != sizeof properties ||
      properties.binding_count != static_cast<int32_t>(d.tensors.size()) * d.profiles ||
      properties.dynamic_shapes != (d.dynamic_shapes ? 1 : 0)) {
    Finding("inferlet_engine_get_properties disagrees with the engine's description");
  }
  inferlet_engine_properties shorter = Filled<inferlet_engine_properties>();
  shorter.struct_size = sizeof(size_t);
  Expect(inferlet_engine_get_properties(engine, &shorter), INFERLET_INVALID_ARGUMENT,
         "inferlet_engine_get_properties");
  inferlet_engine_properties expected = Filled<inferlet_engine_properties>();
  expected.struct_size = sizeof(size_t);
  if (std::memcmp(&shorter, &expected, sizeof shorter) != 0) Finding("a refused get_properties wrote");
}

// Every tensor at every point of the profile: inputs as inferlet_engine_profile_shape gives them.
void DescribeResolved(const inferlet_engine* engine, int32_t profile, const Described& d) {
  for (int32_t t = 0; t < static_cast<int32_t>(d.tensors.size()); ++t) {
    for (int point = 0; point < 3; ++point) {
      const auto at = static_cast<inferlet_profile_point>(point);
      inferlet_shape shape = Filled<inferlet_shape>();
      const Answer answer = Take(inferlet_engine_profile_resolved_shape(engine, profile, t, at, &shape),
                                 "inferlet_engine_profile_resolved_shape");
      if (answer.code == INFERLET_TENSORRT_ERROR || answer.code == INFERLET_OUT_OF_MEMORY) {
        ExpectUntouched(shape, "a refused inferlet_engine_profile_resolved_shape");
        continue;
      }
      if (answer.code != INFERLET_OK) Finding("inferlet_engine_profile_resolved_shape: " + answer.message);
      if (shape.rank < 0 || shape.rank > INFERLET_MAX_DIMS) Finding("a resolved shape of rank out of bounds");
      if (!d.tensors[static_cast<size_t>(t)].is_input) continue;
      inferlet_shape given;
      Expect(inferlet_engine_profile_shape(engine, profile, t, at, &given), INFERLET_OK,
             "inferlet_engine_profile_shape");
      if (!SameShape(given, shape)) Finding("an input's resolved shape differs from its profile's");
    }
  }
}

// Questions out of range are refused and write nothing.
void AskOutOfRange(const inferlet_engine* engine, const Described& d) {
  const auto count = static_cast<int32_t>(d.tensors.size());
  for (const int32_t index : {int32_t{-1}, count, INT_MIN}) {
    inferlet_tensor_info info = Filled<inferlet_tensor_info>();
    Expect(inferlet_engine_tensor_info(engine, index, &info), INFERLET_INVALID_ARGUMENT,
           "inferlet_engine_tensor_info");
    ExpectUntouched(info, "a refused inferlet_engine_tensor_info");
    int32_t format = Filled<int32_t>();
    Expect(inferlet_engine_tensor_format(engine, index, 0, &format), INFERLET_INVALID_ARGUMENT,
           "inferlet_engine_tensor_format");
    ExpectUntouched(format, "a refused inferlet_engine_tensor_format");
  }
  for (const int32_t profile : {int32_t{-1}, d.profiles}) {
    for (int32_t t = 0; t < count; ++t) {
      int32_t format = Filled<int32_t>();
      Expect(inferlet_engine_tensor_format(engine, t, profile, &format), INFERLET_INVALID_ARGUMENT,
             "inferlet_engine_tensor_format");
      inferlet_shape shape = Filled<inferlet_shape>();
      Expect(inferlet_engine_profile_shape(engine, profile, t, INFERLET_PROFILE_MIN, &shape),
             INFERLET_INVALID_ARGUMENT, "inferlet_engine_profile_shape");
      Expect(inferlet_engine_profile_resolved_shape(engine, profile, t, INFERLET_PROFILE_MIN, &shape),
             INFERLET_INVALID_ARGUMENT, "inferlet_engine_profile_resolved_shape");
      ExpectUntouched(format, "a refused inferlet_engine_tensor_format");
      ExpectUntouched(shape, "a refused profile shape");
    }
  }
}

Described Describe(const inferlet_engine* engine) {
  Described d;
  int32_t count = -1;
  Expect(inferlet_engine_tensor_count(engine, &count), INFERLET_OK, "inferlet_engine_tensor_count");
  Expect(inferlet_engine_profile_count(engine, &d.profiles), INFERLET_OK, "inferlet_engine_profile_count");
  if (count < 0 || d.profiles < 0) Finding("a negative tensor or profile count");
  for (int32_t t = 0; t < count; ++t) DescribeTensor(engine, t, &d);
  for (int32_t t = 0; t < count; ++t) {
    for (int32_t p = 0; p < d.profiles; ++p) {
      int32_t format = -1;
      Expect(inferlet_engine_tensor_format(engine, t, p, &format), INFERLET_OK,
             "inferlet_engine_tensor_format");
      if (p == 0 && format != d.tensors[static_cast<size_t>(t)].format) Finding("profile 0's format differs");
      DescribeRange(engine, p, t, &d);
    }
  }
  size_t engine_bytes = 0;
  Expect(inferlet_engine_device_memory(engine, &engine_bytes, &d.context_bytes), INFERLET_OK,
         "inferlet_engine_device_memory");
  DescribeProperties(engine, d);
  AskOutOfRange(engine, d);
  return d;
}

// One call at the smallest input shapes of profile 0, in host memory: the outputs' shapes as
// inferlet_session_resolve_shapes said, written by the call.
void CallOnce(inferlet_session* session, const inferlet_engine* engine, const Described& d) {
  std::vector<inferlet_tensor> inputs, outputs;
  std::vector<std::unique_ptr<CallBuffer>> buffers;
  int64_t total = 0;
  for (int32_t t = 0; t < static_cast<int32_t>(d.tensors.size()); ++t) {
    const inferlet_tensor_info& info = d.tensors[static_cast<size_t>(t)];
    inferlet_tensor tensor{info.name, INFERLET_MEMORY_HOST, nullptr, 0, Filled<inferlet_shape>()};
    if (info.is_input) {
      Expect(inferlet_engine_profile_shape(engine, 0, t, INFERLET_PROFILE_MIN, &tensor.shape), INFERLET_OK,
             "inferlet_engine_profile_shape");
    }
    (info.is_input ? inputs : outputs).push_back(tensor);
  }
  const Answer resolved = Take(
      inferlet_session_resolve_shapes(session, inputs.data(), inputs.size(), outputs.data(), outputs.size()),
      "inferlet_session_resolve_shapes");
  if (resolved.code == INFERLET_TENSORRT_ERROR) return;
  if (resolved.code != INFERLET_OK)
    Finding("resolve_shapes at the profile's smallest shapes: " + resolved.message);
  std::vector<inferlet_shape> expected;
  size_t next[2] = {0, 0};
  for (size_t t = 0; t < d.tensors.size(); ++t) {
    inferlet_tensor& tensor = d.tensors[t].is_input ? inputs[next[0]++] : outputs[next[1]++];
    const int64_t bytes = ShapeBytes(tensor.shape, d.bits[t]);
    if (bytes < 0 || bytes > kMaxCallBytes - total) return;  // too large a call to make here
    total += bytes;
    buffers.push_back(std::make_unique<CallBuffer>(INFERLET_MEMORY_HOST, static_cast<size_t>(bytes)));
    buffers.back()->Write(std::vector<uint8_t>(static_cast<size_t>(bytes), 0));
    tensor.data = buffers.back()->data();
    tensor.bytes = static_cast<size_t>(bytes);
  }
  for (inferlet_tensor& output : outputs) {
    expected.push_back(output.shape);
    output.shape = Filled<inferlet_shape>();
  }
  Expect(inferlet_session_run(session, inputs.data(), inputs.size(), outputs.data(), outputs.size()),
         INFERLET_OK, "inferlet_session_run");
  for (size_t j = 0; j < outputs.size(); ++j) {
    if (!SameShape(outputs[j].shape, expected[j]))
      Finding("a call's output shape differs from resolve_shapes'");
  }
  CheckNoViolations();
}

// A session on profile 0 and, where its profiles serve one session at a time, a second refused.
void ServeSession(inferlet_engine* engine, const Described& d) {
  if (d.profiles < 1 || TooLargeForContexts(d)) return;
  inferlet_session_config config;
  inferlet_session_config_init(&config);
  inferlet_session* made = inferlet_fuzz::UntouchedSession();
  const Answer answer = Take(inferlet_session_create_with_config(engine, &config, &made), "session_create");
  if (answer.code != INFERLET_OK) {
    if (answer.code != INFERLET_UNSUPPORTED_TENSOR && answer.code != INFERLET_OUT_OF_MEMORY &&
        answer.code != INFERLET_TENSORRT_ERROR) {
      Finding("a session refused with " + std::string(inferlet_code_name(answer.code)) + ": " +
              answer.message);
    }
    if (made != inferlet_fuzz::UntouchedSession()) Finding("a refused session creation wrote *session");
    return;
  }
  const SessionHandle session(made);
  inferlet_session* second = inferlet_fuzz::UntouchedSession();
  const Answer again = Take(inferlet_session_create_with_config(engine, &config, &second), "session_create");
  if (d.dynamic_shapes) {
    if (again.code != INFERLET_PROFILE_IN_USE || second != inferlet_fuzz::UntouchedSession()) {
      Finding("a second session on a profile of dynamic shapes was not refused as in use");
    }
  } else if (again.code == INFERLET_OK) {
    inferlet_session_release(second);
  }
  CallOnce(session.get(), engine, d);
}

void TryEngine(const uint8_t* data, size_t size, bool with_config, bool allow_host_code) {
  inferlet_engine* loaded = Load(data, size, with_config, allow_host_code);
  if (loaded != nullptr) {
    const EngineHandle engine(loaded);
    const Described d = Describe(engine.get());
    if (d.profiles > 0 && !TooLargeForContexts(d)) {
      DescribeResolved(engine.get(), 0, d);
    }
    ServeSession(engine.get(), d);
  }
  CheckAllReleased("the session and the engine were released");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  inferlet_fuzz::SilenceStdout();
  cudaemu_set_memory_capacity(kDeviceCapacity);
  inferlet_fuzz::InstallCheckingLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TryEngine(data, size, /*with_config=*/false, false);
  const std::vector<uint8_t> patched = inferlet_fuzz::WithHeaderFixed(data, size);
  if (!patched.empty()) TryEngine(patched.data(), patched.size(), /*with_config=*/true, (size & 1) != 0);
  return 0;
}
