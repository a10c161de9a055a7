#include "fuzz_sessions_call.h"

#include <algorithm>
#include <cstring>

namespace inferlet_fuzz {
namespace {

constexpr size_t kMaxBufferBytes = size_t{1} << 20;  // a buffer for a shape no profile allows is cut here
constexpr int kFloatBits = 32;
constexpr uint8_t kUnwritten = 0xA5;  // what output buffers hold before a call
constexpr const char* kUnknownName = "no_such_tensor";

// What the sample's network makes of its inputs (in the engine's order): the outputs' shapes and values;
// false where TensorRT cannot combine the inputs' shapes.
bool Reference(const Model& model, const std::vector<inferlet_shape>& shapes, const std::vector<Values>& in,
               std::vector<inferlet_shape>* out_shapes, std::vector<Values>* out) {
  if (model.sample == "two_profiles") {  // out0 = 2 * max(in0, in1) + 1
    if (!SameShape(shapes[0], shapes[1])) return false;
    *out_shapes = {shapes[0]};
    Values values(in[0].size());
    for (size_t i = 0; i < values.size(); ++i) values[i] = 2.0f * std::max(in[0][i], in[1][i]) + 1.0f;
    *out = {values};
    return true;
  }
  // mixed_rank: out0 = relu(in0), out1 = 0.5 * in1
  *out_shapes = shapes;
  Values relu(in[0].size()), half(in[1].size());
  for (size_t i = 0; i < relu.size(); ++i) relu[i] = in[0][i] > 0.0f ? in[0][i] : 0.0f;
  for (size_t i = 0; i < half.size(); ++i) half[i] = 0.5f * in[1][i];
  *out = {relu, half};
  return true;
}

int TensorNamed(const Model& model, const char* name) {
  for (size_t t = 0; name != nullptr && t < model.tensors.size(); ++t) {
    if (std::strcmp(model.tensors[t].name, name) == 0) return static_cast<int>(t);
  }
  return -1;
}

// An input's shape: mostly its profile's largest with the first extent read (0 to one past the largest),
// at times with another extent moved by one, or any rank and extents.
inferlet_shape ReadShape(ByteReader& in, const inferlet_shape& largest) {
  const uint8_t how = in.Byte();
  inferlet_shape shape = largest;
  if (how % 16 == 15) {
    shape.rank = in.Int();
    for (int k = 0; k < shape.rank && k < INFERLET_MAX_DIMS; ++k) shape.dims[k] = in.Int();
    return shape;
  }
  shape.dims[0] = in.Byte() % (largest.dims[0] + 2);
  if (how % 16 == 14 && shape.rank > 1) shape.dims[1 + in.Byte() % (shape.rank - 1)] += in.Byte() % 3 - 1;
  return shape;
}

// A buffer's size from its size byte: exact, one short, none, more, or the profile's largest.
size_t ReadSize(ByteReader& in, int64_t exact, int64_t largest) {
  const uint8_t how = in.Byte();
  if (exact < 0 || exact > static_cast<int64_t>(kMaxBufferBytes)) exact = largest;
  int64_t bytes = exact;
  switch (how % 8) {
    case 0:
      bytes = exact > 0 ? exact - 1 : 0;
      break;
    case 1:
      bytes = 0;
      break;
    case 2:
      bytes = exact + 1 + how / 8;
      break;
    case 3:
      bytes = largest;
      break;
    default:
      break;
  }
  return static_cast<size_t>(std::min<int64_t>(bytes, kMaxBufferBytes));
}

// Floats that the networks compute exactly: quarters from -4 to 4.
std::vector<uint8_t> InputContents(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> contents(bytes, 0);
  for (size_t i = 0; i + sizeof(float) <= bytes; i += sizeof(float)) {
    seed = seed * 1664525u + 1013904223u;
    const float value = static_cast<float>(static_cast<int>(seed >> 27) - 16) * 0.25f;
    std::memcpy(&contents[i], &value, sizeof value);
  }
  return contents;
}

// The outputs' shapes at the profile's largest inputs, for buffers sized to them.
std::vector<inferlet_shape> LargestOutputs(const Model& model, int profile) {
  std::vector<inferlet_shape> shapes, outputs;
  std::vector<Values> values, results;
  for (const int t : model.sides[1]) {
    shapes.push_back(model.largest[static_cast<size_t>(profile)][static_cast<size_t>(t)]);
    values.emplace_back(static_cast<size_t>(ShapeBytes(shapes.back(), kFloatBits) / 4));
  }
  if (!Reference(model, shapes, values, &outputs, &results)) Finding("the largest shapes do not combine");
  return outputs;
}

// One entry of the call's array of `is_input`'s side, its buffer sized for the tensor it names (or the
// one its position stands for): an input's for its shape, an output's for `outputs` (the outputs' shapes
// the inputs call for, or the largest).
Entry ReadEntry(ByteReader& in, const Model& model, int profile, bool is_input, size_t e, bool reversed,
                const std::vector<inferlet_shape>& outputs, uint32_t seed) {
  const std::vector<int>& side = model.sides[is_input];
  const size_t n = side.size();
  const int own = side[reversed ? n - 1 - e % n : e % n];
  Entry entry;
  switch (in.Byte() % 32) {
    case 0:
      entry.name = nullptr;
      break;
    case 1:
      entry.name = kUnknownName;
      break;
    case 2:
      entry.name = model.tensors[static_cast<size_t>(side[(e + 1) % n])].name;
      break;
    case 3:
      entry.name = model.tensors[static_cast<size_t>(model.sides[!is_input][0])].name;
      break;
    default:
      entry.name = model.tensors[static_cast<size_t>(own)].name;
      break;
  }
  entry.tensor = TensorNamed(model, entry.name);
  const uint8_t memory = in.Byte();
  entry.null_data = memory == 0xFF;
  const int kinds[8] = {0, 0, 0, 1, 1, 2, 2, (memory & 0x80) != 0 ? -1 : 3};
  entry.memory = kinds[memory % 8];

  const int sized = entry.tensor >= 0 && model.tensors[static_cast<size_t>(entry.tensor)].is_input == is_input
                        ? entry.tensor
                        : own;
  int64_t exact = 0, largest = 0;
  if (is_input) {
    const inferlet_shape& max = model.largest[static_cast<size_t>(profile)][static_cast<size_t>(sized)];
    entry.shape = ReadShape(in, max);
    exact = ShapeBytes(entry.shape, kFloatBits);
    largest = ShapeBytes(max, kFloatBits);
  } else {
    const std::vector<inferlet_shape> max = LargestOutputs(model, profile);
    size_t j = 0;
    while (model.sides[0][j] != sized) ++j;
    exact = ShapeBytes(outputs.empty() ? max[j] : outputs[j], kFloatBits);
    largest = ShapeBytes(max[j], kFloatBits);
  }
  const size_t bytes = ReadSize(in, exact, largest);
  const bool device_kind = entry.memory == INFERLET_MEMORY_PINNED || entry.memory == INFERLET_MEMORY_DEVICE;
  entry.buffer = std::make_unique<CallBuffer>(
      device_kind ? static_cast<inferlet_memory>(entry.memory) : INFERLET_MEMORY_HOST, bytes);
  entry.contents = is_input ? InputContents(bytes, seed + static_cast<uint32_t>(e))
                            : std::vector<uint8_t>(bytes, kUnwritten);
  entry.buffer->Write(entry.contents);
  return entry;
}

// A shape the profile allows for input t.
bool Inside(const inferlet_shape& shape, const Model& model, int profile, size_t t) {
  const inferlet_shape& min = model.smallest[static_cast<size_t>(profile)][t];
  const inferlet_shape& max = model.largest[static_cast<size_t>(profile)][t];
  if (shape.rank != max.rank) return false;
  for (int k = 0; k < shape.rank; ++k) {
    if (shape.dims[k] < min.dims[k] || shape.dims[k] > max.dims[k]) return false;
  }
  return true;
}

// The entry that gives each tensor of a side (the first that names it), or null.
std::vector<const Entry*> Givers(const Model& model, const Call& call, bool is_input) {
  std::vector<const Entry*> givers;
  for (const int t : model.sides[is_input]) {
    const Entry* giver = nullptr;
    for (const Entry& entry : call.entries[is_input]) {
      if (entry.tensor == t && giver == nullptr) giver = &entry;
    }
    givers.push_back(giver);
  }
  return givers;
}

std::vector<float> AsFloats(const std::vector<uint8_t>& bytes, int64_t elements) {
  std::vector<float> values(static_cast<size_t>(elements), 0.0f);
  const size_t taken = std::min(bytes.size(), values.size() * sizeof(float));
  if (taken > 0) std::memcpy(values.data(), bytes.data(), taken);
  return values;
}

}  // namespace

Model LoadModel(const char* sample) {
  Model model;
  model.sample = sample;
  const std::string& bytes = inferlet_fuzz::Sample(sample == std::string("two_profiles") ? 1 : 2).engine;
  inferlet_engine* engine = nullptr;
  Expect(inferlet_engine_load(bytes.data(), bytes.size(), 0, &engine), INFERLET_OK, "inferlet_engine_load");
  model.engine.reset(engine);
  int32_t count = 0;
  Expect(inferlet_engine_tensor_count(engine, &count), INFERLET_OK, "inferlet_engine_tensor_count");
  Expect(inferlet_engine_profile_count(engine, &model.profiles), INFERLET_OK,
         "inferlet_engine_profile_count");
  for (int32_t t = 0; t < count; ++t) {
    inferlet_tensor_info info;
    Expect(inferlet_engine_tensor_info(engine, t, &info), INFERLET_OK, "inferlet_engine_tensor_info");
    model.tensors.push_back(info);
    model.sides[info.is_input].push_back(t);
  }
  for (int32_t p = 0; p < model.profiles; ++p) {
    model.largest.emplace_back(static_cast<size_t>(count));
    model.smallest.emplace_back(static_cast<size_t>(count));
    for (const int t : model.sides[1]) {
      Expect(inferlet_engine_profile_shape(engine, p, t, INFERLET_PROFILE_MAX, &model.largest.back()[t]),
             INFERLET_OK, "inferlet_engine_profile_shape");
      Expect(inferlet_engine_profile_shape(engine, p, t, INFERLET_PROFILE_MIN, &model.smallest.back()[t]),
             INFERLET_OK, "inferlet_engine_profile_shape");
    }
  }
  return model;
}

// What the network makes of the inputs the call gives, when every input is given with a shape inside
// the profile whose buffer holds it; false otherwise, or where the shapes do not combine.
bool Outcome(const Model& model, int profile, const Call& call, std::vector<inferlet_shape>* shapes,
             std::vector<Values>* values) {
  std::vector<inferlet_shape> in_shapes;
  std::vector<Values> in_values;
  const std::vector<const Entry*> givers = Givers(model, call, true);
  for (size_t i = 0; i < givers.size(); ++i) {
    const Entry* giver = givers[i];
    const auto t = static_cast<size_t>(model.sides[1][i]);
    if (giver == nullptr || !Inside(giver->shape, model, profile, t)) return false;
    const int64_t bytes = ShapeBytes(giver->shape, kFloatBits);
    in_shapes.push_back(giver->shape);
    in_values.push_back(AsFloats(giver->contents, bytes / 4));
  }
  return Reference(model, in_shapes, in_values, shapes, values);
}

// The answer the call must get, in the order the interface checks a call. with_data: a call that runs
// (memory kinds, data and buffers are read), not one that resolves shapes.
inferlet_code Expected(const Model& model, int profile, const Call& call, bool with_data,
                       uint64_t memory_kinds) {
  const auto left_out = [memory_kinds](int memory) {
    return memory_kinds != 0 && (memory_kinds & (uint64_t{1} << memory)) == 0;
  };
  bool invalid = false;
  for (int is_input = 0; is_input < 2; ++is_input) {
    const std::vector<Entry>& entries = call.entries[is_input];
    invalid |= call.null_array[is_input] && !entries.empty();
    invalid |= entries.size() != model.sides[is_input].size();
    for (size_t e = 0; e < entries.size(); ++e) {
      const Entry& entry = entries[e];
      invalid |= entry.tensor < 0 || model.tensors[static_cast<size_t>(entry.tensor)].is_input != is_input;
      for (size_t f = 0; f < e; ++f) invalid |= entries[f].tensor == entry.tensor;
      if (with_data) {
        const bool known = entry.memory >= 0 && entry.memory <= INFERLET_MEMORY_DEVICE;
        invalid |= !known || left_out(entry.memory) || entry.null_data;
      }
      if (is_input) invalid |= entry.shape.rank < 0 || entry.shape.rank > INFERLET_MAX_DIMS;
    }
  }
  if (invalid) return INFERLET_INVALID_ARGUMENT;
  const std::vector<const Entry*> inputs = Givers(model, call, true);
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!Inside(inputs[i]->shape, model, profile, static_cast<size_t>(model.sides[1][i]))) {
      return INFERLET_SHAPE_OUT_OF_PROFILE;
    }
  }
  for (const Entry* input : inputs) {
    if (with_data && static_cast<int64_t>(input->buffer->bytes()) < ShapeBytes(input->shape, kFloatBits)) {
      return INFERLET_BUFFER_TOO_SMALL;
    }
  }
  std::vector<inferlet_shape> shapes;
  std::vector<Values> values;
  if (!Outcome(model, profile, call, &shapes, &values)) return INFERLET_TENSORRT_ERROR;
  const std::vector<const Entry*> outputs = Givers(model, call, false);
  for (size_t j = 0; j < outputs.size(); ++j) {
    if (with_data && static_cast<int64_t>(outputs[j]->buffer->bytes()) < ShapeBytes(shapes[j], kFloatBits)) {
      return INFERLET_BUFFER_TOO_SMALL;
    }
  }
  return INFERLET_OK;
}

inferlet_shape Unwritten() {
  inferlet_shape shape;
  std::memset(static_cast<void*>(&shape), kUnwritten, sizeof shape);
  return shape;
}

CArrays ToC(const Call& call) {
  CArrays arrays;
  for (int is_input = 0; is_input < 2; ++is_input) {
    for (const Entry& entry : call.entries[is_input]) {
      inferlet_tensor tensor{entry.name, INFERLET_MEMORY_HOST,
                             entry.null_data ? nullptr : entry.buffer->data(), entry.buffer->bytes(),
                             is_input ? entry.shape : Unwritten()};
      // As a C host may: any int, stored as it is (C++ may not hold one outside the enumerators).
      static_assert(sizeof tensor.memory == sizeof entry.memory, "inferlet_memory is stored as an int");
      std::memcpy(&tensor.memory, &entry.memory, sizeof entry.memory);
      arrays.sides[is_input].push_back(tensor);
    }
  }
  return arrays;
}

Call ReadCall(ByteReader& in, const Model& model, int profile, uint32_t seed) {
  const uint8_t counts = in.Byte();
  const bool reversed = (counts & 0x40) != 0;
  Call call;
  call.null_array[1] = counts == 0xFE;
  call.null_array[0] = counts == 0xFF;
  std::vector<inferlet_shape> outputs;
  for (int is_input = 1; is_input >= 0; --is_input) {
    const size_t n = model.sides[is_input].size();
    const int shift = is_input ? 0 : 3;
    const size_t count = (counts >> shift & 7) == 0 ? n - 1 : (counts >> shift & 7) == 1 ? n + 1 : n;
    if (!is_input) {
      std::vector<Values> values;
      if (!Outcome(model, profile, call, &outputs, &values)) outputs.clear();
    }
    for (size_t e = 0; e < count; ++e) {
      call.entries[is_input].push_back(ReadEntry(in, model, profile, is_input, e, reversed, outputs, seed));
    }
  }
  return call;
}

}  // namespace inferlet_fuzz
