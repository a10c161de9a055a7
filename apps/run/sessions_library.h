// The sessions library (libinferlet_sessions<N>.so) loaded with dlopen and driven only through the
// functions of its C header, as a host would, for --api sessions.
#ifndef INFERLET_APPS_SESSIONS_LIBRARY_H_
#define INFERLET_APPS_SESSIONS_LIBRARY_H_

#include <string>

#include "deliverable.h"
#include "inferlet_sessions.h"

namespace inferlet_run {

class SessionsLibrary : public RunLibrary {
 public:
  // Throws ToolError (kExitLibrary) when it cannot be loaded or lacks a function. Its major is the one
  // it answers (inferlet_tensorrt_major).
  explicit SessionsLibrary(const std::string& path);

  decltype(&inferlet_status_code) status_code;
  decltype(&inferlet_status_message) status_message;
  decltype(&inferlet_status_release) status_release;
  decltype(&inferlet_set_log) set_log;
  decltype(&inferlet_tensorrt_major) tensorrt_major;
  decltype(&inferlet_engine_load) engine_load;
  decltype(&inferlet_engine_release) engine_release;
  decltype(&inferlet_engine_tensor_count) engine_tensor_count;
  decltype(&inferlet_engine_tensor_info) engine_tensor_info;
  decltype(&inferlet_engine_device_memory) engine_device_memory;
  decltype(&inferlet_session_options_init) session_options_init;
  decltype(&inferlet_session_create) session_create;
  decltype(&inferlet_session_release) session_release;
  decltype(&inferlet_session_device_memory) session_device_memory;
  decltype(&inferlet_session_run) session_run;
  decltype(&inferlet_session_phase_times) session_phase_times;

  // Empty for success; otherwise "INFERLET_<CODE>: message", and the status is released.
  std::string Take(inferlet_status* status) const;
};

// "INFERLET_SHAPE_OUT_OF_PROFILE" for its code.
const char* CodeName(inferlet_code code);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_SESSIONS_LIBRARY_H_
