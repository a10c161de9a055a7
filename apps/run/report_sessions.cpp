// The report's sections for --api sessions, --compare and --shapes.
#include <fmt/format.h>

#include <cmath>
#include <iterator>

#include "report_parts.h"

namespace inferlet_run {

namespace {

long long SessionsTotal(const RunReport& r) {
  long long total = r.engine_bytes;
  for (const SessionReport& s : r.sessions)
    total = total < 0 || s.device_bytes < 0 ? -1 : total + s.device_bytes;
  return total;
}

nlohmann::json StatsJson(const PhaseStats& s) {
  return {{"min", s.min_us}, {"mean", s.mean_us}, {"median", s.median_us}, {"max", s.max_us}};
}

nlohmann::json PhasesJson(const PhaseSummary& p) {
  return {{"calls", p.calls},
          {"graph_replays", p.graph_replays},
          {"host_to_device_us", StatsJson(p.host_to_device)},
          {"compute_us", StatsJson(p.compute)},
          {"device_to_host_us", StatsJson(p.device_to_host)}};
}

std::string RowShapes(const RunReport& r, const ShapeRowReport& row) {
  const ProfileConfig& profile = r.config.profiles[r.profile];
  std::string text;
  for (size_t i = 0; i < row.shapes.size(); ++i)
    text += fmt::format("{}{} {}", i ? ", " : "", profile.inputs[i].name, FormatDims(row.shapes[i]));
  return text;
}

// A number that may not be finite (a NaN in an output), as JSON has no such numbers: null then.
nlohmann::json Finite(double value) {
  return std::isfinite(value) ? nlohmann::json(value) : nlohmann::json();
}

}  // namespace

void AppendSessionsMemory(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Memory   device memory of the engine and its sessions: engine {}",
                 Bytes(r.engine_bytes));
  for (size_t i = 0; i < r.sessions.size(); ++i)
    fmt::format_to(it, ", session {} {}", i, Bytes(r.sessions[i].device_bytes));
  fmt::format_to(it, "; {} in all\n", Bytes(SessionsTotal(r)));
}

void AppendPhases(std::string& out, const PhaseSummary& p) {
  auto it = std::back_inserter(out);
  fmt::format_to(
      it, "Phases   {} timed calls, from CUDA events on each session's stream, microseconds per call\n",
      p.calls);
  fmt::format_to(it, "  {:<14} {:>10} {:>10} {:>10} {:>10}\n", "", "min", "mean", "median", "max");
  const std::pair<const char*, const PhaseStats*> rows[] = {
      {"host-to-device", &p.host_to_device}, {"compute", &p.compute}, {"device-to-host", &p.device_to_host}};
  for (const auto& [name, s] : rows)
    fmt::format_to(it, "  {:<14} {:>10.3f} {:>10.3f} {:>10.3f} {:>10.3f}\n", name, s->min_us, s->mean_us,
                   s->median_us, s->max_us);
  if (p.graph_replays > 0)
    fmt::format_to(
        it, "         {} of {} calls replayed a CUDA graph: each is one launch, timed as compute, copies 0\n",
        p.graph_replays, p.calls);
}

void AppendSessions(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Sessions one thread each, microseconds per call\n");
  fmt::format_to(it, "  {:>7} {:>8} {:>6} {:>8} {:>10} {:>10} {:>10} {:>12} {:>12}\n", "session", "profile",
                 "batch", "calls", "mean", "median", "p99", "calls/s", "samples/s");
  for (size_t i = 0; i < r.sessions.size(); ++i) {
    const SessionReport& s = r.sessions[i];
    fmt::format_to(it, "  {:>7} {:>8} {:>6} {:>8} {:>10.3f} {:>10.3f} {:>10.3f} {:>12.1f} {:>12.1f}\n", i,
                   s.profile, s.batch, s.latency.calls, s.latency.mean_us, s.latency.median_us,
                   s.latency.p99_us, s.latency.calls_per_s, s.latency.samples_per_s);
  }
}

void AppendCompare(std::string& out, const RunReport& r) {
  const CompareReport& c = r.compare;
  if (c.dir.empty()) return;
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Compare  against {}: |a - b| <= atol + rtol * |b|, rtol {:g}, atol {:g}\n", c.dir,
                 c.rtol, c.atol);
  for (const OutputComparison& o : c.outputs)
    fmt::format_to(it,
                   "  {}  {} of {} elements out of tolerance, max abs diff {:.6g}, max rel diff {:.6g}: {}\n",
                   o.name, o.out_of_tolerance, o.elements, o.max_abs_diff, o.max_rel_diff,
                   o.passed() ? "ok" : "OUT OF TOLERANCE");
}

void AppendRows(std::string& out, const RunReport& r, size_t name_width) {
  auto it = std::back_inserter(out);
  const bool phases = r.api == Api::kSessions;
  fmt::format_to(
      it, "Shapes   {} rows, each {} timed calls or more after {} warm-up calls, microseconds per call{}\n",
      r.rows.size(), r.min_iterations, r.warmup_calls, phases ? " (phases: means)" : "");
  size_t w = 6;
  for (const ShapeRowReport& row : r.rows) w = std::max(w, RowShapes(r, row).size());
  fmt::format_to(it, "  {:>3}  {:<{}} {:>8} {:>10} {:>10} {:>10} {:>12} {:>12}", "row", "shapes", w, "calls",
                 "mean", "median", "p99", "calls/s", "samples/s");
  if (phases) fmt::format_to(it, " {:>10} {:>10} {:>10}", "h2d", "compute", "d2h");
  fmt::format_to(it, "\n");
  for (size_t k = 0; k < r.rows.size(); ++k) {
    const ShapeRowReport& row = r.rows[k];
    const LatencySummary& s = row.latency;
    fmt::format_to(it, "  {:>3}  {:<{}} {:>8} {:>10.3f} {:>10.3f} {:>10.3f} {:>12.1f} {:>12.1f}", k,
                   RowShapes(r, row), w, s.calls, s.mean_us, s.median_us, s.p99_us, s.calls_per_s,
                   s.samples_per_s);
    if (phases)
      fmt::format_to(it, " {:>10.3f} {:>10.3f} {:>10.3f}", row.phases.host_to_device.mean_us,
                     row.phases.compute.mean_us, row.phases.device_to_host.mean_us);
    fmt::format_to(it, "\n");
    for (const OutputResult& o : row.outputs) {
      out += "    ";
      AppendOutput(out, o, name_width, TypeWidth(r.engine));
    }
  }
}

void AddSessionsJson(nlohmann::json& j, const RunReport& r) {
  j["library"]["api"] = "sessions";
  j["run"]["api"] = "sessions";
  j["run"]["sessions"] = r.sessions.size();
  nlohmann::json profiles = nlohmann::json::array(), memory = nlohmann::json::array(),
                 sessions = nlohmann::json::array();
  for (size_t i = 0; i < r.sessions.size(); ++i) {
    const SessionReport& s = r.sessions[i];
    profiles.push_back(s.profile);
    memory.push_back(s.device_bytes);
    if (!r.rows.empty()) continue;  // a sweep reports rows instead
    sessions.push_back({{"session", i},
                        {"profile", s.profile},
                        {"batch", s.batch},
                        {"device_memory", s.device_bytes},
                        {"latency", LatencyJson(s.latency)},
                        {"throughput", ThroughputJson(s.latency)}});
  }
  j["run"]["profiles"] = profiles;
  j["device_memory"] = {{"engine", r.engine_bytes},
                        {"context", r.context_bytes},
                        {"sessions", memory},
                        {"total", SessionsTotal(r)}};
  if (r.rows.empty()) {
    j["sessions"] = sessions;
    j["phases"] = PhasesJson(r.phases);
  }
}

nlohmann::json CompareJson(const CompareReport& c) {
  nlohmann::json outputs = nlohmann::json::array();
  for (const OutputComparison& o : c.outputs)
    outputs.push_back({{"name", o.name},
                       {"file", o.file},
                       {"elements", o.elements},
                       {"out_of_tolerance", o.out_of_tolerance},
                       {"max_abs_diff", Finite(o.max_abs_diff)},
                       {"max_rel_diff", Finite(o.max_rel_diff)},
                       {"passed", o.passed()}});
  return {{"dir", c.dir}, {"rtol", c.rtol}, {"atol", c.atol}, {"passed", c.passed()}, {"outputs", outputs}};
}

nlohmann::json RowsJson(const RunReport& r) {
  const ProfileConfig& profile = r.config.profiles[r.profile];
  nlohmann::json rows = nlohmann::json::array();
  for (const ShapeRowReport& row : r.rows) {
    nlohmann::json shapes = nlohmann::json::object(), outputs = nlohmann::json::array();
    for (size_t i = 0; i < row.shapes.size(); ++i) shapes[profile.inputs[i].name] = row.shapes[i];
    for (const OutputResult& o : row.outputs) outputs.push_back(OutputJson(o));
    nlohmann::json entry = {{"shapes", shapes},
                            {"batch", row.batch},
                            {"latency", LatencyJson(row.latency)},
                            {"throughput", ThroughputJson(row.latency)},
                            {"outputs", outputs}};
    if (r.api == Api::kSessions) entry["phases"] = PhasesJson(row.phases);
    rows.push_back(std::move(entry));
  }
  return rows;
}

}  // namespace inferlet_run
