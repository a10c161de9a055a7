#include "latency.h"

#include <fmt/format.h>

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

std::string PercentileName(double q) { return fmt::format("p{:g}", q); }

LatencySummary Summarize(std::vector<double> latencies_us, double wall_s, int batch,
                         const std::vector<double>& percentiles) {
  LatencySummary s;
  s.calls = latencies_us.size();
  s.wall_s = wall_s;
  std::sort(latencies_us.begin(), latencies_us.end());
  for (double q : percentiles) {
    const std::string name = PercentileName(q);
    if (name == "p50" || name == "p90" || name == "p99") continue;
    bool seen = false;
    for (const auto& e : s.extra) seen = seen || PercentileName(e.first) == name;
    if (!seen) s.extra.emplace_back(q, Percentile(latencies_us, q));
  }
  std::sort(s.extra.begin(), s.extra.end());
  if (latencies_us.empty()) return s;
  s.min_us = latencies_us.front();
  s.max_us = latencies_us.back();
  s.mean_us = std::accumulate(latencies_us.begin(), latencies_us.end(), 0.0) / static_cast<double>(s.calls);
  s.median_us = Percentile(latencies_us, 50);
  s.p90_us = Percentile(latencies_us, 90);
  s.p99_us = Percentile(latencies_us, 99);
  if (wall_s > 0) {
    s.calls_per_s = static_cast<double>(s.calls) / wall_s;
    s.samples_per_s = s.calls_per_s * batch;
  }
  return s;
}

}  // namespace inferlet_run
