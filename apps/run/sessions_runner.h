// A run with --api sessions: the engine loaded once through the sessions library, --sessions sessions
// each driven by a thread of its own on its profile (session_profiles.h), or one session through every
// row of --shapes; per-session and total latencies, the phase times of every timed call, the device
// memory of the engine and of each session.
#ifndef INFERLET_APPS_SESSIONS_RUNNER_H_
#define INFERLET_APPS_SESSIONS_RUNNER_H_

#include <fstream>
#include <string>

#include "options.h"
#include "runner.h"
#include "sessions_loader.h"

namespace inferlet_run {

// Fills the report from report.engine and report.config on; throws ToolError, with every session and
// the engine released first.
void RunSessions(const inferlet_loader::SessionsLibrary& lib, const std::string& engine_bytes,
                 const Options& options, std::ofstream& times, RunReport& report);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_SESSIONS_RUNNER_H_
