#include "report.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

namespace inferlet_run {

namespace {

size_t NameWidth(const RunReport& r) {
  size_t width = 4;
  for (const BindingDesc& b : r.engine.bindings) width = std::max(width, b.base_name.size());
  return width;
}

void AppendEngine(std::string& out, const RunReport& r) {
  const EngineDesc& e = r.engine;
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Engine   {} ({})\n", e.name.empty() ? "(unnamed)" : e.name, r.engine_path);
  fmt::format_to(it, "         TensorRT {}, max_batch_size {}, refittable {}, {} bindings, {} profile(s)\n",
                 e.trt_major, e.max_batch_size, e.refittable ? 1 : 0, e.bindings.size(), e.profiles.size());
  const size_t w = NameWidth(r);
  for (size_t p = 0; p < e.profiles.size(); ++p) {
    for (const auto* list : {&e.profiles[p].inputs, &e.profiles[p].outputs}) {
      for (int b : *list) {
        const BindingDesc& d = e.bindings[b];
        fmt::format_to(it, "  {:<10} {:>2}  {:<{}}  {:<6}  {:<7}  engine {:<14} max {}\n",
                       fmt::format("profile {}", p), b, d.base_name, w, d.is_input ? "input" : "output",
                       DTypeName(d.dtype), FormatDims(d.dims), FormatDims(e.MaxDims(static_cast<int>(p), b)));
      }
    }
  }
}

void AppendConfiguration(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Library  {} (TensorRT {})\n", r.library_path, r.trt_major);
  fmt::format_to(it, "Config   per profile, the shapes and item sizes given to kestrel_trt_new:\n");
  const size_t w = NameWidth(r);
  for (size_t p = 0; p < r.config.profiles.size(); ++p) {
    for (const auto* list : {&r.config.profiles[p].inputs, &r.config.profiles[p].outputs})
      for (const TensorConfig& t : *list)
        fmt::format_to(it, "  {:<10} {:<{}}  {:<6}  {:<16} item size {}\n", fmt::format("profile {}", p),
                       t.name, w, t.is_input ? "input" : "output", FormatDims(t.shape), t.item_size);
  }
  const ProfileConfig& profile = r.config.profiles[r.profile];
  fmt::format_to(it, "Run      profile {}, batch {}, device {}, CUDA graph {}, inputs:", r.profile, r.batch,
                 r.device, r.cuda_graph ? "on" : "off");
  for (size_t i = 0; i < profile.inputs.size(); ++i)
    fmt::format_to(it, "{} {} = {}", i ? "," : "", profile.inputs[i].name, r.input_sources[i]);
  fmt::format_to(it, "\n");
}

void AppendOutputs(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  fmt::format_to(it, "Outputs  of the last call\n");
  const size_t w = NameWidth(r);
  for (const OutputResult& o : r.outputs) {
    fmt::format_to(it, "  {:<{}}  {:<14} {:<7} {:>9} bytes  sum {:<16.9g} fnv1a {}\n", o.name, w,
                   FormatDims(o.shape), o.typed ? DTypeName(o.dtype) : "bytes", o.bytes, o.checksum.sum,
                   HexFnv(o.checksum.fnv1a));
    if (!o.saved_to.empty()) fmt::format_to(it, "  {:<{}}  saved to {}\n", "", w, o.saved_to);
  }
}

void AppendLatency(std::string& out, const RunReport& r) {
  auto it = std::back_inserter(out);
  const LatencySummary& s = r.latency;
  // Sub-millisecond calls read better in microseconds; the JSON summary always says milliseconds.
  const bool micro = s.mean_ms < 1.0;
  const double k = micro ? 1e3 : 1.0;
  fmt::format_to(it, "Latency  {} timed calls after {} warm-up calls, {} per call\n", s.calls, r.warmup_calls,
                 micro ? "microseconds" : "milliseconds");
  fmt::format_to(it, "  {:>10} {:>10} {:>10} {:>10} {:>10} {:>10}\n", "min", "mean", "median", "p90", "p99",
                 "max");
  fmt::format_to(it, "  {:>10.3f} {:>10.3f} {:>10.3f} {:>10.3f} {:>10.3f} {:>10.3f}\n", s.min_ms * k,
                 s.mean_ms * k, s.median_ms * k, s.p90_ms * k, s.p99_ms * k, s.max_ms * k);
  fmt::format_to(it, "Rate     {:.1f} calls/s, {:.1f} samples/s ({:.3f} s timed)\n", s.calls_per_s,
                 s.samples_per_s, s.wall_s);
}

nlohmann::json TensorJson(const TensorConfig& t) {
  return {{"name", t.name},
          {"binding", t.binding},
          {"shape", t.shape},
          {"item_size", t.item_size},
          {"dtype", DTypeName(t.dtype)}};
}

}  // namespace

std::string HexFnv(uint64_t fnv1a) { return fmt::format("0x{:016x}", fnv1a); }

std::string FormatReport(const RunReport& r) {
  std::string out = "\n== inferlet-run ==\n";
  AppendEngine(out, r);
  AppendConfiguration(out, r);
  AppendOutputs(out, r);
  AppendLatency(out, r);
  return out;
}

nlohmann::json ReportJson(const RunReport& r) {
  nlohmann::json j;
  nlohmann::json bindings = nlohmann::json::array();
  for (const BindingDesc& b : r.engine.bindings)
    bindings.push_back({{"index", b.index},
                        {"name", b.name},
                        {"input", b.is_input},
                        {"dtype", DTypeName(b.dtype)},
                        {"dims", b.dims}});
  nlohmann::json profiles = nlohmann::json::array();
  for (const ProfileDesc& p : r.engine.profiles) profiles.push_back({{"max", p.max_dims}});
  j["engine"] = {{"file", r.engine_path},
                 {"name", r.engine.name},
                 {"trt_major", r.engine.trt_major},
                 {"max_batch_size", r.engine.max_batch_size},
                 {"refittable", r.engine.refittable},
                 {"bindings", bindings},
                 {"profiles", profiles}};
  j["library"] = {{"path", r.library_path}, {"trt_major", r.trt_major}};
  nlohmann::json config = nlohmann::json::array();
  for (const ProfileConfig& p : r.config.profiles) {
    nlohmann::json inputs = nlohmann::json::array(), outputs = nlohmann::json::array();
    for (const TensorConfig& t : p.inputs) inputs.push_back(TensorJson(t));
    for (const TensorConfig& t : p.outputs) outputs.push_back(TensorJson(t));
    config.push_back({{"inputs", inputs}, {"outputs", outputs}});
  }
  j["configuration"] = config;
  j["run"] = {{"profile", r.profile},       {"batch", r.batch},          {"device", r.device},
              {"cuda_graph", r.cuda_graph}, {"inputs", r.input_sources}, {"warmup_calls", r.warmup_calls}};
  nlohmann::json outputs = nlohmann::json::array();
  for (const OutputResult& o : r.outputs) {
    nlohmann::json out = {
        {"name", o.name},   {"shape", o.shape},      {"dtype", o.typed ? DTypeName(o.dtype) : "bytes"},
        {"bytes", o.bytes}, {"sum", o.checksum.sum}, {"fnv1a", HexFnv(o.checksum.fnv1a)}};
    if (!o.saved_to.empty()) out["file"] = o.saved_to;
    outputs.push_back(std::move(out));
  }
  j["outputs"] = outputs;
  const LatencySummary& s = r.latency;
  j["latency_ms"] = {{"calls", s.calls}, {"min", s.min_ms}, {"mean", s.mean_ms}, {"median", s.median_ms},
                     {"p90", s.p90_ms},  {"p99", s.p99_ms}, {"max", s.max_ms}};
  j["throughput"] = {
      {"calls_per_s", s.calls_per_s}, {"samples_per_s", s.samples_per_s}, {"timed_s", s.wall_s}};
  return j;
}

}  // namespace inferlet_run
