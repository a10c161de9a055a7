// Calls of the sessions interface on two sample engines loaded once: two_profiles (two profiles, one
// output of both inputs) and mixed_rank (inputs of rank 2 and 3, each with an output of its own). Each
// input makes the sessions its records ask for (a profile, CUDA graphs, phase timing, the options of
// either version), drives calls through inferlet_session_resolve_shapes, inferlet_session_run and
// inferlet_session_enqueue with inferlet_session_wait, and releases them all at its end.
//
// The harness works out each call's answer itself, in the order the interface checks a call: names,
// counts, memory kinds, data and ranks (INFERLET_INVALID_ARGUMENT), input shapes against the profile
// (INFERLET_SHAPE_OUT_OF_PROFILE), the inputs' buffers (INFERLET_BUFFER_TOO_SMALL), shapes the network
// cannot combine (INFERLET_TENSORRT_ERROR), the outputs' buffers. A call that succeeds must write the
// outputs' shapes and the network's values byte for byte, and nothing past them; any other must answer
// that code with a message and change nothing. Buffers are exactly as large as the call says, in host,
// pinned or device memory of the emulated device, so that any access past them is caught. After the
// sessions are released the device holds what the engines alone held.
//
// Input layout: records (at most kMaxRecords), each: engine byte (% 2), profile value (ByteReader::Int),
// options byte (bit 0: CUDA graphs, bit 1: phase timing, bit 2: version 1's options, bit 3: a second
// session on the profile too, bits 4-5: graph cache size, bits 6-7: the memory kinds of the session's
// config: all, device, device and pinned, host), operation byte (% 3: resolve_shapes, run,
// enqueue and wait), counts byte (bits 0-2 and 3-5: the input and output counts, bit 6: the engine's
// order reversed, 0xFE and 0xFF: a null input or output array), then per entry of the inputs and of
// the outputs a name byte, a memory byte, a size byte, and for an input its shape (ReadShape).
#include <cudaemu.h>
#include <inferlet_sessions.h>
#include <trt_standin.h>

#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_sessions_call.h"
#include "fuzz_sessions_support.h"
#include "fuzz_support.h"

using inferlet_fuzz::ByteReader;
using inferlet_fuzz::Call;
using inferlet_fuzz::CArrays;
using inferlet_fuzz::CheckNoViolations;
using inferlet_fuzz::Entry;
using inferlet_fuzz::Expect;
using inferlet_fuzz::Expected;
using inferlet_fuzz::Finding;
using inferlet_fuzz::LoadModel;
using inferlet_fuzz::Model;
using inferlet_fuzz::Outcome;
using inferlet_fuzz::ReadCall;
using inferlet_fuzz::SameShape;
using inferlet_fuzz::SessionHandle;
using inferlet_fuzz::ToC;
using inferlet_fuzz::Unwritten;
using inferlet_fuzz::Values;

namespace {

constexpr int kMaxRecords = 8;

// The models and what the device holds with only them loaded; they live as long as the process, never
// released from a static destructor (the library's state may be gone by then), in static storage so
// that the leak checker sees them reachable.
std::vector<Model>& Models() {
  alignas(std::vector<Model>) static unsigned char storage[sizeof(std::vector<Model>)];
  static std::vector<Model>* const models = ::new (storage) std::vector<Model>();
  return *models;
}
size_t baseline_allocations = 0;
size_t baseline_events = 0;

// Nothing of a refused call is written: neither the outputs' shapes nor any buffer.
void CheckUnchanged(const Call& call, const CArrays& arrays, const char* what) {
  const inferlet_shape unwritten = Unwritten();
  for (const inferlet_tensor& output : arrays.sides[0]) {
    if (std::memcmp(&output.shape, &unwritten, sizeof unwritten) != 0) {
      Finding(std::string(what) + " wrote an output's shape");
    }
  }
  for (const auto& side : call.entries) {
    for (const Entry& entry : side) {
      if (entry.buffer->Read() != entry.contents) Finding(std::string(what) + " changed a buffer");
    }
  }
}

// A call that succeeded wrote every output's shape and values, and nothing past them.
void CheckWritten(const Model& model, int profile, const Call& call, const CArrays& arrays, bool values) {
  std::vector<inferlet_shape> shapes;
  std::vector<Values> expected;
  if (!Outcome(model, profile, call, &shapes, &expected)) Finding("a call succeeded with no outcome");
  for (size_t e = 0; e < call.entries[0].size(); ++e) {
    const Entry& entry = call.entries[0][e];
    size_t j = 0;
    while (model.sides[0][j] != entry.tensor) ++j;
    if (!SameShape(arrays.sides[0][e].shape, shapes[j])) Finding("an output's shape is not the network's");
    std::vector<uint8_t> wanted = entry.contents;
    if (values && !expected[j].empty())
      std::memcpy(wanted.data(), expected[j].data(), expected[j].size() * 4);
    if (entry.buffer->Read() != wanted)
      Finding(std::string("output '") + entry.name + "' is not the network's");
  }
}

// What a session remembers of itself.
struct Slot {
  SessionHandle session;
  bool graphs = false;
  bool timing = false;
  uint64_t memory_kinds = 0;  // 0: all
  bool completed = false;     // a call of it has completed
};

void CheckPhaseTimes(const Slot& slot) {
  inferlet_phase_times times{-1.0f, -1.0f, -1.0f, -1};
  const inferlet_code expected = !slot.timing      ? INFERLET_INVALID_ARGUMENT
                                 : !slot.completed ? INFERLET_NOT_RUNNING
                                                   : INFERLET_OK;
  Expect(inferlet_session_phase_times(slot.session.get(), &times), expected, "inferlet_session_phase_times");
  if (expected != INFERLET_OK) return;
  if (times.host_to_device_ms < 0 || times.compute_ms < 0 || times.device_to_host_ms < 0 ||
      times.graph_replay < 0 || times.graph_replay > (slot.graphs ? 1 : 0)) {
    Finding("phase times out of bounds");
  }
}

// enqueue, then everything that must be refused while the call runs, then the wait; host inputs are
// overwritten as soon as enqueue returns.
inferlet_code EnqueueAndWait(Slot& slot, const Call& call, CArrays& arrays, inferlet_code expected) {
  inferlet_session* session = slot.session.get();
  inferlet_tensor* inputs = arrays.array(1, call);
  inferlet_tensor* outputs = arrays.array(0, call);
  const size_t n_in = call.entries[1].size(), n_out = call.entries[0].size();
  Expect(inferlet_session_enqueue(session, inputs, n_in, outputs, n_out), expected,
         "inferlet_session_enqueue");
  void* event = nullptr;
  if (expected != INFERLET_OK) {
    Expect(inferlet_session_event(session, &event), INFERLET_NOT_RUNNING, "inferlet_session_event");
    Expect(inferlet_session_wait(session), INFERLET_NOT_RUNNING, "inferlet_session_wait");
    return expected;
  }
  Expect(inferlet_session_event(session, &event), INFERLET_OK, "inferlet_session_event");
  if (event == nullptr) Finding("inferlet_session_event gave no event");
  Expect(inferlet_session_run(session, inputs, n_in, outputs, n_out), INFERLET_BUSY, "inferlet_session_run");
  Expect(inferlet_session_resolve_shapes(session, inputs, n_in, outputs, n_out), INFERLET_BUSY,
         "inferlet_session_resolve_shapes");
  for (const Entry& entry : call.entries[1]) {
    if (entry.memory == INFERLET_MEMORY_HOST)
      entry.buffer->Write(std::vector<uint8_t>(entry.buffer->bytes(), 0x7F));
  }
  Expect(inferlet_session_wait(session), INFERLET_OK, "inferlet_session_wait");
  Expect(inferlet_session_wait(session), INFERLET_NOT_RUNNING, "inferlet_session_wait");
  return expected;
}

void RunOperation(Slot& slot, const Model& model, int profile, uint8_t operation, const Call& call) {
  const bool resolve_only = operation % 3 == 0;
  const inferlet_code expected = Expected(model, profile, call, !resolve_only, slot.memory_kinds);
  CArrays arrays = ToC(call);
  inferlet_tensor* inputs = arrays.array(1, call);
  inferlet_tensor* outputs = arrays.array(0, call);
  const size_t n_in = call.entries[1].size(), n_out = call.entries[0].size();
  switch (operation % 3) {
    case 0:
      Expect(inferlet_session_resolve_shapes(slot.session.get(), inputs, n_in, outputs, n_out), expected,
             "inferlet_session_resolve_shapes");
      break;
    case 1:
      Expect(inferlet_session_run(slot.session.get(), inputs, n_in, outputs, n_out), expected,
             "inferlet_session_run");
      break;
    default:
      EnqueueAndWait(slot, call, arrays, expected);
      break;
  }
  CheckNoViolations();
  if (expected != INFERLET_OK) return CheckUnchanged(call, arrays, "a refused call");
  CheckWritten(model, profile, call, arrays, /*values=*/!resolve_only);
  slot.completed |= !resolve_only;
}

using Slots = std::map<std::pair<int, int>, Slot>;  // by engine and profile

// The session of the engine's profile, made with the record's options when there is none yet (or
// null, when the options must be refused); a second one on its profile must be refused as in use.
Slot* SessionFor(Slots& slots, int m, int32_t profile, uint8_t options) {
  const Model& model = Models()[static_cast<size_t>(m)];
  inferlet_session_config config;
  inferlet_session_config_init(&config);
  config.profile = profile;
  config.cuda_graphs = options & 1;
  config.phase_timing = options >> 1 & 1;
  config.graph_cache_size = options >> 4 & 3;
  const uint64_t kinds[4] = {0, uint64_t{1} << INFERLET_MEMORY_DEVICE,
                             uint64_t{1} << INFERLET_MEMORY_DEVICE | uint64_t{1} << INFERLET_MEMORY_PINNED,
                             uint64_t{1} << INFERLET_MEMORY_HOST};
  config.memory_kinds = kinds[options >> 6 & 3];
  inferlet_session_options v1;
  inferlet_session_options_init(&v1);
  v1.profile = config.profile;
  v1.cuda_graphs = config.cuda_graphs;
  v1.phase_timing = config.phase_timing;
  v1.graph_cache_size = config.graph_cache_size;
  auto create = [&](inferlet_session** made) {
    return (options & 4) != 0 ? inferlet_session_create(model.engine.get(), &v1, made)
                              : inferlet_session_create_with_config(model.engine.get(), &config, made);
  };

  const bool valid = profile >= 0 && profile < model.profiles && config.graph_cache_size >= 1;
  const auto found = slots.find({m, profile});
  const bool exists = found != slots.end();
  if (!valid || exists) {
    if (!valid || (options & 8) != 0) {
      inferlet_session* made = inferlet_fuzz::UntouchedSession();
      Expect(create(&made), valid ? INFERLET_PROFILE_IN_USE : INFERLET_INVALID_ARGUMENT, "session_create");
      if (made != inferlet_fuzz::UntouchedSession()) Finding("a refused session creation wrote *session");
    }
    return exists ? &found->second : nullptr;
  }
  inferlet_session* made = nullptr;
  Expect(create(&made), INFERLET_OK, "session_create");
  Slot& slot = slots[{m, profile}];
  slot.session.reset(made);
  slot.graphs = config.cuda_graphs != 0;
  slot.timing = config.phase_timing != 0;
  slot.memory_kinds = (options & 4) != 0 ? 0 : config.memory_kinds;
  return &slot;
}

// With every session released, the device and TensorRT hold what the engines alone held.
void CheckBaseline() {
  if (cudaemu_live_allocations() != baseline_allocations || cudaemu_live_events() != baseline_events ||
      cudaemu_live_streams() != 0 || cudaemu_live_graphs() != 0 || cudaemu_live_graph_execs() != 0 ||
      trt_standin_count("live_contexts") != 0) {
    Finding("resources left after every session was released: allocations " +
            std::to_string(cudaemu_live_allocations()) + " (engines " + std::to_string(baseline_allocations) +
            "), streams " + std::to_string(cudaemu_live_streams()) + ", graphs " +
            std::to_string(cudaemu_live_graphs()) + ", contexts " +
            std::to_string(trt_standin_count("live_contexts")));
  }
  CheckNoViolations();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  inferlet_fuzz::SilenceStdout();
  inferlet_fuzz::InstallCheckingLog();
  Models().push_back(LoadModel("two_profiles"));
  Models().push_back(LoadModel("mixed_rank"));
  baseline_allocations = cudaemu_live_allocations();
  baseline_events = cudaemu_live_events();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  {
    Slots slots;
    for (int record = 0; record < kMaxRecords && !in.empty(); ++record) {
      const int m = in.Byte() % static_cast<int>(Models().size());
      const int32_t profile = in.Int();
      const uint8_t options = in.Byte();
      Slot* slot = SessionFor(slots, m, profile, options);
      if (slot == nullptr) continue;
      CheckPhaseTimes(*slot);
      const uint8_t operation = in.Byte();
      const Model& model = Models()[static_cast<size_t>(m)];
      const Call call = ReadCall(in, model, profile, static_cast<uint32_t>(record) * 7919u);
      RunOperation(*slot, model, profile, operation, call);
    }
  }
  CheckBaseline();
  return 0;
}
