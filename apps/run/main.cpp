// inferlet-run: runs and times a TensorRT engine through an inferlet deliverable.
#include <fmt/format.h>

#include <cstdio>
#include <exception>

#include "exit_codes.h"
#include "options.h"
#include "report.h"
#include "runner.h"

int main(int argc, char** argv) {
  using namespace inferlet_run;
  Options options;
  const int parsed = ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;
  try {
    const RunReport report = Run(options);
    std::fflush(stdout);
    if (options.json)
      fmt::print("{}\n", ReportJson(report).dump(2));
    else
      fmt::print("{}", FormatReport(report));
    return kExitOk;
  } catch (const ToolError& e) {
    std::fflush(stdout);
    fmt::print(stderr, "inferlet-run: error: {}\n", e.message);
    return e.code;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    fmt::print(stderr, "inferlet-run: error: {}\n", e.what());
    return kExitRejected;
  }
}
