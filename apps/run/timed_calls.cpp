#include "timed_calls.h"

namespace inferlet_run {

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }
double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

}  // namespace

void WarmUpCalls(const CallFn& call, int warmup) {
  for (int i = 0; i < warmup; ++i) call("warm-up", static_cast<size_t>(i) + 1);
}

TimedCalls TimeCalls(const CallFn& call, const TimingGoal& goal, Clock::time_point start,
                     ProgressLine* progress, const std::function<void()>& after,
                     const std::atomic<bool>* stop) {
  TimedCalls t;
  t.latencies_us.reserve(static_cast<size_t>(goal.iterations));
  t.starts_us.reserve(static_cast<size_t>(goal.iterations));
  Clock::time_point end = start;
  while (t.latencies_us.size() < static_cast<size_t>(goal.iterations) ||
         Seconds(end - start) < goal.duration_s) {
    if (stop && stop->load()) break;
    const Clock::time_point t0 = Clock::now();
    call("timed", t.latencies_us.size() + 1);
    end = Clock::now();
    t.latencies_us.push_back(Micros(end - t0));
    t.starts_us.push_back(Micros(t0 - start));
    if (after) after();
    if (progress)
      progress->Update(t.latencies_us.size(), static_cast<size_t>(goal.iterations), Seconds(end - start),
                       goal.duration_s);
  }
  if (progress) progress->Finish();
  t.wall_s = Seconds(end - start);
  return t;
}

}  // namespace inferlet_run
