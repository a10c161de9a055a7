#include "report.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "report_parts.h"

namespace inferlet_run {

namespace {

size_t NameWidth(const EngineDesc& e) {
  size_t width = 4;
  for (const BindingDesc& b : e.bindings) width = std::max(width, b.base_name.size());
  return width;
}

size_t NameWidth(const RunReport& r) { return NameWidth(r.engine); }

// After a binding's extents: what they depend on beyond the inputs' shapes.
std::string BindingNote(const BindingDesc& b) {
  if (b.data_dependent) return "  data-dependent: known once a call has run";
  if (b.shape_tensor) return "  shape tensor: its values steer shapes";
  return "";
}

// Only where it is so, so that other engines' listings stay as they were.
void AddDependence(nlohmann::json& binding, const BindingDesc& b) {
  if (b.data_dependent) binding["data_dependent"] = true;
  if (b.shape_tensor) binding["shape_tensor"] = true;
}

// The engine's bindings, per profile, with the profile's smallest, optimal and largest dimensions.
void AppendEngine(std::string& out, const EngineDesc& e, const std::string& path) {
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Engine   {} ({})\n", e.name.empty() ? "(unnamed)" : e.name, path);
  fmt::format_to(it, "         TensorRT {}, max_batch_size {}, refittable {}, {} bindings, {} profile(s)\n",
                 e.trt_major, e.max_batch_size, e.refittable ? 1 : 0, e.bindings.size(), e.profiles.size());
  const size_t w = NameWidth(e), type_w = TypeWidth(e);
  size_t dims_w = 6;
  for (size_t p = 0; p < e.profiles.size(); ++p)
    for (const auto* points : {&e.profiles[p].min_dims, &e.profiles[p].opt_dims, &e.profiles[p].max_dims})
      for (const std::vector<int>& d : *points) dims_w = std::max(dims_w, FormatDims(d).size());
  for (const BindingDesc& b : e.bindings) dims_w = std::max(dims_w, FormatDims(b.dims).size());
  for (size_t p = 0; p < e.profiles.size(); ++p) {
    for (const auto* list : {&e.profiles[p].inputs, &e.profiles[p].outputs}) {
      for (int b : *list) {
        const BindingDesc& d = e.bindings[b];
        const int profile = static_cast<int>(p);
        fmt::format_to(
            it, "  {:<10} {:>2}  {:<{}}  {:<6}  {:<{}}  engine {:<{}}  min {:<{}}  opt {:<{}}  max {}\n",
            fmt::format("profile {}", p), b, d.base_name, w, d.is_input ? "input" : "output",
            d.type.ReportName(), type_w, FormatDims(d.dims), dims_w, FormatDims(e.MinDims(profile, b)),
            dims_w, FormatDims(e.OptDims(profile, b)), dims_w, FormatDims(e.MaxDims(profile, b)));
        out.pop_back();  // the newline: what the binding's extents depend on, where they do
        out += BindingNote(d) + "\n";
      }
    }
  }
}

nlohmann::json EngineJson(const EngineDesc& e, const std::string& path) {
  nlohmann::json bindings = nlohmann::json::array();
  for (const BindingDesc& b : e.bindings) {
    bindings.push_back({{"index", b.index},
                        {"name", b.name},
                        {"input", b.is_input},
                        {"dtype", b.type.ReportName()},
                        {"dims", b.dims}});
    AddDependence(bindings.back(), b);
  }
  nlohmann::json profiles = nlohmann::json::array();
  for (size_t p = 0; p < e.profiles.size(); ++p) {
    const int profile = static_cast<int>(p);
    nlohmann::json block = nlohmann::json::array();
    for (const auto* list : {&e.profiles[p].inputs, &e.profiles[p].outputs})
      for (int b : *list) {
        block.push_back({{"binding", b},
                         {"name", e.bindings[b].base_name},
                         {"input", e.bindings[b].is_input},
                         {"min", e.MinDims(profile, b)},
                         {"opt", e.OptDims(profile, b)},
                         {"max", e.MaxDims(profile, b)}});
        AddDependence(block.back(), e.bindings[b]);
      }
    profiles.push_back({{"profile", profile}, {"bindings", block}});
  }
  return {{"file", path},
          {"name", e.name},
          {"trt_major", e.trt_major},
          {"max_batch_size", e.max_batch_size},
          {"refittable", e.refittable},
          {"bindings", bindings},
          {"profiles", profiles}};
}

// The Run line's profile and batch: the handle's, the one session's, or each session's.
std::string RunTarget(const RunReport& r) {
  const std::string batch = r.rows.empty() ? std::to_string(r.batch) : "per row";
  if (r.sessions.size() <= 1) return fmt::format("profile {}, batch {}", r.profile, batch);
  std::string profiles, batches;
  for (const SessionReport& s : r.sessions) {
    profiles += fmt::format("{}{}", profiles.empty() ? "" : ", ", s.profile);
    batches += fmt::format("{}{}", batches.empty() ? "" : ", ", s.batch);
  }
  return fmt::format("{} sessions on profiles {} with batches {}", r.sessions.size(), profiles, batches);
}

void AppendConfiguration(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  const bool sessions = r.api == Api::kSessions;
  fmt::format_to(it, "Library  {} (TensorRT {}{})\n", r.library_path, r.trt_major,
                 sessions ? ", sessions interface" : "");
  fmt::format_to(it, "Config   per profile, {}:\n",
                 sessions ? "the largest shapes of the calls' tensors and their item sizes"
                          : "the shapes and item sizes given to kestrel_trt_new");
  const size_t w = NameWidth(r);
  for (size_t p = 0; p < r.config.profiles.size(); ++p) {
    for (const auto* list : {&r.config.profiles[p].inputs, &r.config.profiles[p].outputs})
      for (const TensorConfig& t : *list)
        fmt::format_to(it, "  {:<10} {:<{}}  {:<6}  {:<16} item size {}{}\n", fmt::format("profile {}", p),
                       t.name, w, t.is_input ? "input" : "output", FormatDims(t.shape), t.item_size,
                       t.data_dependent ? ", data-dependent" : "");
  }
  const ProfileConfig& profile = r.config.profiles[r.profile];
  fmt::format_to(it, "Run      {}, device {}, CUDA graph {}, inputs:", RunTarget(r), r.device,
                 r.cuda_graph ? "on" : "off");
  for (size_t i = 0; i < profile.inputs.size(); ++i)
    fmt::format_to(it, "{} {} = {}", i ? "," : "", profile.inputs[i].name, r.input_sources[i]);
  fmt::format_to(it, "\n");
}

long long TotalDeviceBytes(const RunReport& r) {
  const EngineDesc& e = r.engine;
  const long long buffers = r.config.BufferBytes();
  if (buffers < 0 || e.engine_device_bytes < 0 || e.context_device_bytes < 0) return -1;
  return buffers + e.engine_device_bytes + e.context_device_bytes;
}

// What one handle holds on the device: the library's buffers, the engine (each handle deserializes its
// own) and the execution context's activation memory.
void AppendDeviceMemory(std::string& out, const RunReport& r) {
  fmt::format_to(
      std::back_inserter(out),
      "Memory   device memory of the handle: buffers {}, engine {}, execution context {}; {} in all\n",
      Bytes(r.config.BufferBytes()), Bytes(r.engine.engine_device_bytes),
      Bytes(r.engine.context_device_bytes), Bytes(TotalDeviceBytes(r)));
}

void AppendOutputs(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Outputs  of the last call{}\n", r.sessions.size() > 1 ? " of session 0" : "");
  const size_t w = NameWidth(r);
  for (const OutputResult& o : r.outputs) {
    AppendOutput(out, o, w, TypeWidth(r.engine));
    if (!o.saved_to.empty()) fmt::format_to(it, "  {:<{}}  saved to {}\n", "", w, o.saved_to);
  }
}

std::string Seconds(double s) { return s >= 1 ? fmt::format("{:.3f}", s) : fmt::format("{:.6f}", s); }

void AppendLatency(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  const LatencySummary& s = r.latency;
  fmt::format_to(it, "Latency  {} timed calls after {} warm-up calls, microseconds per call\n", s.calls,
                 r.warmup_calls);
  fmt::format_to(it, "  {:>10} {:>10} {:>10} {:>10} {:>10} {:>10}", "min", "mean", "median", "p90", "p99",
                 "max");
  for (const auto& e : s.extra) fmt::format_to(it, " {:>10}", PercentileName(e.first));
  fmt::format_to(it, "\n  {:>10.3f} {:>10.3f} {:>10.3f} {:>10.3f} {:>10.3f} {:>10.3f}", s.min_us, s.mean_us,
                 s.median_us, s.p90_us, s.p99_us, s.max_us);
  for (const auto& e : s.extra) fmt::format_to(it, " {:>10.3f}", e.second);
  fmt::format_to(it, "\n");
  fmt::format_to(it, "Rate     {:.1f} calls/s, {:.1f} samples/s\n", s.calls_per_s, s.samples_per_s);
  fmt::format_to(it, "Timed    {} calls in {} s (asked: at least {} calls and {:g} s{})\n", s.calls,
                 Seconds(s.wall_s), r.min_iterations, r.min_duration_s,
                 r.sessions.size() > 1 ? " per session" : "");
  if (!r.times_file.empty()) fmt::format_to(it, "         times of each call in {}\n", r.times_file);
}

nlohmann::json TensorJson(const TensorConfig& t) {
  nlohmann::json tensor = {{"name", t.name},
                           {"binding", t.binding},
                           {"shape", t.shape},
                           {"item_size", t.item_size},
                           {"dtype", t.dtype.ReportName()}};
  if (t.data_dependent) tensor["data_dependent"] = true;
  return tensor;
}

}  // namespace

std::string Bytes(long long bytes) { return bytes < 0 ? "unknown" : fmt::format("{} bytes", bytes); }

size_t TypeWidth(const EngineDesc& e) {
  size_t width = 7;
  for (const BindingDesc& b : e.bindings) width = std::max(width, b.type.ReportName().size());
  return width;
}

void AppendOutput(std::string& out, const OutputResult& o, size_t name_width, size_t type_width) {
  fmt::format_to(std::back_inserter(out), "  {:<{}}  {:<14} {:<{}} {:>9} bytes  sum {:<16.9g} fnv1a {}\n",
                 o.name, name_width, FormatDims(o.shape), o.typed ? o.dtype.ReportName() : "bytes",
                 type_width, o.bytes, o.checksum.sum, HexFnv(o.checksum.fnv1a));
  if (o.data_dependent) {
    out.pop_back();
    fmt::format_to(std::back_inserter(out), "  data-dependent, buffer {}\n", Bytes(o.bound_bytes));
  }
}

nlohmann::json OutputJson(const OutputResult& o) {
  nlohmann::json out = {
      {"name", o.name},   {"shape", o.shape},      {"dtype", o.typed ? o.dtype.ReportName() : "bytes"},
      {"bytes", o.bytes}, {"sum", o.checksum.sum}, {"fnv1a", HexFnv(o.checksum.fnv1a)}};
  if (o.data_dependent) {
    out["data_dependent"] = true;
    out["bound_bytes"] = o.bound_bytes;
  }
  if (!o.saved_to.empty()) out["file"] = o.saved_to;
  return out;
}

nlohmann::json LatencyJson(const LatencySummary& s) {
  nlohmann::json latency = {{"calls", s.calls},         {"min_us", s.min_us}, {"mean_us", s.mean_us},
                            {"median_us", s.median_us}, {"p90_us", s.p90_us}, {"p99_us", s.p99_us},
                            {"max_us", s.max_us}};
  for (const auto& e : s.extra) latency[PercentileName(e.first) + "_us"] = e.second;
  return latency;
}

nlohmann::json ThroughputJson(const LatencySummary& s) {
  return {{"calls_per_s", s.calls_per_s}, {"samples_per_s", s.samples_per_s}, {"timed_s", s.wall_s}};
}

std::string HexFnv(uint64_t fnv1a) { return fmt::format("0x{:016x}", fnv1a); }

std::string FormatReport(const RunReport& r) {
  std::string out = "\n== inferlet-run ==\n";
  AppendEngine(out, r.engine, r.engine_path);
  AppendConfiguration(out, r);
  if (r.api == Api::kSessions)
    AppendSessionsMemory(out, r);
  else
    AppendDeviceMemory(out, r);
  if (!r.rows.empty()) {
    AppendRows(out, r, NameWidth(r));
    return out;
  }
  AppendOutputs(out, r);
  AppendCompare(out, r);
  AppendLatency(out, r);
  if (r.api == Api::kSessions) {
    AppendPhases(out, r.phases);
    AppendSessions(out, r);
  }
  return out;
}

nlohmann::json ReportJson(const RunReport& r) {
  nlohmann::json j;
  j["engine"] = EngineJson(r.engine, r.engine_path);
  j["library"] = {{"path", r.library_path}, {"trt_major", r.trt_major}};
  nlohmann::json config = nlohmann::json::array();
  for (const ProfileConfig& p : r.config.profiles) {
    nlohmann::json inputs = nlohmann::json::array(), outputs = nlohmann::json::array();
    for (const TensorConfig& t : p.inputs) inputs.push_back(TensorJson(t));
    for (const TensorConfig& t : p.outputs) outputs.push_back(TensorJson(t));
    config.push_back({{"inputs", inputs}, {"outputs", outputs}});
  }
  j["configuration"] = config;
  j["run"] = {{"profile", r.profile},
              {"batch", r.batch},
              {"device", r.device},
              {"cuda_graph", r.cuda_graph},
              {"inputs", r.input_sources},
              {"warmup_calls", r.warmup_calls},
              {"min_iterations", r.min_iterations},
              {"min_duration_s", r.min_duration_s}};
  if (r.api == Api::kSessions) {
    AddSessionsJson(j, r);
  } else {
    j["device_memory"] = {{"buffers", r.config.BufferBytes()},
                          {"engine", r.engine.engine_device_bytes},
                          {"context", r.engine.context_device_bytes},
                          {"total", TotalDeviceBytes(r)}};
  }
  if (!r.rows.empty()) {
    j["rows"] = RowsJson(r);
    return j;
  }
  nlohmann::json outputs = nlohmann::json::array();
  for (const OutputResult& o : r.outputs) outputs.push_back(OutputJson(o));
  j["outputs"] = outputs;
  if (!r.compare.dir.empty()) j["compare"] = CompareJson(r.compare);
  j["latency"] = LatencyJson(r.latency);
  j["throughput"] = ThroughputJson(r.latency);
  if (!r.times_file.empty()) j["times_file"] = r.times_file;
  return j;
}

std::string FormatInspect(const InspectReport& r) {
  std::string out;
  AppendEngine(out, r.engine, r.engine_path);
  fmt::format_to(std::back_inserter(out), "Read by  {}\n", r.reader_path);
  return out;
}

nlohmann::json InspectJson(const InspectReport& r) {
  return {{"engine", EngineJson(r.engine, r.engine_path)}, {"library", r.reader_path}};
}

nlohmann::json ErrorJson(const ToolError& error) {
  nlohmann::json j = {{"error", error.message},
                      {"exit_status", static_cast<int>(error.code)},
                      {"kind", ExitKind(error.code)}};
  if (!error.library_log.empty()) j["library_log"] = error.library_log;
  return j;
}

}  // namespace inferlet_run
