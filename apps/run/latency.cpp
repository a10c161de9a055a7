#include "latency.h"

#include <algorithm>
#include <numeric>

namespace inferlet_run {

double Percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  const double rank = q / 100.0 * static_cast<double>(sorted.size() - 1);
  const size_t below = static_cast<size_t>(rank);
  if (below + 1 >= sorted.size()) return sorted.back();
  const double frac = rank - static_cast<double>(below);
  return sorted[below] + (sorted[below + 1] - sorted[below]) * frac;
}

LatencySummary Summarize(std::vector<double> latencies_ms, double wall_s, int batch) {
  LatencySummary s;
  s.calls = latencies_ms.size();
  s.wall_s = wall_s;
  if (latencies_ms.empty()) return s;
  std::sort(latencies_ms.begin(), latencies_ms.end());
  s.min_ms = latencies_ms.front();
  s.max_ms = latencies_ms.back();
  s.mean_ms = std::accumulate(latencies_ms.begin(), latencies_ms.end(), 0.0) / static_cast<double>(s.calls);
  s.median_ms = Percentile(latencies_ms, 50);
  s.p90_ms = Percentile(latencies_ms, 90);
  s.p99_ms = Percentile(latencies_ms, 99);
  if (wall_s > 0) {
    s.calls_per_s = static_cast<double>(s.calls) / wall_s;
    s.samples_per_s = s.calls_per_s * batch;
  }
  return s;
}

}  // namespace inferlet_run
