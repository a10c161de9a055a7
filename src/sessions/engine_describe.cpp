// What an engine says of itself beyond its tensors: inferlet_engine_get_properties, every tensor's
// shape at a profile's points with the outputs resolved (inferlet_engine_profile_resolved_shape), and a
// shape tensor's values at those points (inferlet_engine_profile_tensor_values).
#include <NvInfer.h>

#include <algorithm>
#include <string>
#include <vector>

#include "c_enum.h"
#include "handles.h"
#include "inferlet_sessions.h"
#include "shape.h"
#include "sized_struct.h"
#include "status.h"

namespace {

using sessions::Status;

Status nullArgument(const char* name) {
  return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(name) + " is null");
}

Status checkProfileAndTensor(const sessions::Engine& engine, int32_t profile, int32_t tensor_index) {
  if (profile < 0 || profile >= engine.profile_count()) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "profile " + std::to_string(profile) + " is out of range: the engine has " +
                               std::to_string(engine.profile_count()) + " profile(s)");
  }
  if (tensor_index < 0 || tensor_index >= engine.tensor_count()) {
    return Status::failure(INFERLET_INVALID_ARGUMENT, "tensor index " + std::to_string(tensor_index) +
                                                          " is out of range: the engine has " +
                                                          std::to_string(engine.tensor_count()) + " tensors");
  }
  return Status();
}

Status checkPoint(int value) {
  if (value < INFERLET_PROFILE_MIN || value > INFERLET_PROFILE_MAX) {
    return Status::failure(INFERLET_INVALID_ARGUMENT, "profile point " + std::to_string(value) +
                                                          " is not INFERLET_PROFILE_MIN, _OPT or _MAX");
  }
  return Status();
}

// The values a shape tensor has at a profile's point; refused for any other tensor, in words that say
// why it has none.
Status shapeTensorValues(const sessions::TensorDescription& tensor, int32_t profile, int point,
                         const std::vector<int64_t>** values) {
  const std::string quoted = "'" + tensor.name + "'";
  if (!tensor.is_input) {
    return Status::failure(
        INFERLET_INVALID_ARGUMENT,
        "tensor " + quoted + " is an output: only a shape tensor input has values in a profile");
  }
  if (!tensor.shape_tensor) {
    if (tensor.layouts.front().on_host) {
      return Status::failure(INFERLET_INVALID_ARGUMENT,
                             "input " + quoted + " is a shape tensor, which the library for TensorRT " +
                                 std::to_string(NV_TENSORRT_MAJOR) +
                                 " does not serve: shape tensors are served from TensorRT 10 on");
    }
    return Status::failure(
        INFERLET_INVALID_ARGUMENT,
        "input " + quoted + " is no shape tensor: only a shape tensor input has values in a profile");
  }
  const sessions::ValueRange& range = tensor.value_ranges[static_cast<size_t>(profile)];
  *values = point == INFERLET_PROFILE_MIN   ? &range.min
            : point == INFERLET_PROFILE_OPT ? &range.opt
                                            : &range.max;
  if ((*values)->empty()) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "shape tensor " + quoted + " has no values in profile " + std::to_string(profile) +
                               ": the engine keeps none");
  }
  return Status();
}

}  // namespace

extern "C" {

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_get_properties(
    const inferlet_engine* engine, inferlet_engine_properties* properties) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!properties) return nullArgument("properties");
    const sessions::Engine& loaded = *engine->engine;
    inferlet_engine_properties value;
    inferlet_engine_properties_init(&value);
    value.name = loaded.name().c_str();
    value.max_batch_size = trt_binding::maxBatchSize(loaded.trt());
    value.refittable = loaded.trt().isRefittable() ? 1 : 0;
    value.binding_count = loaded.tensor_count() * loaded.profile_count();
    value.dynamic_shapes = loaded.dynamic_shapes() ? 1 : 0;
    return sessions::writeSized(value, sizeof(inferlet_engine_properties), "properties", properties);
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_resolved_shape(const inferlet_engine* engine,
                                                                              int32_t profile,
                                                                              int32_t tensor_index,
                                                                              inferlet_profile_point point,
                                                                              inferlet_shape* shape) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!shape) return nullArgument("shape");
    sessions::Engine& loaded = *engine->engine;
    Status status = checkProfileAndTensor(loaded, profile, tensor_index);
    if (!status.ok()) return status;
    const int value = sessions::cEnumValue(point);
    status = checkPoint(value);
    if (!status.ok()) return status;
    trt_binding::Extents extents;
    status = loaded.resolved_shapes().at(loaded, profile, tensor_index, value, &extents);
    if (!status.ok()) return status;
    *shape = sessions::toShape(extents);
    return Status();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_tensor_values(
    const inferlet_engine* engine, int32_t profile, int32_t tensor_index, inferlet_profile_point point,
    int64_t* values, size_t capacity, size_t* count) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!count) return nullArgument("count");
    if (!values && capacity > 0) return nullArgument("values");
    const sessions::Engine& loaded = *engine->engine;
    Status status = checkProfileAndTensor(loaded, profile, tensor_index);
    if (!status.ok()) return status;
    const int value = sessions::cEnumValue(point);
    status = checkPoint(value);
    if (!status.ok()) return status;
    const std::vector<int64_t>* known = nullptr;
    status = shapeTensorValues(loaded.tensor(tensor_index), profile, value, &known);
    if (!status.ok()) return status;
    *count = known->size();
    if (capacity < known->size()) {
      return Status::failure(INFERLET_INVALID_ARGUMENT, "capacity " + std::to_string(capacity) +
                                                            " is too small: shape tensor '" +
                                                            loaded.tensor(tensor_index).name + "' has " +
                                                            std::to_string(known->size()) + " values");
    }
    std::copy(known->begin(), known->end(), values);
    return Status();
  });
}

}  // extern "C"
