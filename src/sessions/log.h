// The host's log callback: the one way the sessions interface says anything. The library's own
// messages and TensorRT's (through the ILogger every runtime of this library is made with) reach it
// when their level is at or below the host's threshold; without a callback nothing is said.
#ifndef INFERLET_SESSIONS_LOG_H_
#define INFERLET_SESSIONS_LOG_H_

#include <NvInfer.h>

#include <string>

#include "inferlet_sessions.h"

namespace sessions {

void setLog(inferlet_log_fn fn, void* user, inferlet_log_level threshold) noexcept;

// Whether a message of this level would reach the host: to skip composing one that would not.
bool logs(inferlet_log_level level) noexcept;
void log(inferlet_log_level level, const char* message) noexcept;
inline void log(inferlet_log_level level, const std::string& message) noexcept {
  log(level, message.c_str());
}

// What TensorRT writes through: every runtime is made with it, so it lives as long as the process.
nvinfer1::ILogger& tensorrtLogger() noexcept;

}  // namespace sessions

#endif  // INFERLET_SESSIONS_LOG_H_
