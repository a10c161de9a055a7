// The sessions interface as a backend of the run loop: the engine loaded once through the sessions
// library, a session per lane on its profile (session_profiles.h) timing its calls' phases, the
// library's messages printed as a deliverable's lines are. Every refusal becomes a ToolError (rejected)
// that quotes the library's status.
#ifndef INFERLET_APPS_SESSIONS_BACKEND_H_
#define INFERLET_APPS_SESSIONS_BACKEND_H_

#include <memory>
#include <string>

#include "backend.h"
#include "sessions_loader.h"

namespace inferlet_run {

// The library, the engine's bytes and the configuration must outlive it.
std::unique_ptr<Backend> MakeSessionsBackend(const inferlet_loader::SessionsLibrary& lib,
                                             const std::string& engine_bytes, const Options& options,
                                             const ModelConfig& config);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_SESSIONS_BACKEND_H_
