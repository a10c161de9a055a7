#include "runner.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "exit_codes.h"
#include "legacy_backend.h"
#include "library_choice.h"
#include "run_files.h"
#include "run_loop.h"
#include "sessions_backend.h"
#include "terminal.h"

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

void RecordAsked(const Options& o, RunReport& report) {
  report.warmup_calls = o.warmup;
  report.min_iterations = o.iterations;
  report.min_duration_s = o.duration_s;
}

// The library's objects are locals here: the handle or the sessions are released, and the library
// uninitialized, before the report or an error is written.
RunReport RunSteps(const Options& o) {
  RunReport report;
  report.engine_path = o.engine;
  const std::string engine_bytes = ReadEngineFile(o.engine);
  std::ofstream times = PrepareRunFiles(o, report);
  LibraryChoice libraries =
      ChooseLibraries(LibraryRequest{o.trt, o.lib, o.api == Api::kSessions, o.allow_host_code, o.plugins},
                      o.engine, engine_bytes);
  TakeLibraries(libraries, report);
  if (o.api == Api::kLegacy) RequireLegacyServable(report.engine);
  DeriveConfiguration(o, report);
  RecordAsked(o, report);
  const std::unique_ptr<Backend> backend =
      libraries.sessions ? MakeSessionsBackend(*libraries.sessions, engine_bytes, o, report.config)
                         : MakeLegacyBackend(*libraries.deliverable, engine_bytes, o, report.config);
  RunCalls(*backend, o, times, report);
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
  LibraryChoice reading =
      ChooseReader(LibraryRequest{o.trt, "", false, o.allow_host_code, o.plugins}, o.engine, engine_bytes);
  report.engine = std::move(reading.engine);
  report.reader_path = reading.reader->path();
  DescribeTypes(report.engine, DescribeDataTypes(reading));
  return report;
}

}  // namespace inferlet_run
