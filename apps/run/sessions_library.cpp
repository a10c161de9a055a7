#include "sessions_library.h"

#include <fmt/format.h>

namespace inferlet_run {

namespace {

template <typename Fn>
void Bind(const SharedLibrary& library, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(library.Symbol(name));
}

}  // namespace

SessionsLibrary::SessionsLibrary(const std::string& path) : RunLibrary(path) {
  Bind(library_, "inferlet_status_code", &status_code);
  Bind(library_, "inferlet_status_message", &status_message);
  Bind(library_, "inferlet_status_release", &status_release);
  Bind(library_, "inferlet_set_log", &set_log);
  Bind(library_, "inferlet_tensorrt_major", &tensorrt_major);
  Bind(library_, "inferlet_engine_load", &engine_load);
  Bind(library_, "inferlet_engine_release", &engine_release);
  Bind(library_, "inferlet_engine_tensor_count", &engine_tensor_count);
  Bind(library_, "inferlet_engine_tensor_info", &engine_tensor_info);
  Bind(library_, "inferlet_engine_device_memory", &engine_device_memory);
  Bind(library_, "inferlet_session_options_init", &session_options_init);
  Bind(library_, "inferlet_session_create", &session_create);
  Bind(library_, "inferlet_session_release", &session_release);
  Bind(library_, "inferlet_session_device_memory", &session_device_memory);
  Bind(library_, "inferlet_session_run", &session_run);
  Bind(library_, "inferlet_session_phase_times", &session_phase_times);
  linked_trt_major_ = tensorrt_major();
}

std::string SessionsLibrary::Take(inferlet_status* status) const {
  if (!status) return "";
  const std::string text = fmt::format("{}: {}", CodeName(status_code(status)), status_message(status));
  status_release(status);
  return text;
}

const char* CodeName(inferlet_code code) {
  switch (code) {
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

}  // namespace inferlet_run
