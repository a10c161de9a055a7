// inferlet_session_resolve_shapes and inferlet_session_resolve_output_bounds: a call's output shapes
// (and the bytes each output may take) before the call, for a host that allocates its outputs to fit. The
// session's context is given the input shapes and asked for the outputs', as a call does before it queues
// anything; the session is busy meanwhile, so no call shares its plan.
#include <string>

#include "device_guard.h"
#include "handles.h"
#include "inferlet_sessions.h"
#include "session.h"
#include "sized_struct.h"
#include "status.h"
#include "sticky_faults.h"

namespace sessions {
namespace {

// The host's array of bounds, each struct_size bytes apart; every element is checked before any is
// written, so that a refusal writes none.
Status checkBounds(const inferlet_output_bound* bounds, size_t output_count) {
  if (output_count == 0) return Status();
  if (!bounds) return Status::failure(INFERLET_INVALID_ARGUMENT, "bounds is null");
  const size_t stride = bounds->struct_size;
  Status status = checkStructSize(stride, sizeof(inferlet_output_bound), "bounds[0]");
  if (!status.ok()) return status;
  for (size_t j = 1; j < output_count; ++j) {
    const auto* bound = reinterpret_cast<const inferlet_output_bound*>(
        reinterpret_cast<const unsigned char*>(bounds) + j * stride);
    if (bound->struct_size != stride) {
      return Status::failure(INFERLET_INVALID_ARGUMENT, "bounds[" + std::to_string(j) + "].struct_size " +
                                                            std::to_string(bound->struct_size) +
                                                            " differs from bounds[0]'s " +
                                                            std::to_string(stride));
    }
  }
  return Status();
}

}  // namespace

Status Session::resolve_shapes(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
                               size_t output_count, inferlet_output_bound* bounds) {
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
    if (bounds) write_bounds(bounds, output_count);
    return Status();
  }();
  mState.store(kIdle);
  return status;
}

void Session::write_bounds(inferlet_output_bound* bounds, size_t output_count) const {
  const size_t stride = bounds->struct_size;
  for (size_t j = 0; j < mPlan.output_count(); ++j) {
    const size_t entry = mPlan.output_entry(j);
    if (entry >= output_count) continue;
    inferlet_output_bound value;
    inferlet_output_bound_init(&value);
    value.data_dependent = mPlan.output_data_dependent(j) ? 1 : 0;
    value.max_bytes = mPlan.output_bound(j);
    auto* host =
        reinterpret_cast<inferlet_output_bound*>(reinterpret_cast<unsigned char*>(bounds) + entry * stride);
    (void)writeSized(value, sizeof(inferlet_output_bound), "bounds", host);
  }
}

}  // namespace sessions

extern "C" INFERLET_SESSIONS_API inferlet_status* inferlet_session_resolve_shapes(
    inferlet_session* session, const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
    size_t output_count) {
  return sessions::answer([&] {
    if (!session) return sessions::Status::failure(INFERLET_INVALID_ARGUMENT, "session is null");
    return session->session->resolve_shapes(inputs, input_count, outputs, output_count, nullptr);
  });
}

extern "C" INFERLET_SESSIONS_API inferlet_status* inferlet_session_resolve_output_bounds(
    inferlet_session* session, const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
    size_t output_count, inferlet_output_bound* bounds) {
  return sessions::answer([&] {
    if (!session) return sessions::Status::failure(INFERLET_INVALID_ARGUMENT, "session is null");
    sessions::Status status = sessions::checkBounds(bounds, output_count);
    if (!status.ok()) return status;
    return session->session->resolve_shapes(inputs, input_count, outputs, output_count,
                                            output_count > 0 ? bounds : nullptr);
  });
}
