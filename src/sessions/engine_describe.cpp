// What an engine says of itself beyond its tensors: inferlet_engine_get_properties, and every tensor's
// shape at a profile's points with the outputs resolved (inferlet_engine_profile_resolved_shape).
#include <NvInfer.h>

#include <string>

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
    if (value < INFERLET_PROFILE_MIN || value > INFERLET_PROFILE_MAX) {
      return Status::failure(INFERLET_INVALID_ARGUMENT, "profile point " + std::to_string(value) +
                                                            " is not INFERLET_PROFILE_MIN, _OPT or _MAX");
    }
    trt_binding::Extents extents;
    status = loaded.resolved_shapes().at(loaded, profile, tensor_index, value, &extents);
    if (!status.ok()) return status;
    *shape = sessions::toShape(extents);
    return Status();
  });
}

}  // extern "C"
