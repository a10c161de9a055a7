// Owning handles of the sessions interface's engines and sessions, for the tests and the fuzz targets
// that drive its C functions directly (the C++ wrapper has its own classes). Needs neither GoogleTest
// nor the emulated device.
#ifndef INFERLET_SUPPORT_SESSION_HANDLES_H_
#define INFERLET_SUPPORT_SESSION_HANDLES_H_

#include <inferlet_sessions.h>

#include <memory>

namespace inferlet_test {

struct EngineRelease {
  void operator()(inferlet_engine* engine) const { inferlet_engine_release(engine); }
};
struct SessionRelease {
  void operator()(inferlet_session* session) const { inferlet_session_release(session); }
};
using EngineHandle = std::unique_ptr<inferlet_engine, EngineRelease>;
using SessionHandle = std::unique_ptr<inferlet_session, SessionRelease>;

}  // namespace inferlet_test

#endif  // INFERLET_SUPPORT_SESSION_HANDLES_H_
