// Summary of the per-call latencies of a timed run.
#ifndef INFERLET_APPS_LATENCY_H_
#define INFERLET_APPS_LATENCY_H_

#include <cstddef>
#include <vector>

namespace inferlet_run {

struct LatencySummary {
  size_t calls = 0;
  double min_ms = 0, mean_ms = 0, median_ms = 0, p90_ms = 0, p99_ms = 0, max_ms = 0;
  double wall_s = 0;         // the whole timed phase, from its first call to the end of its last
  double calls_per_s = 0;    // calls / wall_s
  double samples_per_s = 0;  // calls_per_s * batch
};

// Percentile q (0..100) of sorted values, interpolating linearly between the two nearest ranks.
double Percentile(const std::vector<double>& sorted, double q);

LatencySummary Summarize(std::vector<double> latencies_ms, double wall_s, int batch);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_LATENCY_H_
