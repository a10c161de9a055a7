// The deliverable's exported main, run as a host runs it: a separate process loads the shared
// library and calls main, with the fixed engine path served from a private mount.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "test_support.h"

extern char** environ;

namespace inferlet_test {
namespace {

constexpr int kNoNamespace = 77;  // the host's exit status where private mounts are unavailable

struct HostRun {
  int exit_status = -1;
  std::vector<std::string> out;
  std::string err;
};

int TempFile() {
  char path[] = "/tmp/inferlet-smoke-XXXXXX";
  const int fd = mkstemp(path);
  if (fd >= 0) unlink(path);
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  return text;
}

// Runs the host on this major's deliverable; extra_env entries are "NAME=value".
HostRun RunHost(const std::string& model, const std::vector<std::string>& extra_env = {}) {
  HostRun run;
  const int out = TempFile();
  const int err = TempFile();
  if (out < 0 || err < 0) {
    ADD_FAILURE() << "cannot create capture files";
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);

  std::vector<std::string> env_text(extra_env);
  for (char** e = environ; *e != nullptr; ++e) env_text.emplace_back(*e);
  std::vector<char*> env;
  for (std::string& entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);
  std::string host = INFERLET_SMOKE_HOST;
  std::string deliverable = INFERLET_DELIVERABLE;
  std::string model_arg = model;
  char* argv[] = {host.data(), deliverable.data(), model_arg.data(), nullptr};

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, host.c_str(), &actions, nullptr, argv, env.data());
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || waitpid(pid, &status, 0) != pid) {
    ADD_FAILURE() << "cannot run " << host;
  } else if (WIFEXITED(status)) {
    run.exit_status = WEXITSTATUS(status);
  } else {
    ADD_FAILURE() << "host ended by signal " << WTERMSIG(status);
  }
  run.out = SplitLines(ReadAll(out));
  run.err = ReadAll(err);
  close(out);
  close(err);
  return run;
}

// TensorRT reports through the library's logger too, so its lines carry the same prefixes. A line is
// taken for TensorRT's when it is a logger line that the library does not write in this run.
bool IsTensorRtLine(const std::string& line, const std::vector<std::string>& library_lines) {
  if (line.rfind("[inferlet][", 0) != 0) return false;
  for (const std::string& own : library_lines) {
    if (std::regex_match(line, std::regex(own))) return false;
  }
  return true;
}

// The library's lines must come exactly in the expected order; TensorRT's may fall between them.
// Expected lines are regular expressions.
void ExpectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
  size_t next = 0;
  for (const std::string& line : actual) {
    if (next < expected.size() && std::regex_match(line, std::regex(expected[next]))) {
      ++next;
    } else {
      EXPECT_TRUE(IsTensorRtLine(line, expected))
          << "unexpected line \"" << line << "\" where \""
          << (next < expected.size() ? expected[next] : "the end") << "\" was due";
    }
  }
  EXPECT_EQ(next, expected.size()) << "missing from line " << next << ": \""
                                   << (next < expected.size() ? expected[next] : "") << "\"";
}

std::string Escaped(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

std::vector<std::string> Escaped(const std::vector<std::string>& lines) {
  std::vector<std::string> patterns;
  for (const std::string& line : lines) patterns.push_back(Escaped(line));
  return patterns;
}

// Lines of a complete cycle; kestrel_trt_process's line is given.
std::vector<std::string> CycleLines(const std::string& process_line,
                                    const std::vector<std::string>& call_lines) {
  std::vector<std::string> construction = SmokeConstructionLines();
  construction.insert(construction.begin(), {"process...", "[inferlet][E] setDevice 0ok"});
  std::vector<std::string> lines = Escaped(construction);
  for (const std::string& line : call_lines) lines.push_back(Escaped(line));
  lines.push_back(Escaped(process_line));
  lines.push_back("kestrel_trt_delete [1-9][0-9]*");
  for (const char* line : {"[inferlet][I] closedestory...", "[inferlet][I] closedestroy ok", "end"}) {
    lines.push_back(Escaped(line));
  }
  return lines;
}

// The host could not get a private /root: skip rather than touch the real one.
#define SKIP_WITHOUT_NAMESPACE(run)                                                                     \
  if ((run).exit_status == kNoNamespace)                                                                \
  GTEST_SKIP() << "private mount namespaces are not available here, so the driver's fixed engine path " \
                  "cannot be served: "                                                                  \
               << (run).err

class SmokeDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { real_model_dir_ = stat("/root/marlinx", &before_) == 0; }

  void TearDown() override {
    struct stat after {};
    const bool exists = stat("/root/marlinx", &after) == 0;
    EXPECT_EQ(exists, real_model_dir_) << "the real /root/marlinx changed";
    if (exists && real_model_dir_) {
      EXPECT_EQ(after.st_mtime, before_.st_mtime) << "the real /root/marlinx changed";
    }
  }

 private:
  bool real_model_dir_ = false;
  struct stat before_ {};
};

TEST_F(SmokeDriverTest, SampleEngineRunsOneWholeCycle) {
  const HostRun run = RunHost(EnginePath("smoke"));
  SKIP_WITHOUT_NAMESPACE(run);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.err.find("main returned 0\n"), std::string::npos) << run.err;
  ExpectLines(run.out, CycleLines("kestrel_trt_process code = 0 , output_buf_size = 13520", {}));
}

TEST_F(SmokeDriverTest, FailedCallPrintsZeroSizeAndStillReleases) {
  const HostRun run = RunHost(EnginePath("smoke"), {std::string("TRT_STANDIN_FAIL=") + kEnqueueCall + ":1"});
  SKIP_WITHOUT_NAMESPACE(run);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.err.find("main returned 0\n"), std::string::npos) << run.err;
  ExpectLines(run.out, CycleLines("kestrel_trt_process code = -1 , output_buf_size = 0",
                                  {"[inferlet][E] Enqueue failed"}));
}

TEST_F(SmokeDriverTest, MissingEngineFileEndsAfterTwoLines) {
  const HostRun run = RunHost("--missing");
  SKIP_WITHOUT_NAMESPACE(run);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.err.find("main returned -1\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, (std::vector<std::string>{"process...", "load model failed"}));
}

TEST_F(SmokeDriverTest, EmptyEngineFileIsRefusedByConstruction) {
  const HostRun run = RunHost("--empty");
  SKIP_WITHOUT_NAMESPACE(run);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_NE(run.err.find("main returned -1\n"), std::string::npos) << run.err;
  ExpectLines(
      run.out,
      Escaped({"process...", "[inferlet][E] setDevice 0ok", "[inferlet][I] CUDA Graph is 0",
               "[inferlet][I] Loading trt_engine_core ... ", "[inferlet][E] Error deserializing CUDA engine",
               "[inferlet][I] closedestory...", "[inferlet][I] closedestroy ok", "kestrel_trt_new failed"}));
}

}  // namespace
}  // namespace inferlet_test
