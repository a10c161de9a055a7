// What the library does once the process has a sticky CUDA fault: one of the codes CUDA documents as
// leaving the process unusable (cudaErrorLaunchFailure, cudaErrorIllegalAddress, ...), after which
// every runtime call answers the same code. Each case runs in a child process, since teardown ends
// it; the child writes standard output into the stream the death test reads, and marks the steps.
//
// What is pinned: the next kestrel_trt_process answers -1 after one report of the fault (without
// graphs the first input copy reports it; with graphs TensorRT's enqueue in the capture step fails
// first), and kestrel_trt_delete ends the process at the checked synchronization that starts
// teardown, with the code as exit status and the CUDA report line of that call site.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
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

// The engine core's source, found from this file's own path (__FILE__ is absolute, or relative to
// this test's build directory, where it runs).
std::string EngineInferSource() {
  const std::string self = __FILE__;
  const std::string tail = "tests/reliability/sticky_fault_test.cpp";
  if (self.size() < tail.size() || self.compare(self.size() - tail.size(), tail.size(), tail) != 0) return "";
  return self.substr(0, self.size() - tail.size()) + "src/engine_infer.cpp";
}

// Line number of the first line containing `site` after the first line containing `anchor` (an empty
// anchor: from the start); 0 when not found.
int SiteLine(const std::string& anchor, const std::string& site) {
  std::ifstream source(EngineInferSource());
  int number = 0;
  bool anchored = anchor.empty();
  for (std::string text; std::getline(source, text);) {
    ++number;
    if (!anchored) {
      anchored = text.find(anchor) != std::string::npos;
      continue;
    }
    if (text.find(site) != std::string::npos) return number;
  }
  return 0;
}

// The CUDA report line of the engine core for `code` at `line`. The path is the library's __FILE__,
// whose form depends on how the build names sources (absolute, or relative to the library's build
// directory), so only its end is matched.
std::string ReportPattern(cudaError_t code, int line) {
  return "\\[inferlet\\]\\[E\\] GPUassert: " + RegexEscaped(cudaGetErrorString(code)) +
         " (.*/)?src/engine_infer\\.cpp " + std::to_string(line);
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
  ASSERT_FALSE(EngineInferSource().empty()) << __FILE__;
  const int upload_report = SiteLine("cudaMemcpyAsync(rec.input_bufs[i]", "gpuAssert(status");
  const int after_enqueue_report =
      SiteLine("cudaError_t status = cudaStreamSynchronize(mStream);", "gpuAssert(status");
  const int teardown_sync =
      SiteLine("void trt_engine_core::close()", "CUDA_CHECK(cudaStreamSynchronize(mStream))");
  ASSERT_GT(upload_report, 0);
  ASSERT_GT(after_enqueue_report, 0);
  ASSERT_GT(teardown_sync, 0);
  const std::string text = cudaGetErrorString(c.code);

  std::vector<std::string> expected;
  if (c.origin == Origin::kLibraryCall) {
    expected.push_back(ReportPattern(c.code, after_enqueue_report));
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
      expected.push_back(ReportPattern(c.code, upload_report));
    }
    expected.push_back("-- next call returned -1");
  }
  expected.push_back("kestrel_trt_delete [0-9]+");
  expected.push_back("\\[inferlet\\]\\[I\\] closedestory\\.\\.\\.");
  expected.push_back(ReportPattern(c.code, teardown_sync));

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
