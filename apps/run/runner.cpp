#include "runner.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "deliverable.h"
#include "exit_codes.h"
#include "input_plan.h"
#include "library_choice.h"
#include "run_files.h"
#include "run_outputs.h"
#include "sessions_runner.h"
#include "shape_sweep.h"
#include "terminal.h"
#include "timed_calls.h"

namespace inferlet_run {

namespace {

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

// The handle of one kestrel_trt_new, deleted through the same library.
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

// kestrel_trt_process on the run's profile and batch with the same inputs every time; the outputs of
// the last call stay readable while the handle lives.
class Calls {
 public:
  Calls(const Deliverable& lib, const Handle& handle, int profile, const InputPlan& inputs, size_t outputs)
      : lib_(lib), handle_(handle), profile_(profile), batch_(inputs.batch) {
    for (const std::string& d : inputs.data) inputs_.push_back(d.data());
    outputs_.assign(outputs + 1, nullptr);
    output_lens_.assign(outputs + 1, 0);
  }

  // Throws ToolError (rejected) naming the phase ("warm-up", "timed") and the call's number in it.
  void Call(const char* phase, size_t n) {
    if (lib_.process(handle_.get(), profile_, inputs_.data(), static_cast<int>(inputs_.size()), batch_,
                     outputs_.data(), output_lens_.data()) != 0)
      throw ToolError{
          kExitRejected,
          fmt::format("the library refused {} call {} (profile {}, batch {}): kestrel_trt_process "
                      "returned -1 (its log line above gives the reason)",
                      phase, n, profile_, batch_)};
  }
  const void* Output(size_t j) const { return outputs_[j]; }
  int OutputBytes(size_t j) const { return output_lens_[j]; }

 private:
  const Deliverable& lib_;
  const Handle& handle_;
  int profile_, batch_;
  std::vector<const void*> inputs_;
  std::vector<void*> outputs_;
  std::vector<int> output_lens_;
};

// Before the libraries are loaded: a directory or file that cannot be written ends the tool first.
std::ofstream PrepareRunFiles(const Options& o, RunReport& report) {
  if (!o.save_outputs.empty()) PrepareOutputDir(o.save_outputs);
  if (o.export_times.empty()) return std::ofstream();
  report.times_file = o.export_times;
  return OpenTimesFile(o.export_times);
}

void TakeLibraries(LibraryChoice& libraries, RunReport& report) {
  report.trt_major = libraries.trt_major;
  report.library_path = libraries.sessions ? libraries.sessions->path() : libraries.deliverable->path();
  report.engine = std::move(libraries.engine);
  DescribeTypes(report.engine, DescribeDataTypes(libraries));
  RequireServableTypes(report.engine);
}

void DeriveConfiguration(const Options& o, RunReport& report) {
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
  report.api = o.api;
}

// kestrel_trt_new with the whole configuration; the library's own refusal of a shape comes first, so
// only then must every made-up input have a sample size (a file's input has one already).
void CreateHandle(const Deliverable& lib, const std::string& engine_bytes, const Options& o,
                  const RunReport& report, const InputPlan& inputs, Handle& handle) {
  auto in_shapes = report.config.InShapes();
  auto in_items = report.config.InItemSizes();
  auto out_shapes = report.config.OutShapes();
  auto out_items = report.config.OutItemSizes();
  if (lib.create(engine_bytes.data(), static_cast<int>(engine_bytes.size()), o.device, o.cuda_graph,
                 in_shapes, in_items, out_shapes, out_items, handle.out()) != 0)
    throw ToolError{kExitRejected,
                    "the library refused the engine or its configuration: kestrel_trt_new "
                    "returned -1 (its log line above gives the reason)"};
  const ProfileConfig& profile = report.config.profiles[report.profile];
  for (size_t i = 0; i < profile.inputs.size(); ++i)
    if (!inputs.from_file[i]) RequireSampleSize(profile.inputs[i]);
}

void RecordAsked(const Options& o, RunReport& report) {
  report.warmup_calls = o.warmup;
  report.min_iterations = o.iterations;
  report.min_duration_s = o.duration_s;
}

CallFn CallsOf(Calls& calls) {
  return [&calls](const char* phase, size_t n) { calls.Call(phase, n); };
}

// Timed calls until both --iterations calls and --duration seconds are done, as trtexec does.
void TimeLegacyCalls(Calls& calls, const Options& o, std::ofstream& times, RunReport& report) {
  ProgressLine progress;
  TimedCalls t = TimeCalls(CallsOf(calls), {o.iterations, o.duration_s}, Clock::now(), &progress);
  if (times.is_open()) WriteTimes(times, o.export_times, t.starts_us, t.latencies_us);
  report.latency = Summarize(std::move(t.latencies_us), t.wall_s, report.batch, o.percentiles);
}

// The last call's outputs: checksums, and the --save-outputs files and --compare verdicts.
void CollectOutputs(const Calls& calls, const Options& o, const std::vector<Reference>& references,
                    RunReport& report) {
  const ProfileConfig& profile = report.config.profiles[report.profile];
  std::vector<const void*> data;
  for (size_t j = 0; j < profile.outputs.size(); ++j) {
    std::vector<int> shape = profile.outputs[j].shape;
    if (!shape.empty()) shape[0] = report.batch;
    report.outputs.push_back(CollectOutput(profile.outputs[j], calls.Output(j), calls.OutputBytes(j), shape));
    data.push_back(calls.Output(j));
  }
  FinishOutputs(o, profile, data, references, report);
}

// --shapes on a handle: each row's batch, its own made-up inputs, its timed calls.
void RunRows(const Deliverable& lib, const Handle& handle, const Options& o,
             const std::vector<ShapeRow>& rows, RunReport& report) {
  const ProfileConfig& profile = report.config.profiles[report.profile];
  for (const ShapeRow& row : rows) {
    ShapeRowReport result;
    result.shapes = row.inputs;
    result.batch = LegacyRowBatch(row, profile);
    const InputPlan inputs = PlanShapedInputs(o, profile, row.inputs);
    Calls calls(lib, handle, report.profile, inputs, profile.outputs.size());
    WarmUpCalls(CallsOf(calls), o.warmup);
    TimedCalls t = TimeCalls(CallsOf(calls), {o.iterations, o.duration_s}, Clock::now(), nullptr);
    result.latency = Summarize(std::move(t.latencies_us), t.wall_s, result.batch, o.percentiles);
    for (size_t j = 0; j < profile.outputs.size(); ++j) {
      std::vector<int> shape = profile.outputs[j].shape;
      if (!shape.empty()) shape[0] = result.batch;
      result.outputs.push_back(
          CollectOutput(profile.outputs[j], calls.Output(j), calls.OutputBytes(j), std::move(shape)));
    }
    report.rows.push_back(std::move(result));
  }
}

// The library's objects are locals here: the handle is deleted, and the library uninitialized, before
// the report or an error is written.
RunReport RunSteps(const Options& o) {
  RunReport report;
  report.engine_path = o.engine;
  const std::string engine_bytes = ReadEngineFile(o.engine);
  std::ofstream times = PrepareRunFiles(o, report);
  LibraryChoice libraries = ChooseLibraries(
      LibraryRequest{o.trt, o.lib, o.inspector, o.api == Api::kSessions}, o.engine, engine_bytes);
  TakeLibraries(libraries, report);
  DeriveConfiguration(o, report);
  RecordAsked(o, report);
  if (libraries.sessions) {
    RunSessions(*libraries.sessions, engine_bytes, o, times, report);
    return report;
  }
  const ProfileConfig& profile = report.config.profiles[report.profile];
  std::vector<ShapeRow> rows;
  if (!o.shape_sweep.empty()) {
    rows = PlanShapeRows(o.shape_sweep, profile, report.profile);
    for (const ShapeRow& row : rows) LegacyRowBatch(row, profile);  // refused before anything runs
  }
  const std::vector<Reference> references = PrepareComparison(o, profile);
  const InputPlan inputs = PlanInputs(o, profile);
  report.batch = inputs.batch;
  report.input_sources = inputs.sources;

  const Deliverable& lib = *libraries.deliverable;
  LibrarySession session(lib);
  Handle handle(lib);
  CreateHandle(lib, engine_bytes, o, report, inputs, handle);
  if (!rows.empty()) {
    RunRows(lib, handle, o, rows, report);
    return report;
  }
  Calls calls(lib, handle, o.profile, inputs, profile.outputs.size());
  WarmUpCalls(CallsOf(calls), o.warmup);
  TimeLegacyCalls(calls, o, times, report);
  CollectOutputs(calls, o, references, report);
  return report;
}

}  // namespace

RunReport Run(const Options& o) {
  using Mode = LibraryOutput::Mode;
  // Everything the libraries print while they are loaded and used -- construction, the engine's
  // description, deletion -- is caught: the handle is deleted before this object goes.
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
  DescribeTypes(report.engine, DescribeDataTypes(reading));
  return report;
}

}  // namespace inferlet_run
