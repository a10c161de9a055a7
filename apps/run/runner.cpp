#include "runner.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "deliverable.h"
#include "exit_codes.h"
#include "library_choice.h"
#include "npy.h"
#include "terminal.h"

namespace inferlet_run {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string ReadEngineFile(const std::string& path) {
  auto fail = [&](const std::string& why) {
    return ToolError{kExitInput, fmt::format("cannot read engine file '{}': {}", path, why)};
  };
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw fail("it is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw fail(std::strerror(errno));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw fail(std::strerror(errno));
  if (bytes.empty()) throw fail("the file is empty");
  return bytes;
}

// --save-outputs DIR is made (with its parents) and must take files before anything runs (and the
// --export-times file is opened then too): a run is not spent only to fail at the end.
void PrepareOutputDir(const std::string& dir) {
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) && !std::filesystem::is_directory(dir, ec))
    throw ToolError{kExitOutput, fmt::format("--save-outputs {}: not a directory", dir)};
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir))
    throw ToolError{kExitOutput, fmt::format("--save-outputs {}: cannot create the directory: {}", dir,
                                             ec ? ec.message() : "it is not a directory")};
  if (access(dir.c_str(), W_OK | X_OK) != 0)
    throw ToolError{kExitOutput,
                    fmt::format("--save-outputs {}: cannot write into it: {}", dir, std::strerror(errno))};
}

// The handle of one kestrel_trt_new, deleted through the same library.
// kestrel_trt_init now, kestrel_trt_uninit when the run is over.
class LibrarySession {
 public:
  explicit LibrarySession(const Deliverable& lib) : lib_(lib) { lib_.init(); }
  ~LibrarySession() { lib_.uninit(); }
  LibrarySession(const LibrarySession&) = delete;
  LibrarySession& operator=(const LibrarySession&) = delete;

 private:
  const Deliverable& lib_;
};

class Handle {
 public:
  explicit Handle(const Deliverable& lib) : lib_(lib) {}
  ~Handle() {
    if (handle_) lib_.destroy(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  trt_engine_core** out() { return &handle_; }
  trt_engine_core* get() const { return handle_; }

 private:
  const Deliverable& lib_;
  trt_engine_core* handle_ = nullptr;
};

struct InputPlan {
  std::vector<std::string> data;  // per input of the profile, batch samples
  std::vector<std::string> sources;
  int batch = 0;
};

// Per input: a .npy file named with --input, or made-up data. The batch is --batch, else the samples
// the files hold, else the largest batch the profile is configured for.
InputPlan PlanInputs(const Options& o, const ProfileConfig& profile) {
  std::map<std::string, NpyArray> files;
  std::map<std::string, std::string> paths;
  for (const std::string& entry : o.inputs) {
    const TensorOverride target = ParseOverride(entry, "--input");
    if (target.profile >= 0)
      throw ToolError{kExitUsage, fmt::format("--input {}: give NAME=FILE.npy", entry)};
    bool known = false;
    for (const TensorConfig& t : profile.inputs) known = known || t.name == target.name;
    if (!known)
      throw ToolError{kExitUsage,
                      fmt::format("--input: profile {} has no input named '{}'", o.profile, target.name)};
    files[target.name] = ReadNpy(target.value);
    paths[target.name] = target.value;
  }

  InputPlan plan;
  plan.batch = o.batch;
  for (const TensorConfig& t : profile.inputs) {
    auto file = files.find(t.name);
    if (file == files.end()) continue;
    const NpyArray& a = file->second;
    const std::string& path = paths[t.name];
    const long long sample = t.SampleBytes();
    if (sample <= 0)
      throw ToolError{kExitUsage,
                      fmt::format("input '{}' is configured as {} with item size {}: no sample size", t.name,
                                  FormatDims(t.shape), t.item_size)};
    int samples = 0;
    if (t.ItemMatchesDType()) {
      if (a.kind != NpyKindOf(t.dtype))
        throw ToolError{kExitInput, fmt::format("{}: holds {} but input '{}' is {}", path, NpyDescr(a.kind),
                                                t.name, NpyDescr(NpyKindOf(t.dtype)))};
      std::vector<size_t> expected(t.shape.begin() + 1, t.shape.end());
      if (a.shape.size() != t.shape.size() ||
          !std::equal(expected.begin(), expected.end(), a.shape.begin() + 1))
        throw ToolError{kExitInput, fmt::format("{}: shape ({}) does not fit input '{}' configured as {}",
                                                path, fmt::join(a.shape, ","), t.name, FormatDims(t.shape))};
      samples = static_cast<int>(a.shape[0]);
    } else {
      if (a.data.size() % static_cast<size_t>(sample) != 0)
        throw ToolError{kExitInput,
                        fmt::format("{}: {} bytes is not a whole number of {}-byte samples of '{}'", path,
                                    a.data.size(), sample, t.name)};
      samples = static_cast<int>(a.data.size() / static_cast<size_t>(sample));
    }
    if (plan.batch == 0) plan.batch = samples;
    if (samples != plan.batch)
      throw ToolError{kExitInput,
                      fmt::format("{}: holds {} samples, but the batch is {}", path, samples, plan.batch)};
  }
  if (plan.batch == 0)
    plan.batch = profile.inputs.empty() || profile.inputs[0].shape.empty() ? 1 : profile.inputs[0].shape[0];
  if (plan.batch <= 0)
    throw ToolError{kExitUsage, fmt::format("the configured batch of profile {} is {}; give --batch",
                                            o.profile, plan.batch)};

  for (const TensorConfig& t : profile.inputs) {
    auto file = files.find(t.name);
    if (file != files.end()) {
      plan.data.push_back(std::move(file->second.data));
      plan.sources.push_back(paths[t.name]);
      continue;
    }
    const long long sample = t.SampleBytes();
    const size_t bytes = sample > 0 ? static_cast<size_t>(sample) * static_cast<size_t>(plan.batch) : 0;
    plan.data.push_back(MakeInputData(t.dtype, t.ItemMatchesDType(), bytes, o.fill, o.seed, t.name));
    plan.sources.push_back(o.fill == FillMode::kZeros ? "zeros" : fmt::format("random (seed {})", o.seed));
  }
  return plan;
}

OutputResult CollectOutput(const TensorConfig& t, const void* data, int bytes, int batch) {
  OutputResult r;
  r.name = t.name;
  r.dtype = t.dtype;
  r.typed = t.ItemMatchesDType();
  r.bytes = bytes;
  r.shape = t.shape;
  if (!r.shape.empty()) r.shape[0] = batch;
  r.checksum = ComputeChecksum(data, bytes > 0 ? static_cast<size_t>(bytes) : 0, t.dtype, r.typed);
  return r;
}

void SaveOutput(const std::string& dir, OutputResult& r, const void* data, const TensorConfig& t) {
  NpyArray a;
  const long long sample = t.SampleBytes();
  const bool whole = sample > 0 && r.bytes == sample * r.shape[0];
  a.kind = r.typed && whole ? NpyKindOf(r.dtype) : NpyKind::kUint8;
  if (a.kind == NpyKind::kUint8 && whole) {
    a.shape = {static_cast<size_t>(r.shape[0]), static_cast<size_t>(sample)};
  } else if (a.kind == NpyKind::kUint8) {
    a.shape = {static_cast<size_t>(r.bytes)};
  } else {
    a.shape.assign(r.shape.begin(), r.shape.end());
  }
  a.data.assign(static_cast<const char*>(data), static_cast<size_t>(r.bytes));
  std::string file = r.name;
  for (char& c : file)
    if (c == '/' || c == '\0') c = '_';
  r.saved_to = dir + "/" + file + ".npy";
  WriteNpy(r.saved_to, a);
}

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

void WriteTimes(std::ofstream& out, const std::string& path, const std::vector<double>& starts_us,
                const std::vector<double>& latencies_us) {
  out << "[\n";
  for (size_t i = 0; i < latencies_us.size(); ++i)
    out << nlohmann::ordered_json{{"call", i + 1},
                                  {"start_us", starts_us[i]},
                                  {"latency_us", latencies_us[i]}}
               .dump()
        << (i + 1 < latencies_us.size() ? ",\n" : "\n");
  out << "]\n";
  out.flush();
  if (!out) throw ToolError{kExitOutput, fmt::format("--export-times {}: cannot write the file", path)};
}

RunReport RunSteps(const Options& o) {
  RunReport report;
  report.engine_path = o.engine;
  const std::string engine_bytes = ReadEngineFile(o.engine);

  if (!o.save_outputs.empty()) PrepareOutputDir(o.save_outputs);
  std::ofstream times;
  if (!o.export_times.empty()) {
    times.open(o.export_times, std::ios::trunc);
    if (!times)
      throw ToolError{kExitOutput, fmt::format("--export-times {}: cannot write: {}", o.export_times,
                                               std::strerror(errno))};
    report.times_file = o.export_times;
  }

  LibraryChoice libraries =
      ChooseLibraries(LibraryRequest{o.trt, o.lib, o.inspector}, o.engine, engine_bytes);
  report.trt_major = libraries.trt_major;
  report.library_path = libraries.deliverable->path();
  report.engine = std::move(libraries.engine);
  const Deliverable& lib = *libraries.deliverable;

  std::vector<TensorOverride> shapes, item_sizes;
  for (const std::string& s : o.shapes) shapes.push_back(ParseOverride(s, "--shape"));
  for (const std::string& s : o.item_sizes) item_sizes.push_back(ParseOverride(s, "--item-size"));
  report.config = DeriveConfig(report.engine, shapes, item_sizes);
  if (o.profile >= static_cast<int>(report.config.profiles.size()))
    throw ToolError{kExitUsage, fmt::format("--profile {}: the engine has {} optimization profile(s)",
                                            o.profile, report.config.profiles.size())};
  report.profile = o.profile;
  report.device = o.device;
  report.cuda_graph = o.cuda_graph;
  const ProfileConfig& profile = report.config.profiles[o.profile];
  InputPlan inputs = PlanInputs(o, profile);
  report.batch = inputs.batch;
  report.input_sources = inputs.sources;

  auto in_shapes = report.config.InShapes();
  auto in_items = report.config.InItemSizes();
  auto out_shapes = report.config.OutShapes();
  auto out_items = report.config.OutItemSizes();

  LibrarySession session(lib);
  Handle handle(lib);
  if (lib.create(engine_bytes.data(), static_cast<int>(engine_bytes.size()), o.device, o.cuda_graph,
                 in_shapes, in_items, out_shapes, out_items, handle.out()) != 0)
    throw ToolError{kExitRejected,
                    "the library refused the engine or its configuration: kestrel_trt_new "
                    "returned -1 (its log line above gives the reason)"};
  for (size_t i = 0; i < profile.inputs.size(); ++i)
    if (profile.inputs[i].SampleBytes() <= 0)
      throw ToolError{kExitUsage,
                      fmt::format("input '{}' is configured as {} with item size {}: no sample size",
                                  profile.inputs[i].name, FormatDims(profile.inputs[i].shape),
                                  profile.inputs[i].item_size)};

  std::vector<const void*> input_ptrs;
  for (const std::string& d : inputs.data) input_ptrs.push_back(d.data());
  std::vector<void*> outputs(profile.outputs.size() + 1, nullptr);
  std::vector<int> output_lens(profile.outputs.size() + 1, 0);
  auto call = [&](const char* phase, size_t n) {
    if (lib.process(handle.get(), o.profile, input_ptrs.data(), static_cast<int>(input_ptrs.size()),
                    report.batch, outputs.data(), output_lens.data()) != 0)
      throw ToolError{
          kExitRejected,
          fmt::format("the library refused {} call {} (profile {}, batch {}): kestrel_trt_process "
                      "returned -1 (its log line above gives the reason)",
                      phase, n, o.profile, report.batch)};
  };

  for (int i = 0; i < o.warmup; ++i) call("warm-up", static_cast<size_t>(i) + 1);
  report.warmup_calls = o.warmup;
  report.min_iterations = o.iterations;
  report.min_duration_s = o.duration_s;

  std::vector<double> latencies_us, starts_us;
  latencies_us.reserve(static_cast<size_t>(o.iterations));
  if (times.is_open()) starts_us.reserve(static_cast<size_t>(o.iterations));
  ProgressLine progress;
  const Clock::time_point start = Clock::now();
  Clock::time_point end = start;
  while (latencies_us.size() < static_cast<size_t>(o.iterations) || Seconds(end - start) < o.duration_s) {
    const Clock::time_point t0 = Clock::now();
    call("timed", latencies_us.size() + 1);
    end = Clock::now();
    latencies_us.push_back(Micros(end - t0));
    if (times.is_open()) starts_us.push_back(Micros(t0 - start));
    progress.Update(latencies_us.size(), static_cast<size_t>(o.iterations), Seconds(end - start),
                    o.duration_s);
  }
  progress.Finish();
  if (times.is_open()) WriteTimes(times, o.export_times, starts_us, latencies_us);
  report.latency = Summarize(std::move(latencies_us), Seconds(end - start), report.batch, o.percentiles);

  for (size_t j = 0; j < profile.outputs.size(); ++j) {
    report.outputs.push_back(CollectOutput(profile.outputs[j], outputs[j], output_lens[j], report.batch));
    if (!o.save_outputs.empty())
      SaveOutput(o.save_outputs, report.outputs.back(), outputs[j], profile.outputs[j]);
  }
  return report;
}

}  // namespace

RunReport Run(const Options& o) {
  using Mode = LibraryOutput::Mode;
  // Everything the libraries print while they are loaded and used -- construction, the engine's
  // description, deletion -- is caught, libraries being unloaded before this object goes.
  LibraryOutput library_output(o.quiet ? Mode::kHold : o.json ? Mode::kStderr : Mode::kStdout);
  try {
    return RunSteps(o);
  } catch (ToolError& e) {
    library_output.Restore();
    e.library_log = library_output.Held();
    throw;
  }
}

InspectReport Inspect(const InspectOptions& o) {
  InspectReport report;
  report.engine_path = o.engine;
  const std::string engine_bytes = ReadEngineFile(o.engine);
  LibraryChoice reading = ChooseInspector(LibraryRequest{o.trt, "", o.inspector}, o.engine, engine_bytes);
  report.engine = std::move(reading.engine);
  report.inspector_path = reading.inspector_path;
  return report;
}

}  // namespace inferlet_run
