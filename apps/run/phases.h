// The phase times of a run's timed calls on the sessions interface (inferlet_session_phase_times of
// each call), summarized per phase in microseconds.
#ifndef INFERLET_APPS_PHASES_H_
#define INFERLET_APPS_PHASES_H_

#include <cstddef>
#include <vector>

#include "inferlet_sessions.h"

namespace inferlet_run {

struct PhaseStats {
  double min_us = 0, mean_us = 0, median_us = 0, max_us = 0;
};

struct PhaseSummary {
  size_t calls = 0;
  size_t graph_replays = 0;  // timed whole as compute, copies 0
  PhaseStats host_to_device, compute, device_to_host;
};

PhaseSummary SummarizePhases(const std::vector<inferlet_phase_times>& calls);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_PHASES_H_
