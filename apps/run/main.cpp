// inferlet-run: runs and times a TensorRT engine through an inferlet deliverable (kestrel_trt_*) or,
// with --api sessions, through the sessions library.
//   inferlet-run ENGINE [options]              run and time it (or --engine ENGINE)
//   inferlet-run inspect ENGINE [options]      list its bindings and profiles
//   inferlet-run --version
#include <fmt/format.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "exit_codes.h"
#include "options.h"
#include "report.h"
#include "runner.h"

namespace inferlet_run {
namespace {

std::string Dump(const nlohmann::json& j) {
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// One line on stderr, after the library's lines that --quiet held back; with --json also one JSON
// object on stdout, so that a script reading stdout always gets one.
int Fail(const ToolError& e, bool json) {
  std::cout.flush();
  std::fflush(stdout);
  if (!e.library_log.empty()) fmt::print(stderr, "{}", e.library_log);
  fmt::print(stderr, "inferlet-run: error: {}\n", e.message);
  if (json) fmt::print("{}\n", Dump(ErrorJson(e)));
  return e.code;
}

int RunCommand(int argc, char** argv) {
  Options options;
  const int parsed = ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;
  const RunReport report = Run(options);
  std::cout.flush();
  std::fflush(stdout);
  if (options.json)
    fmt::print("{}\n", Dump(ReportJson(report)));
  else
    fmt::print("{}", FormatReport(report));
  // Out of tolerance: the report, verdicts included, is printed in full first.
  if (!report.compare.dir.empty() && !report.compare.passed()) {
    std::fflush(stdout);
    fmt::print(stderr, "inferlet-run: error: {}\n", report.compare.FailureMessage());
    return kExitMismatch;
  }
  return kExitOk;
}

int InspectCommand(int argc, char** argv) {
  InspectOptions options;
  const int parsed = ParseInspectCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;
  const InspectReport report = Inspect(options);
  if (options.json)
    fmt::print("{}\n", Dump(InspectJson(report)));
  else
    fmt::print("{}", FormatInspect(report));
  return kExitOk;
}

}  // namespace
}  // namespace inferlet_run

int main(int argc, char** argv) {
  using inferlet_run::Fail;
  using inferlet_run::ToolError;
  const bool json = inferlet_run::WantsJson(argc, argv);
  try {
    if (argc > 1 && std::strcmp(argv[1], "inspect") == 0)
      return inferlet_run::InspectCommand(argc - 1, argv + 1);
    return inferlet_run::RunCommand(argc, argv);
  } catch (const ToolError& e) {
    return Fail(e, json);
  } catch (const std::exception& e) {
    return Fail(ToolError{inferlet_run::kExitRejected, e.what()}, json);
  }
}
