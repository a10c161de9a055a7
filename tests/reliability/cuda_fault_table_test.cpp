// Every CUDA call site of the engine core, failed on purpose through the emulated device. One row per
// site: the scenario that reaches it, which call of the API fails, and what the host must see.
//  - kExits: the process ends with the CUDA code as exit status after a "GPUassert: " line, tested
//    in a child process;
//  - kFailsCall: the call answers -1 after the same line, and the next call on the handle succeeds;
//  - kLoggedGoesOn: construction logs its own line and still gives a working handle.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>

#include "device_counts.h"
#include "reliability_support.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

enum class Scenario {
  kConstruct,            // kestrel_trt_new on the smoke engine, graphs off
  kCall,                 // one call on a fresh handle, graphs off
  kGraphCall,            // the first call on a fresh handle with graphs on
  kRecapture,            // the second call with graphs on: the first executable graph is replaced
  kCaptureEnqueueFails,  // graphs on, and TensorRT refuses the enqueue that is being captured
  kDelete,               // kestrel_trt_delete after one call, graphs off
  kGraphDelete,          // the same with graphs on, so an executable graph is left to release
};

enum class Outcome { kExits, kFailsCall, kLoggedGoesOn };

struct FaultRow {
  Scenario scenario;
  const char* api;
  int nth;  // which of the library's own calls of api in the faulted step (1 = the first)
  cudaError_t code;
  Outcome outcome;
  // kExits / kFailsCall: the reported line of engine_infer.cpp is the `occurrence`-th line (from 1)
  // of that file containing `site`. kLoggedGoesOn: `site` is the whole logged line.
  const char* site;
  int occurrence;
  // kFailsCall: whether the next call on the handle must succeed. A failed cudaStreamEndCapture that
  // leaves the stream capturing makes the next capture fail, and so end the process.
  bool next_call_succeeds = true;
};

const char* ScenarioName(Scenario scenario) {
  switch (scenario) {
    case Scenario::kConstruct:
      return "Construct";
    case Scenario::kCall:
      return "Call";
    case Scenario::kGraphCall:
      return "GraphCall";
    case Scenario::kRecapture:
      return "Recapture";
    case Scenario::kCaptureEnqueueFails:
      return "CaptureEnqueueFails";
    case Scenario::kDelete:
      return "Delete";
    case Scenario::kGraphDelete:
      return "GraphDelete";
  }
  return "Unknown";
}

bool UsesGraph(Scenario scenario) {
  return scenario == Scenario::kGraphCall || scenario == Scenario::kRecapture ||
         scenario == Scenario::kCaptureEnqueueFails || scenario == Scenario::kGraphDelete;
}

constexpr Outcome kExits = Outcome::kExits;
constexpr Outcome kFailsCall = Outcome::kFailsCall;
constexpr Outcome kGoesOn = Outcome::kLoggedGoesOn;

// The smoke engine has one profile with inputs in0, in1 and output out0: three device buffers,
// allocated and freed in that order.
const FaultRow kFaultTable[] = {
    // Construction.
    {Scenario::kConstruct, "cudaGetDeviceCount", 1, cudaErrorInsufficientDriver, kGoesOn,
     "[inferlet][E] cudaGetDeviceCount failed", 0},
    {Scenario::kConstruct, "cudaSetDevice", 1, cudaErrorInvalidDevice, kGoesOn,
     "[inferlet][E] cudaSetDevice failed", 0},
    {Scenario::kConstruct, "cudaStreamCreate", 1, cudaErrorMemoryAllocation, kExits, "cudaStreamCreate", 1},
    {Scenario::kConstruct, "cudaMalloc", 1, cudaErrorMemoryAllocation, kExits, "CUDA_CHECK(cudaMalloc", 1},
    {Scenario::kConstruct, "cudaMalloc", 2, cudaErrorMemoryAllocation, kExits, "CUDA_CHECK(cudaMalloc", 1},
    {Scenario::kConstruct, "cudaMalloc", 3, cudaErrorMemoryAllocation, kExits, "CUDA_CHECK(cudaMalloc", 1},
    {Scenario::kConstruct, "cudaMemset", 1, cudaErrorIllegalAddress, kExits, "CUDA_CHECK(cudaMemset", 1},
    {Scenario::kConstruct, "cudaMemset", 2, cudaErrorIllegalAddress, kExits, "CUDA_CHECK(cudaMemset", 1},
    {Scenario::kConstruct, "cudaMemset", 3, cudaErrorIllegalAddress, kExits, "CUDA_CHECK(cudaMemset", 1},
    // Inference call without graphs: in0, in1 uploaded, sync, enqueue, sync, out0 downloaded, sync.
    {Scenario::kCall, "cudaMemcpyAsync", 1, cudaErrorIllegalAddress, kFailsCall, "gpuAssert(status", 1},
    {Scenario::kCall, "cudaMemcpyAsync", 2, cudaErrorIllegalAddress, kFailsCall, "gpuAssert(status", 1},
    {Scenario::kCall, "cudaStreamSynchronize", 1, cudaErrorLaunchFailure, kExits,
     "CUDA_CHECK(cudaStreamSynchronize", 2},
    {Scenario::kCall, "cudaStreamSynchronize", 2, cudaErrorLaunchFailure, kFailsCall, "gpuAssert(status", 2},
    {Scenario::kCall, "cudaMemcpyAsync", 3, cudaErrorIllegalAddress, kFailsCall, "gpuAssert(status", 3},
    {Scenario::kCall, "cudaStreamSynchronize", 3, cudaErrorLaunchFailure, kFailsCall, "gpuAssert(status", 4},
    // Inference call with graphs: prepare runs, captures and instantiates before the uploads, and its
    // synchronization comes first.
    {Scenario::kGraphCall, "cudaStreamBeginCapture", 1, cudaErrorStreamCaptureUnsupported, kExits,
     "cudaStreamBeginCapture", 1},
    {Scenario::kGraphCall, "cudaStreamEndCapture", 1, cudaErrorStreamCaptureInvalidated, kExits,
     "CUDA_CHECK(cudaStreamEndCapture", 1},
    {Scenario::kGraphCall, "cudaStreamSynchronize", 1, cudaErrorLaunchFailure, kExits,
     "CUDA_CHECK(cudaStreamSynchronize", 1},
    {Scenario::kGraphCall, "cudaGraphInstantiate", 1, cudaErrorNotSupported, kExits, "instantiateGraph(&exec",
     1},
    {Scenario::kGraphCall, "cudaGraphDestroy", 1, cudaErrorInvalidResourceHandle, kExits,
     "CUDA_CHECK(cudaGraphDestroy", 1},
    {Scenario::kGraphCall, "cudaMemcpyAsync", 1, cudaErrorIllegalAddress, kFailsCall, "gpuAssert(status", 1},
    {Scenario::kGraphCall, "cudaStreamSynchronize", 2, cudaErrorLaunchFailure, kExits,
     "CUDA_CHECK(cudaStreamSynchronize", 2},
    {Scenario::kGraphCall, "cudaStreamSynchronize", 3, cudaErrorLaunchFailure, kFailsCall, "gpuAssert(status",
     2},
    {Scenario::kGraphCall, "cudaMemcpyAsync", 3, cudaErrorIllegalAddress, kFailsCall, "gpuAssert(status", 3},
    {Scenario::kGraphCall, "cudaStreamSynchronize", 4, cudaErrorLaunchFailure, kFailsCall, "gpuAssert(status",
     4},
    {Scenario::kRecapture, "cudaGraphExecDestroy", 1, cudaErrorInvalidResourceHandle, kExits,
     "CUDA_CHECK(cudaGraphExecDestroy", 1},
    // A refused enqueue inside the capture ends the capture and drops the partial graph; failures of
    // those two calls are reported but answered like the refused enqueue.
    {Scenario::kCaptureEnqueueFails, "cudaStreamEndCapture", 1, cudaErrorStreamCaptureInvalidated, kFailsCall,
     "gpuAssert(cudaStreamEndCapture", 1, false},
    {Scenario::kCaptureEnqueueFails, "cudaGraphDestroy", 1, cudaErrorInvalidResourceHandle, kFailsCall,
     "gpuAssert(cudaGraphDestroy", 1},
    // Teardown: stream, executable graph, then in0, in1, out0.
    {Scenario::kDelete, "cudaStreamDestroy", 1, cudaErrorInvalidResourceHandle, kExits,
     "CUDA_CHECK(cudaStreamDestroy", 1},
    {Scenario::kGraphDelete, "cudaGraphExecDestroy", 1, cudaErrorInvalidResourceHandle, kExits,
     "CUDA_CHECK(cudaGraphExecDestroy", 2},
    {Scenario::kDelete, "cudaFree", 1, cudaErrorIllegalAddress, kExits, "CUDA_CHECK(cudaFree", 1},
    {Scenario::kDelete, "cudaFree", 2, cudaErrorIllegalAddress, kExits, "CUDA_CHECK(cudaFree", 1},
    {Scenario::kDelete, "cudaFree", 3, cudaErrorIllegalAddress, kExits, "CUDA_CHECK(cudaFree", 2},
};

void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << ScenarioName(row.scenario) << ": call " << row.nth << " of " << row.api << " answers " << row.code;
}

std::string RowName(const testing::TestParamInfo<FaultRow>& info) {
  const FaultRow& row = info.param;
  return std::string(ScenarioName(row.scenario)) + "_" + row.api + "_" + std::to_string(row.nth);
}

constexpr int kCallProfile = 0;
constexpr int kCallBatch = 10;
constexpr uint32_t kCallSeed = 7;
constexpr int kNextBatch = 3;
constexpr uint32_t kNextSeed = 8;

struct ScenarioRun {
  Handle handle;
  int code = -1;
  std::vector<uintptr_t> inputs;   // the caller's input pointers of the faulted call
  std::vector<uintptr_t> outputs;  // the output pointers it handed back
};

// Builds what the row's scenario needs, then performs its faulted step; `arm` runs right before it.
template <typename Arm>
ScenarioRun Perform(const FaultRow& row, const SampleModel& model, Arm arm) {
  ScenarioRun run;
  const bool graph = UsesGraph(row.scenario);
  if (row.scenario == Scenario::kConstruct) {
    arm();
    run.handle = NewHandle(model, graph);
    run.code = run.handle ? 0 : -1;
    return run;
  }
  run.handle = NewHandle(model, graph);
  if (!run.handle) {
    ADD_FAILURE() << "the handle for the scenario could not be created";
    return run;
  }
  const bool call_first = row.scenario == Scenario::kRecapture || row.scenario == Scenario::kDelete ||
                          row.scenario == Scenario::kGraphDelete;
  if (call_first && Call(run.handle.get(), model.config, kCallProfile, kCallBatch, kCallSeed).code != 0) {
    ADD_FAILURE() << "the call before the faulted step failed";
    return run;
  }
  if (row.scenario == Scenario::kCaptureEnqueueFails) trt_standin_fail("enqueueV2", 2);
  if (row.scenario == Scenario::kDelete || row.scenario == Scenario::kGraphDelete) {
    arm();
    run.code = kestrel_trt_delete(run.handle.release());
    return run;
  }
  const CallInputs inputs(model.config, kCallProfile, kCallBatch, kCallSeed);
  std::vector<void*> outputs(model.config.out_shapes[kCallProfile].size(), nullptr);
  std::vector<int> output_lens(outputs.size(), 0);
  arm();
  run.code = kestrel_trt_process(run.handle.get(), kCallProfile, inputs.pointers(), inputs.count(),
                                 kCallBatch, outputs.data(), output_lens.data());
  for (int i = 0; i < inputs.count(); ++i)
    run.inputs.push_back(reinterpret_cast<uintptr_t>(inputs.pointers()[i]));
  for (void* output : outputs) run.outputs.push_back(reinterpret_cast<uintptr_t>(output));
  return run;
}

bool Contains(const std::vector<uintptr_t>& values, uintptr_t value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// TensorRT's enqueue makes copies of its own on the handle's stream, so the library's nth copy is not
// the nth cudaMemcpyAsync. The library's copies are the ones from the caller's inputs and into the
// outputs it hands back. Every other API in the table is called by the library alone.
bool IsLibraryCall(const cudaemu_trace_entry& entry, const ScenarioRun& run) {
  if (std::string(entry.api) != "cudaMemcpyAsync") return true;
  const uintptr_t dst = entry.args[0];
  const uintptr_t src = entry.args[1];
  const uintptr_t kind = entry.args[3];
  return (kind == cudaMemcpyHostToDevice && Contains(run.inputs, src)) ||
         (kind == cudaMemcpyDeviceToHost && Contains(run.outputs, dst));
}

// Runs the row's scenario without a fault and returns which call of row.api, counted from the start
// of the faulted step, is the library's row.nth one; 0 when the step makes no such call.
int InjectionOrdinal(const FaultRow& row, const SampleModel& model) {
  cudaemu_reset();
  trt_standin_reset();
  std::vector<cudaemu_trace_entry> trace;
  {
    StdoutCapture quiet;
    const ScenarioRun run = Perform(row, model, [] { cudaemu_trace_clear(); });
    for (size_t i = 0; i < cudaemu_trace_size(); ++i) {
      cudaemu_trace_entry entry;
      if (cudaemu_trace_get(i, &entry)) trace.push_back(entry);
    }
    int ordinal = 0;
    int library_calls = 0;
    for (const cudaemu_trace_entry& entry : trace) {
      if (std::string(entry.api) != row.api) continue;
      ++ordinal;
      if (IsLibraryCall(entry, run) && ++library_calls == row.nth) return ordinal;
    }
  }
  return 0;
}

// Empty when `line` is the report of the row's failure at the row's call site, else why not.
std::string CheckGpuAssertLine(const std::string& line, const FaultRow& row) {
  static const std::regex kReport(R"(^\[inferlet\]\[E\] GPUassert: (.*) (\S+) ([0-9]+)$)");
  std::smatch match;
  if (!std::regex_match(line, match, kReport)) return "not a GPUassert report: \"" + line + "\"";
  if (match[1] != cudaGetErrorString(row.code)) {
    return "error text \"" + match[1].str() + "\", expected \"" + cudaGetErrorString(row.code) + "\"";
  }
  const std::string path = match[2];
  const std::string suffix = "src/engine_infer.cpp";
  if (path.size() < suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return "source path " + path + " is not the engine core's";
  }
  std::ifstream source(path);
  if (!source) return "cannot open the reported source " + path;
  const int reported = std::stoi(match[3]);
  int number = 0;
  int seen = 0;
  for (std::string text; std::getline(source, text);) {
    ++number;
    if (text.find(row.site) != std::string::npos && ++seen == row.occurrence) {
      if (number == reported) return "";
      return "line " + std::to_string(reported) + " reported, but the site \"" + row.site + "\" #" +
             std::to_string(row.occurrence) + " is line " + std::to_string(number);
    }
  }
  return std::string("site \"") + row.site + "\" #" + std::to_string(row.occurrence) + " not found in " +
         path;
}

MATCHER_P(EndsWithReportOf, row, "ends with the GPUassert line of the failed call") {
  const std::vector<std::string> lines = SplitLines(arg);
  if (lines.empty()) {
    *result_listener << "nothing was written";
    return false;
  }
  const std::string why = CheckGpuAssertLine(lines.back(), row);
  *result_listener << (why.empty() ? "the last line is the report" : why);
  return why.empty();
}

std::vector<std::string> LinesContaining(const std::string& text, const std::string& needle) {
  std::vector<std::string> found;
  for (const std::string& line : SplitLines(text)) {
    if (line.find(needle) != std::string::npos) found.push_back(line);
  }
  return found;
}

class CudaFaultTest : public FreshPlatformTest, public testing::WithParamInterface<FaultRow> {
 protected:
  void SetUp() override {
    FreshPlatformTest::SetUp();
    model_ = LoadSample("smoke");
  }

  // The outputs of the call made after the faulted step, from a handle that saw no fault.
  CallResult CleanNextCall() {
    StdoutCapture quiet;
    Handle clean = NewHandle(model_, false);
    if (!clean) return {};
    return Call(clean.get(), model_.config, kCallProfile, kNextBatch, kNextSeed);
  }

  SampleModel model_;
};

TEST_P(CudaFaultTest, HostSeesTheDocumentedOutcome) {
  const FaultRow& row = GetParam();
  const int ordinal = InjectionOrdinal(row, model_);
  ASSERT_GT(ordinal, 0) << "the scenario makes no such call";
  cudaemu_reset();
  trt_standin_reset();
  auto arm = [&] { cudaemu_fail_call(row.api, ordinal, row.code); };

  if (row.outcome == Outcome::kExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child writes standard output into the stream the death test reads.
    EXPECT_EXIT(
        {
          std::fflush(stdout);
          dup2(STDERR_FILENO, STDOUT_FILENO);
          Perform(row, model_, arm);
          std::fflush(stdout);
        },
        testing::ExitedWithCode(row.code & 0xFF), EndsWithReportOf(row));
    return;
  }

  const CallResult expected_next = CleanNextCall();
  ASSERT_EQ(expected_next.code, 0);
  cudaemu_reset();
  trt_standin_reset();

  StdoutCapture capture;
  ScenarioRun run = Perform(row, model_, arm);
  const std::string log = capture.Stop();

  if (row.outcome == Outcome::kFailsCall) {
    EXPECT_EQ(run.code, -1);
    const std::vector<std::string> reports = LinesContaining(log, "GPUassert: ");
    ASSERT_EQ(reports.size(), 1u) << log;
    EXPECT_EQ(CheckGpuAssertLine(reports[0], row), "");
  } else {
    EXPECT_EQ(run.code, 0);
    EXPECT_THAT(SplitLines(log), testing::Contains(std::string(row.site))) << log;
    EXPECT_THAT(LinesContaining(log, "setDevice "), testing::IsEmpty());
    EXPECT_THAT(LinesContaining(log, "GPUassert: "), testing::IsEmpty());
  }
  ASSERT_TRUE(run.handle) << log;
  if (row.next_call_succeeds) {
    const CallResult next = Call(run.handle.get(), model_.config, kCallProfile, kNextBatch, kNextSeed);
    EXPECT_EQ(next.code, 0);
    EXPECT_EQ(next.outputs, expected_next.outputs);
  }
  EXPECT_EQ(cudaemu_violations(), 0u);

  StdoutCapture quiet;
  run.handle.reset();
  quiet.Stop();
  // A release that failed leaves its object behind, as it would on a GPU.
  if (std::string(row.api) != "cudaGraphDestroy") {
    EXPECT_EQ(DeviceCounts::Now(), DeviceCounts{});
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCallSite, CudaFaultTest, testing::ValuesIn(kFaultTable), RowName);

}  // namespace
}  // namespace inferlet_test
