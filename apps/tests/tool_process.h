// Runs inferlet-run as a child process and keeps what it printed.
#ifndef INFERLET_APPS_TESTS_TOOL_PROCESS_H_
#define INFERLET_APPS_TESTS_TOOL_PROCESS_H_

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "data_types.h"

namespace inferlet_run_test {

// The TensorRT majors this build has a deliverable and a sessions library for, in the order inferlet-run
// tries them on an engine of unknown major.
constexpr int kBuiltMajors[] = {INFERLET_RUN_BUILT_MAJORS};

struct ToolResult {
  int exit_code = -1;  // -1 when the child did not exit normally
  std::string out;
  std::string err;
};

// Runs the tool with these arguments and, unless they name --duration or are an `inspect` command,
// --duration 0: the tool times calls for at least 3 s by default, tests only count --iterations.
ToolResult RunTool(const std::vector<std::string>& args);
// Runs the tool with exactly these arguments.
ToolResult RunToolAsGiven(const std::vector<std::string>& args);

// Exit status and both streams, for a failed assertion's message.
std::string Describe(const ToolResult& r);

// Runs the tool with --json added, expects exit status `code` and answers the one JSON object on
// stdout (null, with a failure, when it is not one).
nlohmann::json RunJson(std::vector<std::string> args, int code = 0);

// Expects the tool to fail with `code`: the last line of stderr is exactly "inferlet-run: error:
// MESSAGE", stdout holds `out_part` when given and no report; then the same with --json, whose
// stdout is one object {"error": MESSAGE, "exit_status": CODE, "kind": ...}.
void ExpectFailure(const std::vector<std::string>& args, int code, const std::string& message,
                   const std::string& out_part = "");

std::string EnginePath(const std::string& name, int trt_major);  // a sample engine of the stand-in
std::string LibraryPath(int trt_major);                          // the build's libinferlet<major>.so
std::string SessionsPath(int trt_major);                         // the build's libinferlet_sessions<major>.so

// What a refusal of engine bytes ends with when the libraries of `refusing` majors refused them without
// --allow-host-code: from 10 on an engine may hold host code, and the message names the option.
template <typename Majors>
std::string HostCodeHint(const Majors& refusing) {
  for (int major : refusing) {
    if (major >= 10)
      return "; if it is a version-compatible engine, it holds host code: give --allow-host-code (for a run, "
             "with --api sessions)";
  }
  return "";
}

// The data-type table of the build's sessions library of the first built major, and its type numbered
// `value` (TensorRT's DataType); the one with the .npy descr `descr` (the first of the 8-bit floats).
const inferlet_run::DataTypes& TestDataTypes();
const inferlet_run::DataType& TestType(int value);
const inferlet_run::DataType& TestTypeWithDescr(const std::string& descr);

// A fresh directory under the test's temporary directory, removed with its files on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace inferlet_run_test

#endif  // INFERLET_APPS_TESTS_TOOL_PROCESS_H_
