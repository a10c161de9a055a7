#include "call.h"

#include <cstring>
#include <limits>
#include <string>

#include "c_enum.h"
#include "shape.h"
#include "sticky_faults.h"

namespace sessions {
namespace {

constexpr int64_t kNoLimit = std::numeric_limits<int64_t>::max();

const char* role(bool is_input) { return is_input ? "input" : "output"; }

std::string quoted(const std::string& name) { return "'" + name + "'"; }

bool knownMemory(int memory) {
  return memory == INFERLET_MEMORY_HOST || memory == INFERLET_MEMORY_PINNED ||
         memory == INFERLET_MEMORY_DEVICE;
}

bool insideRange(const trt_binding::Extents& dims, const ProfileRange& range) {
  if (dims.nbDims != range.min.nbDims || dims.nbDims != range.max.nbDims) return false;
  for (int k = 0; k < dims.nbDims; ++k) {
    if (dims.d[k] < range.min.d[k] || dims.d[k] > range.max.d[k]) return false;
  }
  return true;
}

size_t tensorBytes(const trt_binding::Extents& dims, int item_size) {
  const int64_t bytes = trt_binding::extentsBytes(dims, item_size, kNoLimit);
  return bytes < 0 ? 0 : static_cast<size_t>(bytes);
}

}  // namespace

CallPlan::CallPlan(const Engine& engine, int profile)
    : mEngine(engine),
      mTensors(static_cast<size_t>(engine.tensor_count())),
      mShapes(static_cast<size_t>(engine.tensor_count())) {
  for (int t = 0; t < engine.tensor_count(); ++t) {
    const bool is_input = engine.tensor(t).is_input;
    (is_input ? mInputs : mOutputs).push_back(static_cast<size_t>(t));
    mShapes[static_cast<size_t>(t)].binding = engine.binding(profile, t);
    mShapes[static_cast<size_t>(t)].is_input = is_input;
  }
  mKey.resize(mInputs.size() * (1 + INFERLET_MAX_DIMS) + mTensors.size() * 2);
}

Status CallPlan::bind(const CallResources& resources, const inferlet_tensor* inputs, size_t input_count,
                      inferlet_tensor* outputs, size_t output_count) {
  Status status = match(resources, inputs, input_count, outputs, output_count, /*with_data=*/true);
  if (!status.ok()) return status;
  return check_sizes(resources, /*outputs=*/false);
}

Status CallPlan::bind_shapes(const CallResources& resources, const inferlet_tensor* inputs,
                             size_t input_count, inferlet_tensor* outputs, size_t output_count) {
  return match(resources, inputs, input_count, outputs, output_count, /*with_data=*/false);
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
  for (CallTensor& tensor : mTensors) tensor.given = false;
  for (int side = 0; side < 2; ++side) {
    const bool is_input = side == 0;
    const inferlet_tensor* entries = is_input ? inputs : outputs;
    const size_t count = is_input ? input_count : output_count;
    for (size_t e = 0; e < count; ++e) {
      const inferlet_tensor& entry = entries[e];
      if (!entry.name) {
        return Status::failure(INFERLET_INVALID_ARGUMENT,
                               std::string(role(is_input)) + " " + std::to_string(e) + " has no name");
      }
      int found = -1;
      for (int t = 0; t < mEngine.tensor_count() && found < 0; ++t) {
        // strcmp, not std::string's operator==, which measures the host's string before comparing.
        if (std::strcmp(mEngine.tensor(t).name.c_str(), entry.name) == 0) found = t;
      }
      if (found < 0 || mEngine.tensor(found).is_input != is_input) {
        return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(role(is_input)) + " " +
                                                              quoted(entry.name) + " is not an " +
                                                              role(is_input) + " of the engine");
      }
      CallTensor& tensor = mTensors[static_cast<size_t>(found)];
      if (tensor.given) {
        return Status::failure(INFERLET_INVALID_ARGUMENT,
                               std::string(role(is_input)) + " " + quoted(entry.name) + " is given twice");
      }
      if (with_data) {
        const int memory = cEnumValue(entry.memory);
        if (!knownMemory(memory)) {
          return Status::failure(
              INFERLET_INVALID_ARGUMENT,
              std::string(role(is_input)) + " " + quoted(entry.name) + " has memory kind " +
                  std::to_string(memory) +
                  ", not INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED or INFERLET_MEMORY_DEVICE");
        }
        if (!entry.data) {
          return Status::failure(INFERLET_INVALID_ARGUMENT,
                                 std::string(role(is_input)) + " " + quoted(entry.name) + " has no data");
        }
        tensor.memory = entry.memory;
        tensor.data = entry.data;
        tensor.capacity = entry.bytes;
      }
      tensor.given = true;
      tensor.entry = e;
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
  for (int t = 0; t < mEngine.tensor_count(); ++t) {
    if (!mTensors[static_cast<size_t>(t)].given) {
      const TensorDescription& description = mEngine.tensor(t);
      return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(role(description.is_input)) + " " +
                                                            quoted(description.name) + " is missing");
    }
  }
  for (size_t t : mInputs) {
    CallTensor& tensor = mTensors[t];
    const trt_binding::Extents& dims = mShapes[t].dims;
    const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
    const ProfileRange& range = description.ranges[static_cast<size_t>(resources.profile)];
    if (!insideRange(dims, range)) {
      return Status::failure(INFERLET_SHAPE_OUT_OF_PROFILE,
                             "input " + quoted(description.name) + " shape " + shapeText(dims) +
                                 " is outside the range of profile " + std::to_string(resources.profile) +
                                 ": " + shapeText(range.min) + " to " + shapeText(range.max));
    }
    tensor.bytes = tensorBytes(dims, description.item_size);
  }
  return Status();
}

Status CallPlan::check_sizes(const CallResources& resources, bool outputs) const {
  for (size_t t : outputs ? mOutputs : mInputs) {
    const CallTensor& tensor = mTensors[t];
    const TensorDescription& description = mEngine.tensor(static_cast<int>(t));
    if (tensor.capacity < tensor.bytes) {
      return Status::failure(INFERLET_BUFFER_TOO_SMALL,
                             std::string(role(description.is_input)) + " " + quoted(description.name) +
                                 " has " + std::to_string(tensor.capacity) + " bytes, its shape " +
                                 shapeText(mShapes[t].dims) + " takes " + std::to_string(tensor.bytes));
    }
    // Inputs inside the profile always fit; an output whose size its network does not bound by the
    // largest input shapes may not.
    const size_t staged = resources.buffers[t].capacity;
    if (tensor.memory != INFERLET_MEMORY_DEVICE && tensor.bytes > staged) {
      return Status::failure(INFERLET_TENSORRT_ERROR,
                             std::string(role(description.is_input)) + " " + quoted(description.name) +
                                 " takes " + std::to_string(tensor.bytes) + " bytes at shape " +
                                 shapeText(mShapes[t].dims) + ", more than the " + std::to_string(staged) +
                                 " the session holds for it at the profile's largest input shapes");
    }
  }
  return Status();
}

void CallPlan::build_key(const CallResources& resources) {
  size_t w = 0;
  for (size_t t : mInputs) {
    const trt_binding::Extents& dims = mShapes[t].dims;
    mKey[w++] = static_cast<uint64_t>(dims.nbDims);
    for (int k = 0; k < INFERLET_MAX_DIMS; ++k)
      mKey[w++] = k < dims.nbDims ? static_cast<uint64_t>(dims.d[k]) : 0;
  }
  for (size_t t = 0; t < mTensors.size(); ++t) {
    const CallTensor& tensor = mTensors[t];
    const void* captured =
        tensor.memory == INFERLET_MEMORY_HOST ? resources.buffers[t].staging.get() : tensor.data;
    mKey[w++] = static_cast<uint64_t>(tensor.memory);
    mKey[w++] = reinterpret_cast<uintptr_t>(captured);
  }
}

Status CallPlan::resolve(const CallResources& resources) {
  Status status = resolve_dims(resources);
  if (!status.ok()) return status;
  return check_sizes(resources, /*outputs=*/true);
}

Status CallPlan::resolve_dims(const CallResources& resources) {
  const trt_binding::ShapeResolution resolution = trt_binding::resolveShapes(
      *resources.context, mShapes.data(), static_cast<int>(mShapes.size()), trt_binding::ReadBack::kOutputs);
  const int t = resolution.tensor;
  switch (resolution.outcome) {
    case trt_binding::ShapeResolution::kInputRefused:
      return Status::failure(INFERLET_TENSORRT_ERROR,
                             "TensorRT refused shape " + shapeText(mShapes[static_cast<size_t>(t)].dims) +
                                 " of input " + quoted(mEngine.tensor(t).name) + " (see its message)");
    case trt_binding::ShapeResolution::kInputsIncomplete:
      return Status::failure(INFERLET_TENSORRT_ERROR,
                             "TensorRT does not take every input's shape as specified (see its message)");
    case trt_binding::ShapeResolution::kUnresolved:
      return Status::failure(INFERLET_TENSORRT_ERROR,
                             "TensorRT resolved no shape for output " + quoted(mEngine.tensor(t).name));
    case trt_binding::ShapeResolution::kResolved:
      break;
  }
  for (size_t o : mOutputs) {
    mTensors[o].bytes = tensorBytes(mShapes[o].dims, mEngine.tensor(static_cast<int>(o)).item_size);
  }
  return Status();
}

Status CallPlan::take_output_dims(const CallResources& resources, const trt_binding::Extents* dims) {
  for (size_t j = 0; j < mOutputs.size(); ++j) {
    const size_t t = mOutputs[j];
    mShapes[t].dims = dims[j];
    mTensors[t].bytes = tensorBytes(dims[j], mEngine.tensor(static_cast<int>(t)).item_size);
  }
  return check_sizes(resources, /*outputs=*/true);
}

Status CallPlan::bind_addresses(CallResources& resources) {
  for (size_t t = 0; t < mTensors.size(); ++t) {
    const CallTensor& tensor = mTensors[t];
    const trt_binding::Binding& binding = mShapes[t].binding;
    void* address = tensor.memory == INFERLET_MEMORY_DEVICE ? tensor.data : resources.buffers[t].device.get();
    resources.bindings[static_cast<size_t>(binding.index)] = address;
    if (!trt_binding::bindAddress(*resources.context, binding, address)) {
      return Status::failure(INFERLET_TENSORRT_ERROR,
                             "TensorRT refused the address of " +
                                 std::string(role(mEngine.tensor(static_cast<int>(t)).is_input)) + " " +
                                 quoted(mEngine.tensor(static_cast<int>(t)).name) + " (see its message)");
    }
  }
  return Status();
}

void CallPlan::stage_inputs(const CallResources& resources) const {
  for (size_t t : mInputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_HOST && tensor.bytes > 0) {
      std::memcpy(resources.buffers[t].staging.get(), tensor.data, tensor.bytes);
    }
  }
}

Status CallPlan::queue_work(CallResources& resources) const {
  Status status = queue_uploads(resources);
  if (status.ok()) status = queue_compute(resources);
  if (status.ok()) status = queue_downloads(resources);
  return status;
}

Status CallPlan::queue_uploads(const CallResources& resources) const {
  const int device = mEngine.device();
  for (size_t t : mInputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_DEVICE || tensor.bytes == 0) continue;
    const void* source =
        tensor.memory == INFERLET_MEMORY_HOST ? resources.buffers[t].staging.get() : tensor.data;
    const cudaError_t code = cudaMemcpyAsync(resources.buffers[t].device.get(), source, tensor.bytes,
                                             cudaMemcpyHostToDevice, resources.stream);
    if (code != cudaSuccess) return cudaFailure(device, "cudaMemcpyAsync", code);
  }
  return Status();
}

Status CallPlan::queue_compute(CallResources& resources) const {
  if (!trt_binding::enqueue(*resources.context, resources.bindings.data(), resources.stream)) {
    return Status::failure(INFERLET_TENSORRT_ERROR, "TensorRT refused to enqueue the call (see its message)");
  }
  return Status();
}

Status CallPlan::queue_downloads(const CallResources& resources) const {
  const int device = mEngine.device();
  for (size_t t : mOutputs) {
    const CallTensor& tensor = mTensors[t];
    if (tensor.memory == INFERLET_MEMORY_DEVICE || tensor.bytes == 0) continue;
    void* target = tensor.memory == INFERLET_MEMORY_HOST ? resources.buffers[t].staging.get() : tensor.data;
    const cudaError_t code = cudaMemcpyAsync(target, resources.buffers[t].device.get(), tensor.bytes,
                                             cudaMemcpyDeviceToHost, resources.stream);
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
