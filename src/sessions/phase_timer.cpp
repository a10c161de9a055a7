#include "phase_timer.h"

#include "sticky_faults.h"

namespace sessions {

Status PhaseTimer::start(int device) {
  for (Event& event : mEvents) {
    const cudaError_t code = cudaEventCreateWithFlags(event.receive(), cudaEventDefault);
    if (code != cudaSuccess) return cudaFailure(device, "cudaEventCreateWithFlags", code);
  }
  return Status();
}

void PhaseTimer::release() {
  for (Event& event : mEvents) event.reset();
}

Status PhaseTimer::record(Mark mark, cudaStream_t stream, int device) {
  const cudaError_t code = cudaEventRecord(mEvents[mark].get(), stream);
  if (code != cudaSuccess) return cudaFailure(device, "cudaEventRecord", code);
  return Status();
}

Status PhaseTimer::take_times(int device) {
  auto between = [&](Mark from, Mark to, float* ms) {
    const cudaError_t code = cudaEventElapsedTime(ms, mEvents[from].get(), mEvents[to].get());
    return code == cudaSuccess ? Status() : cudaFailure(device, "cudaEventElapsedTime", code);
  };
  inferlet_phase_times times{};
  times.graph_replay = mReplay ? 1 : 0;
  Status status = mReplay ? between(kStart, kEnd, &times.compute_ms)
                          : between(kStart, kUploaded, &times.host_to_device_ms);
  if (status.ok() && !mReplay) status = between(kUploaded, kComputed, &times.compute_ms);
  if (status.ok() && !mReplay) status = between(kComputed, kEnd, &times.device_to_host_ms);
  if (!status.ok()) return status;
  std::lock_guard<std::mutex> lock(mMutex);
  mTimes = times;
  mMeasured = true;
  return Status();
}

Status PhaseTimer::last(inferlet_phase_times* times) const {
  if (!started()) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "the session does not time its calls' phases: it was made without "
                           "inferlet_session_options.phase_timing");
  }
  std::lock_guard<std::mutex> lock(mMutex);
  if (!mMeasured) return Status::failure(INFERLET_NOT_RUNNING, "the session has completed no call yet");
  *times = mTimes;
  return Status();
}

}  // namespace sessions
