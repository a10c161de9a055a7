#include "tool_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "exit_codes.h"
#include "library_choice.h"

extern char** environ;

namespace inferlet_run_test {

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

const inferlet_run::DataTypes& TestDataTypes() {
  static const inferlet_run::DataTypes types =
      inferlet_run::DataTypes::Describe(inferlet_run::OpenSessionsLibrary(
          std::string(INFERLET_LIB_DIR) + "/libinferlet_sessions" + std::to_string(kBuiltMajors[0]) + ".so"));
  return types;
}

const inferlet_run::DataType& TestType(int value) { return TestDataTypes().Of(value); }

const inferlet_run::DataType& TestTypeWithDescr(const std::string& descr) {
  for (const inferlet_run::DataType& t : TestDataTypes().all())
    if (t.npy_descr == descr) return t;
  throw std::runtime_error("no data type of descr " + descr);
}

TempDir::TempDir() {
  std::string pattern = ::testing::TempDir() + "inferlet-run-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ToolResult RunTool(const std::vector<std::string>& args) {
  const bool inspect = !args.empty() && args[0] == "inspect";
  bool duration = false;
  for (const std::string& a : args)
    duration = duration || a == "--duration" || a.rfind("--duration=", 0) == 0;
  if (inspect || duration) return RunToolAsGiven(args);
  std::vector<std::string> with_duration = {"--duration", "0"};
  with_duration.insert(with_duration.end(), args.begin(), args.end());
  return RunToolAsGiven(with_duration);
}

ToolResult RunToolAsGiven(const std::vector<std::string>& args) {
  TempDir dir;
  const std::string out_path = dir.File("stdout"), err_path = dir.File("stderr");
  std::vector<std::string> argv_strings{INFERLET_RUN_EXE};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, INFERLET_RUN_EXE, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ToolResult result;
  if (rc != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = Slurp(out_path);
  result.err = Slurp(err_path);
  return result;
}

std::string Describe(const ToolResult& r) {
  return "exit " + std::to_string(r.exit_code) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

nlohmann::json RunJson(std::vector<std::string> args, int code) {
  args.push_back("--json");
  const ToolResult r = RunTool(args);
  EXPECT_EQ(r.exit_code, code) << Describe(r);
  try {
    return nlohmann::json::parse(r.out);
  } catch (const nlohmann::json::exception& e) {
    ADD_FAILURE() << "stdout is not one JSON object: " << e.what() << "\n" << Describe(r);
    return {};
  }
}

void ExpectFailure(const std::vector<std::string>& args, int code, const std::string& message,
                   const std::string& out_part) {
  const ToolResult r = RunTool(args);
  EXPECT_EQ(r.exit_code, code) << Describe(r);
  const std::string line = "inferlet-run: error: " + message + "\n";
  EXPECT_TRUE(r.err.size() >= line.size() &&
              r.err.compare(r.err.size() - line.size(), line.size(), line) == 0)
      << "expected the last line of stderr to be\n"
      << line << Describe(r);
  if (!out_part.empty()) {
    EXPECT_NE(r.out.find(out_part), std::string::npos) << Describe(r);
  }
  EXPECT_EQ(r.out.find("== inferlet-run =="), std::string::npos) << "no report after a failure";

  std::vector<std::string> json_args = args;  // --json first: a flag missing its value stays last
  json_args.insert(json_args.begin() + (!args.empty() && args[0] == "inspect" ? 1 : 0), "--json");
  const ToolResult j = RunTool(json_args);
  EXPECT_EQ(j.exit_code, code) << Describe(j);
  nlohmann::json object;
  try {
    object = nlohmann::json::parse(j.out);
  } catch (const nlohmann::json::exception& e) {
    ADD_FAILURE() << "with --json, stdout is not one JSON object: " << e.what() << "\n" << Describe(j);
    return;
  }
  EXPECT_EQ(object.size(), 3u) << object.dump(2);
  EXPECT_EQ(object["error"], message);
  EXPECT_EQ(object["exit_status"], code);
  EXPECT_EQ(object["kind"], inferlet_run::ExitKind(code));
}

std::string EnginePath(const std::string& name, int trt_major) {
  return std::string(INFERLET_ENGINE_DIR) + "/" + name + "-trt" + std::to_string(trt_major) + ".engine";
}

std::string LibraryPath(int trt_major) {
  return std::string(INFERLET_LIB_DIR) + "/libinferlet" + std::to_string(trt_major) + ".so";
}

std::string SessionsPath(int trt_major) {
  return std::string(INFERLET_LIB_DIR) + "/libinferlet_sessions" + std::to_string(trt_major) + ".so";
}

}  // namespace inferlet_run_test
