// TensorRT's plugins: its own (initLibNvInferPlugins, once per process before anything else of
// TensorRT's is used) and the libraries of a host's plugins (inferlet_plugin_library_load).
#ifndef INFERLET_SESSIONS_PLUGINS_H_
#define INFERLET_SESSIONS_PLUGINS_H_

#include "status.h"

namespace sessions {

// Registers TensorRT's own plugins, with the library's logger as the plugin logger; the first call
// does it, later ones nothing.
void initPluginsOnce();

// inferlet_plugin_library_load (include/inferlet_sessions.h).
Status loadPluginLibrary(const char* path);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_PLUGINS_H_
