// The calls of a run: untimed warm-up calls, then timed calls until both at least --iterations calls
// and --duration seconds are done, as trtexec does. The same loop drives a deliverable's handle, each
// session's thread and each row of --shapes.
#ifndef INFERLET_APPS_TIMED_CALLS_H_
#define INFERLET_APPS_TIMED_CALLS_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <vector>

#include "terminal.h"

namespace inferlet_run {

using Clock = std::chrono::steady_clock;

// One call; throws ToolError naming the phase ("warm-up", "timed") and the call's number in it.
using CallFn = std::function<void(const char* phase, size_t n)>;

void WarmUpCalls(const CallFn& call, int warmup);

struct TimedCalls {
  std::vector<double> starts_us;     // from the start of the timed part
  std::vector<double> latencies_us;  // per call
  double wall_s = 0;                 // from the start to the end of the last call
};

struct TimingGoal {
  int iterations = 1;
  double duration_s = 0;
};

// Timed calls from `start` on; `after` runs untimed after each call. Stops early, between calls, once
// `stop` turns true (another thread failed). `progress` may be null.
TimedCalls TimeCalls(const CallFn& call, const TimingGoal& goal, Clock::time_point start,
                     ProgressLine* progress, const std::function<void()>& after = nullptr,
                     const std::atomic<bool>* stop = nullptr);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_TIMED_CALLS_H_
