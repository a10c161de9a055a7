// What the library does once the process has a sticky CUDA fault: one of the codes CUDA documents as
// leaving the process unusable (cudaErrorLaunchFailure, cudaErrorIllegalAddress, ...), after which
// every runtime call answers the same code. Each case runs in a child process, since teardown ends
// it; the child writes standard output into the stream the death test reads, and marks the steps.
//
// What is pinned: the next kestrel_trt_process answers -1 after one report of the fault (without
// graphs the first input copy reports it; with graphs TensorRT's enqueue in the capture step fails
// first), and kestrel_trt_delete ends the process at the checked synchronization that starts
// teardown, with the code as exit status and the CUDA report line of that call site. The line each
// call site reports is learnt from a run that fails the same call with a code that does not stick.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <trt_standin.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "handles.h"
#include "samples.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

constexpr int kProfile = 0;
constexpr int kBatch = 10;

// The CUDA report line of the engine core for `code` at `line`. The path is the library's __FILE__,
// whose form depends on how the build names sources (absolute, or relative to the library's build
// directory), so only its end is matched.
std::string ReportPattern(cudaError_t code, int line) {
  return "\\[inferlet\\]\\[E\\] GPUassert: " + RegexEscaped(cudaGetErrorString(code)) +
         " (.*/)?src/engine_infer\\.cpp " + std::to_string(line);
}

// The source line that the first CUDA report of the engine core in `text` names; 0 without a report.
int ReportedLine(const std::string& text) {
  static const std::regex kReport(
      R"(^\[inferlet\]\[E\] GPUassert: .* (.*/)?src/engine_infer\.cpp ([0-9]+)$)");
  std::smatch match;
  for (const std::string& line : SplitLines(text)) {
    if (std::regex_match(line, match, kReport)) return std::stoi(match[2]);
  }
  return 0;
}

// What a forked child wrote to standard output, and how it ended.
struct ChildRun {
  int status = -1;  // as waitpid gives it
  std::string output;
};

ChildRun RunInChild(const std::function<void()>& body) {
  ChildRun run;
  int fds[2];
  if (pipe(fds) != 0) return run;
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    body();
    std::fflush(stdout);
    std::_Exit(0);
  }
  close(fds[1]);
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) run.output.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  if (pid < 0 || waitpid(pid, &run.status, 0) != pid) run.status = -1;
  return run;
}

// The call sites whose reports the cases expect, by the line each reports.
struct ReportLines {
  int upload = 0;         // the first input copy of a call
  int after_enqueue = 0;  // the synchronization after the enqueue
  int teardown_sync = 0;  // the synchronization that starts teardown
};

// Fails the nth call of `api` in one call on a fresh smoke handle (no graphs) with a code that leaves
// the handle usable, and reads the line the report names.
inline int LineOfFailedCall(const SampleModel& model, const char* api, int nth, cudaError_t code) {
  cudaemu_reset();
  trt_standin_reset();
  StdoutCapture capture;
  {
    Handle handle = NewHandle(model, false);
    if (handle) {
      cudaemu_fail_call(api, nth, code);
      Call(handle.get(), model.config, kProfile, kBatch, 1);
    }
  }
  return ReportedLine(capture.Stop());
}

// Learnt once per process. The teardown synchronization ends the process when it fails, so its run is
// a child of its own.
inline const ReportLines& LearntReportLines(const SampleModel& model) {
  static const ReportLines lines = [&] {
    ReportLines learnt;
    learnt.upload = LineOfFailedCall(model, "cudaMemcpyAsync", 1, cudaErrorInvalidValue);
    learnt.after_enqueue = LineOfFailedCall(model, "cudaStreamSynchronize", 2, cudaErrorNotPermitted);
    cudaemu_reset();
    trt_standin_reset();
    const ChildRun teardown = RunInChild([&] {
      Handle handle = NewHandle(model, false);
      if (!handle) std::_Exit(97);
      cudaemu_fail_call("cudaStreamSynchronize", 1, cudaErrorInvalidResourceHandle);
      kestrel_trt_delete(handle.release());
    });
    if (WIFEXITED(teardown.status) && WEXITSTATUS(teardown.status) == (cudaErrorInvalidResourceHandle & 0xFF))
      learnt.teardown_sync = ReportedLine(teardown.output);
    cudaemu_reset();
    trt_standin_reset();
    return learnt;
  }();
  return lines;
}

// What the child wrote after its "-- fault" mark matches `expected` line by line (each a regex).
MATCHER_P(AfterTheFault, expected, "writes the expected lines after the fault") {
  const std::vector<std::string> lines = SplitLines(arg);
  auto mark = std::find(lines.begin(), lines.end(), "-- fault");
  if (mark == lines.end()) {
    *result_listener << "the child never reached the fault; it wrote:\n" << arg;
    return false;
  }
  const std::vector<std::string> after(mark + 1, lines.end());
  const std::vector<std::string>& want = expected;
  for (size_t i = 0; i < want.size(); ++i) {
    if (i >= after.size()) {
      *result_listener << "line " << i << " missing, expected /" << want[i] << "/";
      return false;
    }
    if (!std::regex_match(after[i], std::regex(want[i]))) {
      *result_listener << "line " << i << " is \"" << after[i] << "\", expected /" << want[i] << "/";
      return false;
    }
  }
  if (after.size() != want.size()) {
    *result_listener << "more lines than expected, the next: \"" << after[want.size()] << "\"";
    return false;
  }
  return true;
}

// Where the sticky fault comes from.
enum class Origin {
  kLibraryCall,  // the library's synchronization after the enqueue answers it (the call returns -1)
  kHostWork,     // the host's own work faults on its own stream before the library is called
};

struct StickyCase {
  const char* name;
  Origin origin;
  bool use_cuda_graph;
  bool call_after_fault;  // a kestrel_trt_process between the fault and kestrel_trt_delete
  cudaError_t code;
};

inline void PrintTo(const StickyCase& c, std::ostream* out) { *out << c.name; }

const StickyCase kCases[] = {
    {"LibraryCall_NextCallThenDelete", Origin::kLibraryCall, false, true, cudaErrorLaunchFailure},
    {"LibraryCall_NextCallThenDelete_Graph", Origin::kLibraryCall, true, true, cudaErrorLaunchFailure},
    {"LibraryCall_Delete", Origin::kLibraryCall, false, false, cudaErrorLaunchFailure},
    {"LibraryCall_Delete_Graph", Origin::kLibraryCall, true, false, cudaErrorLaunchFailure},
    {"HostWork_NextCallThenDelete", Origin::kHostWork, false, true, cudaErrorIllegalAddress},
    {"HostWork_NextCallThenDelete_Graph", Origin::kHostWork, true, true, cudaErrorIllegalAddress},
    {"HostWork_Delete", Origin::kHostWork, false, false, cudaErrorIllegalAddress},
};

// The host's own device work faults: a graph copies from memory the host freed before launching it.
// Found when the work runs, at the host's synchronization.
void HostWorkFaults() {
  cudaStream_t s = nullptr;
  void* dst = nullptr;
  void* scratch = nullptr;
  if (cudaStreamCreate(&s) || cudaMalloc(&dst, 64) || cudaMalloc(&scratch, 64)) std::_Exit(98);
  cudaGraph_t graph = nullptr;
  cudaGraphExec_t exec = nullptr;
  if (cudaStreamBeginCapture(s, cudaStreamCaptureModeRelaxed) ||
      cudaMemcpyAsync(dst, scratch, 64, cudaMemcpyDeviceToDevice, s) || cudaStreamEndCapture(s, &graph) ||
      cudaGraphInstantiate(&exec, graph, 0) || cudaFree(scratch) || cudaGraphLaunch(exec, s))
    std::_Exit(98);
  const cudaError_t synced = cudaStreamSynchronize(s);
  std::printf("-- host synchronize: %s\n", cudaGetErrorName(synced));
}

class StickyFaultOnEmulator : public FreshPlatformTest, public testing::WithParamInterface<StickyCase> {
 protected:
  void SetUp() override {
    FreshPlatformTest::SetUp();
    model_ = LoadSample("smoke");
  }

  // The death-test child: a handle, one good call, the fault, then what the case asks for.
  void RunChild(const StickyCase& c) {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Handle handle = NewHandle(model_, c.use_cuda_graph);
    if (!handle || Call(handle.get(), model_.config, kProfile, kBatch, 1).code != 0) std::_Exit(97);
    std::printf("-- fault\n");
    std::fflush(stdout);
    if (c.origin == Origin::kLibraryCall) {
      // The library's synchronization after the enqueue: the second cudaStreamSynchronize of a call
      // (TensorRT makes none). With graphs the capture step's one comes first.
      cudaemu_fail_call("cudaStreamSynchronize", c.use_cuda_graph ? 3 : 2, c.code);
      std::printf("-- faulted call returned %d\n",
                  Call(handle.get(), model_.config, kProfile, kBatch, 2).code);
    } else {
      HostWorkFaults();
    }
    if (c.call_after_fault)
      std::printf("-- next call returned %d\n", Call(handle.get(), model_.config, kProfile, kBatch, 3).code);
    std::fflush(stdout);
    kestrel_trt_delete(handle.release());
    std::printf("-- kestrel_trt_delete returned\n");
    std::fflush(stdout);
  }

  SampleModel model_;
};

INFERLET_EMULATOR_TEST_P(StickyFaultOnEmulator, LaterCallsReportItAndTeardownEndsTheProcess) {
  const StickyCase& c = GetParam();
  const ReportLines& sites = LearntReportLines(model_);
  ASSERT_GT(sites.upload, 0) << "a failed input copy reported no line";
  ASSERT_GT(sites.after_enqueue, 0) << "a failed synchronization after the enqueue reported no line";
  ASSERT_GT(sites.teardown_sync, 0) << "a failed teardown synchronization reported no line, or did not exit";
  EXPECT_NE(sites.upload, sites.after_enqueue);
  EXPECT_NE(sites.after_enqueue, sites.teardown_sync);
  EXPECT_NE(sites.upload, sites.teardown_sync);
  const std::string text = cudaGetErrorString(c.code);

  std::vector<std::string> expected;
  if (c.origin == Origin::kLibraryCall) {
    expected.push_back(ReportPattern(c.code, sites.after_enqueue));
    expected.push_back("-- faulted call returned -1");
  } else {
    expected.push_back(std::string("-- host synchronize: ") + cudaGetErrorName(c.code));
  }
  if (c.call_after_fault) {
    if (c.use_cuda_graph) {
      // prepare's capture step runs TensorRT's enqueue first: its first CUDA call answers the fault.
      expected.push_back("\\[inferlet\\]\\[E\\] " + std::string(kEnqueueCall) + ": .*" + RegexEscaped(text));
      expected.push_back("\\[inferlet\\]\\[E\\] Enqueue failed");
    } else {
      // The first input copy answers the fault; the call reports it and returns.
      expected.push_back(ReportPattern(c.code, sites.upload));
    }
    expected.push_back("-- next call returned -1");
  }
  expected.push_back("kestrel_trt_delete [0-9]+");
  expected.push_back("\\[inferlet\\]\\[I\\] closedestory\\.\\.\\.");
  expected.push_back(ReportPattern(c.code, sites.teardown_sync));

  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunChild(c), testing::ExitedWithCode(static_cast<int>(c.code) & 0xFF), AfterTheFault(expected));
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(AfterAStickyFault, StickyFaultOnEmulator,
                                           testing::ValuesIn(kCases),
                                           [](const testing::TestParamInfo<StickyCase>& info) {
                                             return info.param.name;
                                           });

}  // namespace
}  // namespace inferlet_test
