// inferlet_get_api: the interface as one table, for hosts that load the library with dlopen and look
// up this one symbol. One static table serves every version: a host of version N reads only the
// members version N has, which appending never moves.
#include "inferlet_sessions.h"

namespace {

constexpr inferlet_api kApi = {
    // version 1
    inferlet_status_code,
    inferlet_status_message,
    inferlet_status_release,
    inferlet_set_log,
    inferlet_tensorrt_major,
    inferlet_engine_load,
    inferlet_engine_release,
    inferlet_engine_tensor_count,
    inferlet_engine_tensor_info,
    inferlet_engine_tensor_format,
    inferlet_engine_profile_count,
    inferlet_engine_profile_shape,
    inferlet_engine_device_memory,
    inferlet_session_options_init,
    inferlet_session_create,
    inferlet_session_release,
    inferlet_session_device_memory,
    inferlet_session_enqueue,
    inferlet_session_wait,
    inferlet_session_run,
    inferlet_session_event,
    inferlet_session_resolve_shapes,
    inferlet_session_phase_times,
    // version 2
    inferlet_code_name,
    inferlet_describe_data_type,
    inferlet_session_create_with_config,
    inferlet_engine_get_properties,
    inferlet_engine_profile_resolved_shape,
    inferlet_engine_load_with_config,
    // version 3
    inferlet_plugin_library_load,
    // version 4
    inferlet_session_resolve_output_bounds,
    inferlet_engine_profile_tensor_values,
    // version 5
    inferlet_session_stream,
    inferlet_session_wait_stream,
    inferlet_session_order_stream,
    inferlet_memory_allocate,
    inferlet_memory_free,
    inferlet_memory_copy,
    inferlet_memory_describe,
};

}  // namespace

extern "C" INFERLET_SESSIONS_API const inferlet_api* inferlet_get_api(uint32_t version) {
  if (version < 1 || version > INFERLET_API_VERSION) return nullptr;
  return &kApi;
}
