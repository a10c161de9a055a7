// inferlet_session_resolve_shapes: a call's output shapes before the call, for a host that allocates
// its outputs to fit. The session's context is given the input shapes and asked for the outputs', as a
// call does before it queues anything; the session is busy meanwhile, so no call shares its plan.
#include <string>

#include "device_guard.h"
#include "handles.h"
#include "inferlet_sessions.h"
#include "session.h"
#include "status.h"
#include "sticky_faults.h"

namespace sessions {

Status Session::resolve_shapes(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
                               size_t output_count) {
  Status status = begin_call();
  if (!status.ok()) return status;
  status = [&] {
    const int device = mEngine->device();
    Status resolved = checkDevice(device);
    if (!resolved.ok()) return resolved;
    DeviceGuard guard;
    resolved = guard.enter(device);
    if (!resolved.ok()) return resolved;
    resolved = mPlan.bind_shapes(mResources, inputs, input_count, outputs, output_count);
    if (!resolved.ok()) return resolved;
    resolved = mPlan.resolve_dims(mResources);
    if (!resolved.ok()) return resolved;
    mPlan.publish_output_shapes(outputs, output_count);
    return Status();
  }();
  mState.store(kIdle);
  return status;
}

}  // namespace sessions

extern "C" INFERLET_SESSIONS_API inferlet_status* inferlet_session_resolve_shapes(
    inferlet_session* session, const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
    size_t output_count) {
  return sessions::answer([&] {
    if (!session) return sessions::Status::failure(INFERLET_INVALID_ARGUMENT, "session is null");
    return session->session->resolve_shapes(inputs, input_count, outputs, output_count);
  });
}
