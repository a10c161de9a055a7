// A session's options from whichever form the host handed in: version 1's inferlet_session_options or
// the inferlet_session_config that grows.
#ifndef INFERLET_SESSIONS_SESSION_OPTIONS_H_
#define INFERLET_SESSIONS_SESSION_OPTIONS_H_

#include "inferlet_sessions.h"
#include "status.h"

namespace sessions {

// The defaults, as inferlet_session_config_init and inferlet_session_options_init write them.
inferlet_session_config defaultConfig();
inferlet_session_options defaultOptions();

// Version 1's options (null: the defaults) as a config.
inferlet_session_config configOf(const inferlet_session_options* options);

// The host's config (null: the defaults), read as far as its struct_size reaches.
Status readConfig(const inferlet_session_config* host, inferlet_session_config* config);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_SESSION_OPTIONS_H_
