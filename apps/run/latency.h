// Summary of the per-call latencies of a timed run. Every latency is in microseconds.
#ifndef INFERLET_APPS_LATENCY_H_
#define INFERLET_APPS_LATENCY_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace inferlet_run {

struct LatencySummary {
  size_t calls = 0;
  double min_us = 0, mean_us = 0, median_us = 0, p90_us = 0, p99_us = 0, max_us = 0;
  std::vector<std::pair<double, double>> extra;  // (percentile, µs) asked for with --percentile
  double wall_s = 0;         // the whole timed phase, from its first call to the end of its last
  double calls_per_s = 0;    // calls / wall_s
  double samples_per_s = 0;  // calls_per_s * batch
};

// Percentile q (0..100) of sorted values, interpolating linearly between the two nearest ranks.
double Percentile(const std::vector<double>& sorted, double q);

// The fixed set (min, mean, median, p90, p99, max) and, in increasing order and without repeats or
// members of the fixed set, the percentiles asked for.
LatencySummary Summarize(std::vector<double> latencies_us, double wall_s, int batch,
                         const std::vector<double>& percentiles = {});

// "p99.9" for 99.9, "p95" for 95: the name a percentile has in the report and in JSON keys.
std::string PercentileName(double q);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_LATENCY_H_
