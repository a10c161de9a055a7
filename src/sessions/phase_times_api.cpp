// The exported inferlet_session_phase_times: a session's last completed call's phase times.
#include <string>

#include "handles.h"
#include "inferlet_sessions.h"
#include "status.h"

extern "C" {

INFERLET_SESSIONS_API inferlet_status* inferlet_session_phase_times(const inferlet_session* session,
                                                                    inferlet_phase_times* times) {
  return sessions::answer([&] {
    using sessions::Status;
    if (!session) return Status::failure(INFERLET_INVALID_ARGUMENT, "session is null");
    if (!times) return Status::failure(INFERLET_INVALID_ARGUMENT, "times is null");
    return session->session->phase_times(times);
  });
}

}  // extern "C"
