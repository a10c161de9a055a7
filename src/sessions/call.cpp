#include "call.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "c_enum.h"
#include "shape.h"
#include "sticky_faults.h"
#include "tensorrt_reason.h"

namespace sessions {
namespace {

const char* role(bool is_input) { return is_input ? "input" : "output"; }

std::string quoted(const std::string& name) { return "'" + name + "'"; }

bool knownMemory(int memory) {
  return memory == INFERLET_MEMORY_HOST || memory == INFERLET_MEMORY_PINNED ||
         memory == INFERLET_MEMORY_DEVICE;
}

const char* memoryName(int memory) {
  switch (memory) {
    case INFERLET_MEMORY_HOST:
      return "INFERLET_MEMORY_HOST";
    case INFERLET_MEMORY_PINNED:
      return "INFERLET_MEMORY_PINNED";
    default:
      return "INFERLET_MEMORY_DEVICE";
  }
}

// "INFERLET_MEMORY_PINNED and INFERLET_MEMORY_DEVICE"
std::string memoryNames(uint64_t kinds) {
  std::string names;
  for (int memory = INFERLET_MEMORY_HOST; memory <= INFERLET_MEMORY_DEVICE; ++memory) {
    if ((kinds & (uint64_t{1} << memory)) == 0) continue;
    names += (names.empty() ? "" : " and ") + std::string(memoryName(memory));
  }
  return names;
}

// Out of match's loop: a kind the session took no memory for.
Status kindLeftOut(bool is_input, const char* name, int memory, uint64_t kinds) {
  return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(role(is_input)) + " " + quoted(name) +
                                                        " is in " + memoryName(memory) +
                                                        ", which the session's memory_kinds leave out: it "
                                                        "was made for " +
                                                        memoryNames(kinds));
}

bool insideRange(const trt_binding::Extents& dims, const ProfileRange& range) {
  if (dims.nbDims != range.min.nbDims || dims.nbDims != range.max.nbDims) return false;
  for (int k = 0; k < dims.nbDims; ++k) {
    if (dims.d[k] < range.min.d[k] || dims.d[k] > range.max.d[k]) return false;
  }
  return true;
}

size_t callBytes(const trt_binding::Extents& dims, int element_bits) {
  const int64_t bytes = tensorBytes(dims, element_bits);
  return bytes < 0 ? 0 : static_cast<size_t>(bytes);
}

// "[2, 4]"
std::string valuesText(const std::vector<int64_t>& values) {
  std::string text = "[";
  for (size_t k = 0; k < values.size(); ++k) text += (k ? ", " : "") + std::to_string(values[k]);
  return text + "]";
}

// A shape tensor's values as TensorRT reads them: 32- or 64-bit integers. Empty for another type, whose
// values are passed on unchecked.
std::vector<int64_t> shapeValues(const void* data, size_t bytes, nvinfer1::DataType dtype) {
  std::vector<int64_t> values;
  if (dtype == nvinfer1::DataType::kINT32) {
    for (size_t k = 0; k + sizeof(int32_t) <= bytes; k += sizeof(int32_t)) {
      int32_t value = 0;
      std::memcpy(&value, static_cast<const unsigned char*>(data) + k, sizeof value);
      values.push_back(value);
    }
  }
#if NV_TENSORRT_MAJOR >= 10
  if (dtype == nvinfer1::DataType::kINT64) {
    for (size_t k = 0; k + sizeof(int64_t) <= bytes; k += sizeof(int64_t)) {
      int64_t value = 0;
      std::memcpy(&value, static_cast<const unsigned char*>(data) + k, sizeof value);
      values.push_back(value);
    }
  }
#endif
  return values;
}

// Where TensorRT takes no set of input shapes: the extents a network most often needs equal.
constexpr const char* kMayNeedToAgree = ", which it may need to agree (in their batch, for instance)";

bool insideValues(const std::vector<int64_t>& values, const ValueRange& range) {
  for (size_t k = 0; k < values.size() && k < range.min.size() && k < range.max.size(); ++k) {
    if (values[k] < range.min[k] || values[k] > range.max[k]) return false;
  }
  return true;
}

}  // namespace

void AlignedHostMemory::assign(size_t bytes) {
  constexpr size_t kAlignment = 256;
  const size_t rounded = (bytes / kAlignment + 1) * kAlignment;  // never 0 bytes
  mData.reset(static_cast<unsigned char*>(std::aligned_alloc(kAlignment, rounded)));
  if (!mData) throw std::bad_alloc();
  std::memset(mData.get(), 0, rounded);
  mSize = bytes;
}

void writeShapeValues(const std::vector<int64_t>& values, int item_size, AlignedHostMemory* copy) {
  const auto size = static_cast<size_t>(item_size);
  for (size_t k = 0; k < values.size() && (k + 1) * size <= copy->size(); ++k) {
    if (size == sizeof(int32_t)) {
      const auto value = static_cast<int32_t>(values[k]);
      std::memcpy(copy->data() + k * size, &value, size);
    } else if (size == sizeof(int64_t)) {
      std::memcpy(copy->data() + k * size, &values[k], size);
    }
  }
}

CallPlan::CallPlan(const Engine& engine, int profile)
    : mEngine(engine),
      mTensors(static_cast<size_t>(engine.tensor_count())),
      mShapes(static_cast<size_t>(engine.tensor_count())) {
  for (int t = 0; t < engine.tensor_count(); ++t) {
    const TensorDescription& tensor = engine.tensor(t);
    (tensor.is_input ? mInputs : mOutputs).push_back(static_cast<size_t>(t));
    if (tensor.is_input && !tensor.shape_tensor) mDataInputs.push_back(static_cast<size_t>(t));
    mShapes[static_cast<size_t>(t)].binding = engine.binding(profile, t);
    mShapes[static_cast<size_t>(t)].is_input = tensor.is_input;
    mNames.push_back(tensor.name.c_str());
    mElementBits.push_back(tensor.element_bits);
    size_t words = 0;
    if (tensor.shape_tensor) {
      mShapeTensors.push_back(static_cast<size_t>(t));
      mValueDependent = true;
      const int64_t bytes = tensorBytes(tensor.ranges[static_cast<size_t>(profile)].max, tensor.element_bits);
      words = bytes > 0 && bytes < (1 << 20) ? (static_cast<size_t>(bytes) + 7) / 8 : 0;
    }
    mValueWords.push_back(words);
  }
  for (size_t t = 0; t < mNames.size(); ++t) {
    for (size_t u = t + 1; u < mNames.size(); ++u) mUniqueNames &= std::strcmp(mNames[t], mNames[u]) != 0;
  }
  size_t value_words = 0;
  for (size_t words : mValueWords) value_words += words;
  mKey.resize(mInputs.size() * (1 + INFERLET_MAX_DIMS) + mTensors.size() * 2 + value_words);
}

void CallPlan::mark_data_dependent(size_t tensor) {
  mShapes[tensor].data_dependent = true;
  mDataDependent = true;
  mValueDependent = true;
}

Status CallPlan::bind(CallResources& resources, const inferlet_tensor* inputs, size_t input_count,
                      inferlet_tensor* outputs, size_t output_count) {
  Status status = match(resources, inputs, input_count, outputs, output_count, /*with_data=*/true);
  if (!status.ok()) return status;
  if (mShapeTensors.empty()) return check_sizes(resources, /*outputs=*/false);
  status = check_sizes(resources, /*outputs=*/false);
  if (!status.ok()) return status;
  return take_shape_values(resources);
}

Status CallPlan::bind_shapes(CallResources& resources, const inferlet_tensor* inputs, size_t input_count,
                             inferlet_tensor* outputs, size_t output_count) {
  Status status = match(resources, inputs, input_count, outputs, output_count, /*with_data=*/false);
  if (!status.ok()) return status;
  // Shapes may depend on the values of shape tensors: theirs are read.
  for (size_t t : mShapeTensors) {
    status = take_data(resources, /*is_input=*/true, inputs[mTensors[t].entry], mTensors[t]);
    if (!status.ok()) return status;
    if (mTensors[t].capacity < mTensors[t].bytes) return size_failure(resources, t);
  }
  return take_shape_values(resources);
}

// A shape tensor's values into the session's copy, which TensorRT reads at the enqueue (the host may
// reuse its memory at once), checked against the profile's range of values.
Status CallPlan::take_shape_values(CallResources& resources) {
  for (size_t t : mShapeTensors) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_DEVICE) {
      return Status::failure(
          INFERLET_INVALID_ARGUMENT,
          "input " + quoted(mNames[t]) +
              " is a shape tensor, which TensorRT reads from host memory: give it in "
              "INFERLET_MEMORY_HOST or INFERLET_MEMORY_PINNED, not INFERLET_MEMORY_DEVICE");
    }
    AlignedHostMemory& copy = resources.buffers[t].values;
    if (tensor.bytes > copy.size()) return size_failure(resources, t);
    if (tensor.bytes > 0) std::memcpy(copy.data(), tensor.data, tensor.bytes);
    const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
    const std::vector<int64_t> values = shapeValues(copy.data(), tensor.bytes, description.dtype);
    if (!insideValues(values, description.value_ranges[static_cast<size_t>(resources.profile)])) {
      return values_failure(resources, t, values);
    }
  }
  return Status();
}

Status CallPlan::values_failure(const CallResources& resources, size_t t,
                                const std::vector<int64_t>& values) const {
  const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
  const ValueRange& range = description.value_ranges[static_cast<size_t>(resources.profile)];
  return Status::failure(INFERLET_SHAPE_OUT_OF_PROFILE,
                         "input " + quoted(description.name) + " values " + valuesText(values) +
                             " are outside the range of profile " + std::to_string(resources.profile) + ": " +
                             valuesText(range.min) + " to " + valuesText(range.max));
}

// The entry's memory kind, checked, and its data and bytes. Inline in match's loop: its failures are
// worded apart.
inline Status CallPlan::take_data(const CallResources& resources, bool is_input, const inferlet_tensor& entry,
                                  CallTensor& tensor) {
  const int memory = cEnumValue(entry.memory);
  if (!knownMemory(memory) || (resources.memory_kinds & (uint64_t{1} << memory)) == 0 || !entry.data) {
    return data_failure(resources, is_input, entry);
  }
  tensor.memory = entry.memory;
  tensor.data = entry.data;
  tensor.capacity = entry.bytes;
  return Status();
}

Status CallPlan::data_failure(const CallResources& resources, bool is_input, const inferlet_tensor& entry) {
  const int memory = cEnumValue(entry.memory);
  if (!knownMemory(memory)) {
    return Status::failure(
        INFERLET_INVALID_ARGUMENT,
        std::string(role(is_input)) + " " + quoted(entry.name) + " has memory kind " +
            std::to_string(memory) +
            ", not INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED or INFERLET_MEMORY_DEVICE");
  }
  if ((resources.memory_kinds & (uint64_t{1} << memory)) == 0) {
    return kindLeftOut(is_input, entry.name, memory, resources.memory_kinds);
  }
  return Status::failure(INFERLET_INVALID_ARGUMENT,
                         std::string(role(is_input)) + " " + quoted(entry.name) + " has no data");
}

int CallPlan::find(const char* name, const std::vector<size_t>& side, size_t e) const {
  // Hosts mostly pass their tensors in the engine's order: that tensor alone is compared first.
  if (mUniqueNames && e < side.size() && std::strcmp(mNames[side[e]], name) == 0) {
    return static_cast<int>(side[e]);
  }
  for (size_t t = 0; t < mNames.size(); ++t) {
    // strcmp, not std::string's operator==, which measures the host's string before comparing.
    if (std::strcmp(mNames[t], name) == 0) return static_cast<int>(t);
  }
  return -1;
}

Status CallPlan::match(const CallResources& resources, const inferlet_tensor* inputs, size_t input_count,
                       inferlet_tensor* outputs, size_t output_count, bool with_data) {
  if (!inputs && input_count > 0) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "inputs is null, input_count " + std::to_string(input_count));
  }
  if (!outputs && output_count > 0) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "outputs is null, output_count " + std::to_string(output_count));
  }
  const uint64_t call = ++mMatches;
  size_t given = 0;
  for (int side = 0; side < 2; ++side) {
    const bool is_input = side == 0;
    const inferlet_tensor* entries = is_input ? inputs : outputs;
    const size_t count = is_input ? input_count : output_count;
    const std::vector<size_t>& order = is_input ? mInputs : mOutputs;
    for (size_t e = 0; e < count; ++e) {
      const inferlet_tensor& entry = entries[e];
      if (!entry.name) {
        return Status::failure(INFERLET_INVALID_ARGUMENT,
                               std::string(role(is_input)) + " " + std::to_string(e) + " has no name");
      }
      const int found = find(entry.name, order, e);
      if (found < 0 || mShapes[static_cast<size_t>(found)].is_input != is_input) {
        return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(role(is_input)) + " " +
                                                              quoted(entry.name) + " is not an " +
                                                              role(is_input) + " of the engine");
      }
      CallTensor& tensor = mTensors[static_cast<size_t>(found)];
      if (tensor.given_in == call) {
        return Status::failure(INFERLET_INVALID_ARGUMENT,
                               std::string(role(is_input)) + " " + quoted(entry.name) + " is given twice");
      }
      if (with_data) {
        Status status = take_data(resources, is_input, entry, tensor);
        if (!status.ok()) return status;
      }
      tensor.given_in = call;
      tensor.entry = e;
      ++given;
      if (!is_input) continue;
      if (entry.shape.rank < 0 || entry.shape.rank > INFERLET_MAX_DIMS) {
        return Status::failure(INFERLET_INVALID_ARGUMENT, "input " + quoted(entry.name) + " has rank " +
                                                              std::to_string(entry.shape.rank) +
                                                              ", not 0 to " +
                                                              std::to_string(INFERLET_MAX_DIMS));
      }
      mShapes[static_cast<size_t>(found)].dims = toExtents(entry.shape);
    }
  }
  // Every entry gave a tensor of its own, so that fewer entries than tensors means one is missing.
  for (size_t t = 0; given < mTensors.size() && t < mTensors.size(); ++t) {
    if (mTensors[t].given_in != call) {
      const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
      return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(role(description.is_input)) + " " +
                                                            quoted(description.name) + " is missing");
    }
  }
  return check_inputs(resources);
}

// Each input's shape inside the profile, and its bytes; neither again while its shape stays the same.
Status CallPlan::check_inputs(const CallResources& resources) {
  for (size_t t : mInputs) {
    CallTensor& tensor = mTensors[t];
    const trt_binding::Extents& dims = mShapes[t].dims;
    if (!tensor.sized || !sameExtents(dims, tensor.sized_dims)) {
      const ProfileRange& range =
          mEngine.tensor(static_cast<int>(t)).ranges[static_cast<size_t>(resources.profile)];
      if (!insideRange(dims, range)) return range_failure(resources, t);
      tensor.sized = true;
      tensor.sized_dims = dims;
      tensor.sized_bytes = callBytes(dims, mElementBits[t]);
    }
    tensor.bytes = tensor.sized_bytes;
  }
  return Status();
}

Status CallPlan::range_failure(const CallResources& resources, size_t t) const {
  const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
  const ProfileRange& range = description.ranges[static_cast<size_t>(resources.profile)];
  return Status::failure(INFERLET_SHAPE_OUT_OF_PROFILE,
                         "input " + quoted(description.name) + " shape " + shapeText(mShapes[t].dims) +
                             " is outside the range of profile " + std::to_string(resources.profile) + ": " +
                             shapeText(range.min) + " to " + shapeText(range.max));
}

// Each output's bytes at its dimensions, computed again only when they change.
void CallPlan::size_outputs() {
  for (size_t t : mOutputs) {
    CallTensor& tensor = mTensors[t];
    if (mShapes[t].data_dependent) continue;  // bound_outputs sizes it
    const trt_binding::Extents& dims = mShapes[t].dims;
    if (!tensor.sized || !sameExtents(dims, tensor.sized_dims)) {
      tensor.sized = true;
      tensor.sized_dims = dims;
      tensor.sized_bytes = callBytes(dims, mElementBits[t]);
    }
    tensor.bytes = tensor.sized_bytes;
  }
}

Status CallPlan::check_sizes(const CallResources& resources, bool outputs) const {
  for (size_t t : outputs ? mOutputs : mInputs) {
    const CallTensor& tensor = mTensors[t];
    // Inputs inside the profile always fit the session's buffers; an output whose size its network does
    // not bound by the largest input shapes may not.
    if (tensor.capacity < tensor.bytes ||
        (tensor.memory != INFERLET_MEMORY_DEVICE && tensor.bytes > resources.buffers[t].capacity)) {
      return size_failure(resources, t);
    }
  }
  return Status();
}

// Out of check_sizes, whose calls mostly pass: the words of the failure are built here alone.
Status CallPlan::size_failure(const CallResources& resources, size_t t) const {
  const CallTensor& tensor = mTensors[t];
  const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
  if (tensor.capacity < tensor.bytes && mShapes[t].data_dependent) {
    return Status::failure(INFERLET_BUFFER_TOO_SMALL,
                           "output " + quoted(description.name) + " has " + std::to_string(tensor.capacity) +
                               " bytes, at these input shapes it may take up to " +
                               std::to_string(tensor.bytes) +
                               " (its extents depend on the values the call computes)");
  }
  if (tensor.capacity < tensor.bytes) {
    return Status::failure(INFERLET_BUFFER_TOO_SMALL,
                           std::string(role(description.is_input)) + " " + quoted(description.name) +
                               " has " + std::to_string(tensor.capacity) + " bytes, its shape " +
                               shapeText(mShapes[t].dims) + " takes " + std::to_string(tensor.bytes));
  }
  const size_t staged = resources.buffers[t].capacity;
  return Status::failure(INFERLET_TENSORRT_ERROR,
                         std::string(role(description.is_input)) + " " + quoted(description.name) +
                             " takes " + std::to_string(tensor.bytes) + " bytes at shape " +
                             shapeText(mShapes[t].dims) + ", more than the " + std::to_string(staged) +
                             " the session holds for it at the profile's largest input shapes");
}

void CallPlan::build_key(const CallResources& resources) {
  uint64_t* key = mKey.data();
  for (size_t t : mInputs) {
    // An input's extents past its rank are 0 (toExtents): copied whole, they key the shape alone.
    const trt_binding::Extents& dims = mShapes[t].dims;
    *key++ = static_cast<uint64_t>(dims.nbDims);
    std::memcpy(key, dims.d, sizeof dims.d);
    key += INFERLET_MAX_DIMS;
  }
  for (size_t t = 0; t < mTensors.size(); ++t) {
    const CallTensor& tensor = mTensors[t];
    const void* captured =
        tensor.memory == INFERLET_MEMORY_HOST ? resources.buffers[t].staging.get() : tensor.data;
    *key++ = static_cast<uint64_t>(tensor.memory);
    *key++ = reinterpret_cast<uintptr_t>(captured);
  }
  // A graph replays the values TensorRT read when it was captured: calls with other values need their own.
  for (size_t t : mShapeTensors) {
    const size_t words = mValueWords[t];
    std::memset(key, 0, words * sizeof *key);
    std::memcpy(key, resources.buffers[t].values.data(), std::min(mTensors[t].bytes, words * sizeof *key));
    key += words;
  }
}

Status CallPlan::resolve(const CallResources& resources) {
  Status status = resolve_dims(resources);
  if (!status.ok()) return status;
  return check_sizes(resources, /*outputs=*/true);
}

Status CallPlan::resolve_dims(const CallResources& resources) {
  if (!mShapeTensors.empty()) {
    Status status = bind_shape_tensors(resources);
    if (!status.ok()) return status;
  }
  tensorrtStepBegins();
  const trt_binding::ShapeResolution resolution = trt_binding::resolveShapes(
      *resources.context, mShapes.data(), static_cast<int>(mShapes.size()), trt_binding::ReadBack::kOutputs);
  const int t = resolution.tensor;
  switch (resolution.outcome) {
    case trt_binding::ShapeResolution::kInputRefused:
      return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT refused shape " +
                                                          shapeText(mShapes[static_cast<size_t>(t)].dims) +
                                                          " of input " + quoted(mEngine.tensor(t).name));
    case trt_binding::ShapeResolution::kInputsIncomplete:
      return tensorrtFailure(
          INFERLET_TENSORRT_ERROR,
          "TensorRT does not take input shapes " + input_shapes_text() + " together" + kMayNeedToAgree);
    case trt_binding::ShapeResolution::kUnresolved:
      return unresolved_failure(t);
    case trt_binding::ShapeResolution::kResolved:
      break;
  }
  size_outputs();
  return mDataDependent ? bound_outputs(resources) : Status();
}

// "'in0' [2, 340] and 'in1' [3, 340]"
std::string CallPlan::input_shapes_text() const {
  std::string shapes;
  for (size_t k = 0; k < mInputs.size(); ++k) {
    const char* separator = k == 0 ? "" : k + 1 == mInputs.size() ? " and " : ", ";
    shapes += separator + quoted(mNames[mInputs[k]]) + " " + shapeText(mShapes[mInputs[k]].dims);
  }
  return shapes;
}

// No shape for an output, most often because inputs whose extents the network needs equal differ.
Status CallPlan::unresolved_failure(int output) const {
  return tensorrtFailure(INFERLET_TENSORRT_ERROR,
                         "TensorRT resolved no shape for output " + quoted(mEngine.tensor(output).name) +
                             " from input shapes " + input_shapes_text() + kMayNeedToAgree);
}

// TensorRT reads shape tensors from host memory when it resolves shapes: the session's copies.
Status CallPlan::bind_shape_tensors(const CallResources& resources) const {
  for (size_t t : mShapeTensors) {
    tensorrtStepBegins();
    unsigned char* values = resources.buffers[t].values.data();
    if (!trt_binding::bindAddress(*resources.context, mShapes[t].binding, values)) return address_failure(t);
  }
  return Status();
}

// A data-dependent output takes up to TensorRT's bound at the input shapes until the call tells its shape.
Status CallPlan::bound_outputs(const CallResources& resources) {
  for (size_t t : mOutputs) {
    if (!mShapes[t].data_dependent) continue;
    tensorrtStepBegins();
    const int64_t bound = trt_binding::maxOutputBytes(*resources.context, mShapes[t].binding);
    if (bound < 0) {
      return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT gave no upper bound for output " +
                                                          quoted(mEngine.tensor(static_cast<int>(t)).name));
    }
    mTensors[t].bytes = static_cast<size_t>(bound);
  }
  return Status();
}

Status CallPlan::take_output_dims(const CallResources& resources, const trt_binding::Extents* dims) {
  for (size_t j = 0; j < mOutputs.size(); ++j) mShapes[mOutputs[j]].dims = dims[j];
  size_outputs();
  return check_sizes(resources, /*outputs=*/true);
}

Status CallPlan::bind_addresses(CallResources& resources) {
  if (mValueDependent) return bind_value_dependent_addresses(resources);
  for (size_t t = 0; t < mTensors.size(); ++t) {
    const CallTensor& tensor = mTensors[t];
    const trt_binding::Binding& binding = mShapes[t].binding;
    void* address = tensor.memory == INFERLET_MEMORY_DEVICE ? tensor.data : resources.buffers[t].device.get();
    resources.bindings[static_cast<size_t>(binding.index)] = address;
    tensorrtStepBegins();
    if (!trt_binding::bindAddress(*resources.context, binding, address)) return address_failure(t);
  }
  return Status();
}

// The same where values steer shapes. A shape tensor's address is the session's copy of its values,
// which resolve_dims bound already; a data-dependent output's, its sink's memory, which the sink is told
// the call's bound for.
Status CallPlan::bind_value_dependent_addresses(CallResources& resources) {
  for (size_t t = 0; t < mTensors.size(); ++t) {
    const CallTensor& tensor = mTensors[t];
    TensorBuffers& buffers = resources.buffers[t];
    const trt_binding::Binding& binding = mShapes[t].binding;
    void*& bound = resources.bindings[static_cast<size_t>(binding.index)];
    if (mEngine.tensor(static_cast<int>(t)).shape_tensor) {
      bound = buffers.values.data();
      continue;
    }
    void* address = tensor.memory == INFERLET_MEMORY_DEVICE ? tensor.data : buffers.device.get();
    if (buffers.sink) {
      const bool in_place = tensor.memory == INFERLET_MEMORY_DEVICE;
      buffers.sink->begin_call(in_place ? tensor.data : nullptr, in_place ? tensor.capacity : 0,
                               tensor.bytes);
      address = buffers.sink->address();
    }
    bound = address;
    tensorrtStepBegins();
    if (!trt_binding::bindAddress(*resources.context, binding, address)) return address_failure(t);
  }
  return Status();
}

Status CallPlan::address_failure(size_t t) const {
  const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
  return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT refused the address of " +
                                                      std::string(role(description.is_input)) + " " +
                                                      quoted(description.name));
}

void CallPlan::stage_inputs(const CallResources& resources) const {
  for (size_t t : mDataInputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_HOST && tensor.bytes > 0) {
      std::memcpy(resources.buffers[t].staging.get(), tensor.data, tensor.bytes);
    }
  }
}

Status CallPlan::queue_work(CallResources& resources) {
  Status status = queue_uploads(resources);
  if (status.ok()) status = queue_compute(resources);
  if (status.ok()) status = queue_downloads(resources);
  return status;
}

Status CallPlan::queue_uploads(const CallResources& resources) const {
  const int device = mEngine.device();
  for (size_t t : mDataInputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_DEVICE || tensor.bytes == 0) continue;  // in place, or empty
    const void* source =
        tensor.memory == INFERLET_MEMORY_HOST ? resources.buffers[t].staging.get() : tensor.data;
    const cudaError_t code = cudaMemcpyAsync(resources.buffers[t].device.get(), source, tensor.bytes,
                                             cudaMemcpyHostToDevice, resources.stream);
    if (code != cudaSuccess) return cudaFailure(device, "cudaMemcpyAsync", code);
  }
  return Status();
}

Status CallPlan::queue_compute(CallResources& resources) {
  tensorrtStepBegins();
  const bool enqueued = trt_binding::enqueue(*resources.context, resources.bindings.data(), resources.stream);
  if (!mDataDependent) {
    return enqueued ? Status()
                    : tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT refused to enqueue the call");
  }
  // A sink's failed allocation is why TensorRT failed: it is the call's answer.
  for (size_t t : mOutputs) {
    const GrowingOutput* sink = resources.buffers[t].sink.get();
    if (sink && sink->allocation_error() != cudaSuccess) {
      return cudaFailure(mEngine.device(), "cudaMalloc", sink->allocation_error());
    }
  }
  if (!enqueued) return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT refused to enqueue the call");
  return take_notified_shapes(resources);
}

// Each data-dependent output's shape and bytes, as TensorRT told its sink during the enqueue.
Status CallPlan::take_notified_shapes(const CallResources& resources) {
  for (size_t t : mOutputs) {
    const GrowingOutput* sink = resources.buffers[t].sink.get();
    if (!sink) continue;
    if (!sink->notified()) {
      return Status::failure(INFERLET_TENSORRT_ERROR, "TensorRT told no shape for output " +
                                                          quoted(mEngine.tensor(static_cast<int>(t)).name) +
                                                          " during the enqueue");
    }
    mShapes[t].dims = sink->dims();
    mTensors[t].bytes = callBytes(sink->dims(), mElementBits[t]);
  }
  return Status();
}

Status CallPlan::queue_downloads(const CallResources& resources) const {
  const int device = mEngine.device();
  for (size_t t : mOutputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_DEVICE || tensor.bytes == 0) continue;
    const TensorBuffers& buffers = resources.buffers[t];
    void* target = tensor.memory == INFERLET_MEMORY_HOST ? buffers.staging.get() : tensor.data;
    const void* source = buffers.sink ? buffers.sink->address() : buffers.device.get();
    const cudaError_t code =
        cudaMemcpyAsync(target, source, tensor.bytes, cudaMemcpyDeviceToHost, resources.stream);
    if (code != cudaSuccess) return cudaFailure(device, "cudaMemcpyAsync", code);
  }
  return Status();
}

void CallPlan::publish_output_shapes(inferlet_tensor* outputs, size_t output_count) const {
  for (size_t t : mOutputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.entry < output_count) outputs[tensor.entry].shape = toShape(mShapes[t].dims);
  }
}

void CallPlan::finish(const CallResources& resources) const {
  for (size_t t : mOutputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_HOST && tensor.bytes > 0) {
      std::memcpy(tensor.data, resources.buffers[t].staging.get(), tensor.bytes);
    }
  }
}

}  // namespace sessions
