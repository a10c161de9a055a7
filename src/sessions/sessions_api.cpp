// The exported entry points of the sessions interface (include/inferlet_sessions.h): each checks the
// host's pointers, hands the work to the engine or session, and turns the outcome into a status. No
// exception leaves them (answer, quietly).
#include <NvInfer.h>

#include <string>

#include "c_enum.h"
#include "data_types.h"
#include "engine_config.h"
#include "handles.h"
#include "inferlet_sessions.h"
#include "log.h"
#include "session_options.h"
#include "shape.h"
#include "sized_struct.h"
#include "status.h"

namespace {

using sessions::Status;

Status nullArgument(const char* name) {
  return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(name) + " is null");
}

Status checkTensorIndex(const sessions::Engine& engine, int32_t index) {
  if (index >= 0 && index < engine.tensor_count()) return Status();
  return Status::failure(INFERLET_INVALID_ARGUMENT, "tensor index " + std::to_string(index) +
                                                        " is out of range: the engine has " +
                                                        std::to_string(engine.tensor_count()) + " tensors");
}

Status createSession(inferlet_engine* engine, const inferlet_session_config& config,
                     inferlet_session** session) {
  if (!engine) return nullArgument("engine");
  if (!session) return nullArgument("session");
  std::unique_ptr<sessions::Session> made;
  Status status = sessions::Session::create(engine->engine, config, &made);
  if (!status.ok()) return status;
  *session = std::make_unique<inferlet_session>(inferlet_session{std::move(made)}).release();
  return Status();
}

Status loadEngine(const void* bytes, size_t size, const inferlet_engine_config& config,
                  inferlet_engine** engine) {
  std::shared_ptr<sessions::Engine> loaded;
  Status status = sessions::Engine::load(bytes, size, config, &loaded);
  if (!status.ok()) return status;
  *engine = std::make_unique<inferlet_engine>(inferlet_engine{std::move(loaded)}).release();
  return Status();
}

Status checkProfile(const sessions::Engine& engine, int32_t profile) {
  if (profile >= 0 && profile < engine.profile_count()) return Status();
  return Status::failure(INFERLET_INVALID_ARGUMENT,
                         "profile " + std::to_string(profile) + " is out of range: the engine has " +
                             std::to_string(engine.profile_count()) + " profile(s)");
}

}  // namespace

extern "C" {

INFERLET_SESSIONS_API inferlet_code inferlet_status_code(const inferlet_status* status) {
  return status ? status->code : INFERLET_OK;
}

INFERLET_SESSIONS_API const char* inferlet_status_message(const inferlet_status* status) {
  return status ? status->message.c_str() : "";
}

INFERLET_SESSIONS_API void inferlet_status_release(inferlet_status* status) {
  if (status != sessions::outOfMemoryStatus()) delete status;  // made by Status::failure
}

INFERLET_SESSIONS_API void inferlet_set_log(inferlet_log_fn fn, void* user, inferlet_log_level threshold) {
  sessions::setLog(fn, user, threshold);
}

INFERLET_SESSIONS_API int inferlet_tensorrt_major(void) { return NV_TENSORRT_MAJOR; }

INFERLET_SESSIONS_API const char* inferlet_code_name(inferlet_code code) {
  switch (sessions::cEnumValue(code)) {
    case INFERLET_OK:
      return "INFERLET_OK";
    case INFERLET_INVALID_ARGUMENT:
      return "INFERLET_INVALID_ARGUMENT";
    case INFERLET_OUT_OF_MEMORY:
      return "INFERLET_OUT_OF_MEMORY";
    case INFERLET_ENGINE_REFUSED:
      return "INFERLET_ENGINE_REFUSED";
    case INFERLET_UNSUPPORTED_TENSOR:
      return "INFERLET_UNSUPPORTED_TENSOR";
    case INFERLET_PROFILE_IN_USE:
      return "INFERLET_PROFILE_IN_USE";
    case INFERLET_SHAPE_OUT_OF_PROFILE:
      return "INFERLET_SHAPE_OUT_OF_PROFILE";
    case INFERLET_BUFFER_TOO_SMALL:
      return "INFERLET_BUFFER_TOO_SMALL";
    case INFERLET_BUSY:
      return "INFERLET_BUSY";
    case INFERLET_NOT_RUNNING:
      return "INFERLET_NOT_RUNNING";
    case INFERLET_TENSORRT_ERROR:
      return "INFERLET_TENSORRT_ERROR";
    case INFERLET_CUDA_ERROR:
      return "INFERLET_CUDA_ERROR";
    case INFERLET_CUDA_STICKY:
      return "INFERLET_CUDA_STICKY";
    case INFERLET_INTERNAL_ERROR:
      return "INFERLET_INTERNAL_ERROR";
  }
  return "INFERLET_UNKNOWN_CODE";
}

INFERLET_SESSIONS_API inferlet_status* inferlet_describe_data_type(int32_t dtype,
                                                                   inferlet_data_type_info* info) {
  return sessions::answer([&] {
    if (!info) return nullArgument("info");
    const inferlet_data_type_info* known = sessions::dataTypeInfo(dtype);
    if (!known) {
      return Status::failure(INFERLET_INVALID_ARGUMENT,
                             "data type " + std::to_string(dtype) + " is not one of TensorRT's");
    }
    return sessions::writeSized(*known, sizeof(inferlet_data_type_info), "info", info);
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_load(const void* bytes, size_t size, int device,
                                                            inferlet_engine** engine) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    return loadEngine(bytes, size, sessions::engineConfigOn(device), engine);
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_load_with_config(const void* bytes, size_t size,
                                                                        const inferlet_engine_config* config,
                                                                        inferlet_engine** engine) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    inferlet_engine_config read;
    Status status = sessions::readEngineConfig(config, &read);
    if (!status.ok()) return status;
    return loadEngine(bytes, size, read, engine);
  });
}

INFERLET_SESSIONS_API void inferlet_engine_release(inferlet_engine* engine) {
  sessions::quietly([&] { delete engine; });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_tensor_count(const inferlet_engine* engine,
                                                                    int32_t* count) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!count) return nullArgument("count");
    *count = engine->engine->tensor_count();
    return Status();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_tensor_info(const inferlet_engine* engine,
                                                                   int32_t index,
                                                                   inferlet_tensor_info* info) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!info) return nullArgument("info");
    Status status = checkTensorIndex(*engine->engine, index);
    if (!status.ok()) return status;
    *info = engine->engine->info(index);
    return Status();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_tensor_format(const inferlet_engine* engine,
                                                                     int32_t index, int32_t profile,
                                                                     int32_t* format) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!format) return nullArgument("format");
    Status status = checkTensorIndex(*engine->engine, index);
    if (status.ok()) status = checkProfile(*engine->engine, profile);
    if (!status.ok()) return status;
    *format =
        static_cast<int32_t>(engine->engine->tensor(index).layouts[static_cast<size_t>(profile)].format);
    return Status();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_count(const inferlet_engine* engine,
                                                                     int32_t* count) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!count) return nullArgument("count");
    *count = engine->engine->profile_count();
    return Status();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_profile_shape(const inferlet_engine* engine,
                                                                     int32_t profile, int32_t tensor_index,
                                                                     inferlet_profile_point point,
                                                                     inferlet_shape* shape) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!shape) return nullArgument("shape");
    const sessions::Engine& loaded = *engine->engine;
    Status status = checkProfile(loaded, profile);
    if (status.ok()) status = checkTensorIndex(loaded, tensor_index);
    if (!status.ok()) return status;
    const sessions::TensorDescription& tensor = loaded.tensor(tensor_index);
    if (!tensor.is_input) {
      return Status::failure(INFERLET_INVALID_ARGUMENT, "tensor " + std::to_string(tensor_index) + " ('" +
                                                            tensor.name +
                                                            "') is an output: profiles give inputs' shapes");
    }
    const sessions::ProfileRange& range = tensor.ranges[static_cast<size_t>(profile)];
    switch (sessions::cEnumValue(point)) {
      case INFERLET_PROFILE_MIN:
        *shape = sessions::toShape(range.min);
        return Status();
      case INFERLET_PROFILE_OPT:
        *shape = sessions::toShape(range.opt);
        return Status();
      case INFERLET_PROFILE_MAX:
        *shape = sessions::toShape(range.max);
        return Status();
    }
    return Status::failure(INFERLET_INVALID_ARGUMENT, "profile point " +
                                                          std::to_string(sessions::cEnumValue(point)) +
                                                          " is not INFERLET_PROFILE_MIN, _OPT or _MAX");
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_engine_device_memory(const inferlet_engine* engine,
                                                                     size_t* engine_bytes,
                                                                     size_t* context_bytes) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!engine_bytes) return nullArgument("engine_bytes");
    if (!context_bytes) return nullArgument("context_bytes");
    *engine_bytes = engine->engine->engine_bytes();
    *context_bytes = engine->engine->context_bytes();
    return Status();
  });
}

INFERLET_SESSIONS_API void inferlet_session_options_init(inferlet_session_options* options) {
  if (options) *options = sessions::defaultOptions();
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_create(inferlet_engine* engine,
                                                               const inferlet_session_options* options,
                                                               inferlet_session** session) {
  return sessions::answer([&] { return createSession(engine, sessions::configOf(options), session); });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_create_with_config(
    inferlet_engine* engine, const inferlet_session_config* config, inferlet_session** session) {
  return sessions::answer([&] {
    if (!engine) return nullArgument("engine");
    if (!session) return nullArgument("session");
    inferlet_session_config read;
    Status status = sessions::readConfig(config, &read);
    if (!status.ok()) return status;
    return createSession(engine, read, session);
  });
}

INFERLET_SESSIONS_API void inferlet_session_release(inferlet_session* session) {
  sessions::quietly([&] { delete session; });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_device_memory(const inferlet_session* session,
                                                                      size_t* bytes) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    if (!bytes) return nullArgument("bytes");
    *bytes = session->session->device_memory();
    return Status();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_enqueue(inferlet_session* session,
                                                                const inferlet_tensor* inputs,
                                                                size_t input_count, inferlet_tensor* outputs,
                                                                size_t output_count) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    return session->session->enqueue(inputs, input_count, outputs, output_count);
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_wait(inferlet_session* session) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    return session->session->wait();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_run(inferlet_session* session,
                                                            const inferlet_tensor* inputs, size_t input_count,
                                                            inferlet_tensor* outputs, size_t output_count) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    return session->session->run(inputs, input_count, outputs, output_count);
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_event(inferlet_session* session, void** event) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    return session->session->event(event);
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_stream(const inferlet_session* session,
                                                               void** stream) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    if (!stream) return nullArgument("stream");
    *stream = session->session->stream();
    return Status();
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_wait_stream(inferlet_session* session, void* stream) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    return session->session->wait_stream(stream);
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_session_order_stream(inferlet_session* session,
                                                                     void* stream) {
  return sessions::answer([&] {
    if (!session) return nullArgument("session");
    return session->session->order_stream(stream);
  });
}

}  // extern "C"
