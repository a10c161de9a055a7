#include "phases.h"

#include <algorithm>
#include <numeric>

#include "latency.h"

namespace inferlet_run {

namespace {

PhaseStats Stats(std::vector<double> us) {
  PhaseStats s;
  if (us.empty()) return s;
  std::sort(us.begin(), us.end());
  s.min_us = us.front();
  s.max_us = us.back();
  s.mean_us = std::accumulate(us.begin(), us.end(), 0.0) / static_cast<double>(us.size());
  s.median_us = Percentile(us, 50);
  return s;
}

}  // namespace

PhaseSummary SummarizePhases(const std::vector<inferlet_phase_times>& calls) {
  PhaseSummary summary;
  summary.calls = calls.size();
  std::vector<double> up, compute, down;
  for (const inferlet_phase_times& t : calls) {
    up.push_back(t.host_to_device_ms * 1e3);
    compute.push_back(t.compute_ms * 1e3);
    down.push_back(t.device_to_host_ms * 1e3);
    if (t.graph_replay) ++summary.graph_replays;
  }
  summary.host_to_device = Stats(std::move(up));
  summary.compute = Stats(std::move(compute));
  summary.device_to_host = Stats(std::move(down));
  return summary;
}

}  // namespace inferlet_run
