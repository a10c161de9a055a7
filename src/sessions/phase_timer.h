// The phase times of a session made with phase_timing: CUDA events recorded on the session's stream
// between a call's uploads, TensorRT's work and its downloads (or around the one launch of a replayed
// graph), and what they measured for the last call that completed. A session without phase_timing
// keeps a timer that was never started: it makes no event and records none.
#ifndef INFERLET_SESSIONS_PHASE_TIMER_H_
#define INFERLET_SESSIONS_PHASE_TIMER_H_

#include <cuda_runtime_api.h>

#include <mutex>

#include "cuda_resources.h"
#include "inferlet_sessions.h"
#include "status.h"

namespace sessions {

class PhaseTimer {
 public:
  // Where a call's stream is marked: before its uploads, after them, after TensorRT's work, after its
  // downloads. A graph replay is marked at kStart and kEnd only.
  enum Mark { kStart, kUploaded, kComputed, kEnd, kMarkCount };

  // Makes the timing events on the current device (the session's).
  Status start(int device);
  bool started() const { return mEvents[kStart].get() != nullptr; }
  void release();

  // What the call being queued is: a graph replay or TensorRT's own work.
  void begin_call(bool graph_replay) { mReplay = graph_replay; }
  // Records the mark on the call's stream; nothing at all for a timer never started (inline, so that
  // a session without phase timing pays a test for it).
  Status mark(Mark mark, cudaStream_t stream, int device) {
    return started() ? record(mark, stream, device) : Status();
  }
  // Once the call's stream is synchronized: its durations become the last completed call's.
  Status measure(int device) { return started() ? take_times(device) : Status(); }

  // The last completed call's durations; refused for a timer never started, or before any call.
  Status last(inferlet_phase_times* times) const;

 private:
  Status record(Mark mark, cudaStream_t stream, int device);
  Status take_times(int device);

  Event mEvents[kMarkCount];
  bool mReplay = false;
  mutable std::mutex mMutex;  // the host may ask from another thread while a call completes
  bool mMeasured = false;
  inferlet_phase_times mTimes{};
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_PHASE_TIMER_H_
