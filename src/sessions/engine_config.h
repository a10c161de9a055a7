// How an engine is loaded, from whichever form the host handed in: inferlet_engine_load's arguments or
// the inferlet_engine_config that grows.
#ifndef INFERLET_SESSIONS_ENGINE_CONFIG_H_
#define INFERLET_SESSIONS_ENGINE_CONFIG_H_

#include "inferlet_sessions.h"
#include "status.h"

namespace sessions {

// The defaults, as inferlet_engine_config_init writes them, on device.
inferlet_engine_config engineConfigOn(int device);

// The host's config (null: the defaults), read as far as its struct_size reaches.
Status readEngineConfig(const inferlet_engine_config* host, inferlet_engine_config* config);

// A refused load whose engine may be a version-compatible one the config did not allow: its message
// then names allow_host_code. Other statuses are returned as they are.
Status withHostCodeHint(Status refused, const inferlet_engine_config& config);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_ENGINE_CONFIG_H_
