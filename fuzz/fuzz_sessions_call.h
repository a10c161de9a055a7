// The calls the sessions calls target makes from its fuzz bytes, and the answer each must get: the sample
// engines as the interface describes them and what their networks compute, a call's entries with their
// buffers, and the interface's checks of a call, worked out here in the order it makes them.
#ifndef INFERLET_FUZZ_SESSIONS_CALL_H_
#define INFERLET_FUZZ_SESSIONS_CALL_H_

#include <inferlet_sessions.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_sessions_support.h"
#include "fuzz_support.h"

namespace inferlet_fuzz {

using Values = std::vector<float>;

// A sample engine as the interface describes it.
struct Model {
  std::string sample;
  EngineHandle engine;
  std::vector<inferlet_tensor_info> tensors;
  std::vector<int> sides[2];  // engine indices of the outputs [0] and the inputs [1], in the engine's order
  int32_t profiles = 0;
  std::vector<std::vector<inferlet_shape>> largest;  // per profile, per tensor: inputs' max shapes
  std::vector<std::vector<inferlet_shape>> smallest;
};

// One entry of a call's input or output array, with its buffer.
struct Entry {
  int tensor = -1;  // the engine tensor its name names; -1 for an unknown or null name
  const char* name = nullptr;
  int memory = INFERLET_MEMORY_HOST;  // as given: possibly no memory kind
  bool null_data = false;
  inferlet_shape shape{};  // inputs: as given
  std::unique_ptr<CallBuffer> buffer;
  std::vector<uint8_t> contents;  // what the buffer holds before the call
};

struct Call {
  std::vector<Entry> entries[2];  // outputs [0], inputs [1]
  bool null_array[2] = {false, false};
};

// The call as the C interface takes it.
struct CArrays {
  std::vector<inferlet_tensor> sides[2];
  inferlet_tensor* array(int is_input, const Call& call) {
    return call.null_array[is_input] ? nullptr : sides[is_input].data();
  }
};

// The sample engine of support/ named `sample`, loaded on device 0 and described.
Model LoadModel(const char* sample);

// What the network makes of the inputs the call gives, when every input is given with a shape inside
// the profile; false otherwise, or where the shapes do not combine.
bool Outcome(const Model& model, int profile, const Call& call, std::vector<inferlet_shape>* shapes,
             std::vector<Values>* values);

// The answer the call must get, in the order the interface checks a call. with_data: a call that runs
// (memory kinds, data and buffers are read), not one that resolves shapes; memory_kinds: the session's
// (a bit per inferlet_memory; 0: all).
inferlet_code Expected(const Model& model, int profile, const Call& call, bool with_data,
                       uint64_t memory_kinds);

// What an output's shape (and every byte of an output buffer) holds before a call: a refused call leaves
// it so.
inferlet_shape Unwritten();

CArrays ToC(const Call& call);

// One call from the fuzz bytes (the layout is at the top of fuzz_sessions_calls.cpp) on the model's
// profile, its buffers allocated and written: inputs with values from seed, outputs Unwritten().
Call ReadCall(ByteReader& in, const Model& model, int profile, uint32_t seed);

}  // namespace inferlet_fuzz

#endif  // INFERLET_FUZZ_SESSIONS_CALL_H_
