// The one table of CUDA failures: every checked CUDA call site of the engine core, failed on purpose
// through the emulated device. A row names a scenario, which of the library's own calls of an API in
// its faulted step fails, with which code, and what the host must then see:
//  - kExits: the process ends with the CUDA code as exit status (tested in a child process);
//  - kFails: the step answers -1 and makes no CUDA call after the failed one;
//  - kGoesOn: the step answers 0 and goes on as it does without the fault.
// Unless the row gives a logged line of its own, the report "[inferlet][E] GPUassert: <error text>
// <file> <line>", naming a line of engine_infer.cpp, is the step's last line (kExits, kFails; before
// it the step prints what it prints without the fault, but for the closing lines of a teardown) or
// the one report among otherwise unchanged lines (kGoesOn). After kFails and kGoesOn the handle
// serves the next call as a fresh handle does (or, where the row says so, is left capturing), and
// deleting it leaves only what a failed release keeps.
//
// Everything else is learnt from runs, never from the source text: a run of the same scenario without
// the fault shows which call of the API is the library's nth and what the step prints, and the report
// itself gives the line. EverySiteReportsItsOwnLine then checks that rows of one site report one line
// and rows of different sites different lines, so that moving a call or adding a helper changes no
// row. A change of outcome (a release that only reports, say) is a change of one row.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "engine_peer.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

enum class Step { kNew, kProcess, kDelete };

// What is built before the faulted step, and the step itself.
struct Scenario {
  const char* name;
  const char* model;  // the sample engine, with its configuration
  bool use_cuda_graph;
  int calls_before;              // successful calls on the handle before the step
  bool refuse_captured_enqueue;  // TensorRT refuses the enqueue that is being captured
  Step step;
  int closing_lines;  // lines the step prints after its last CUDA call, which a failure cuts off
};

const Scenario kConstruct{"Construct", "smoke", false, 0, false, Step::kNew, 0};
const Scenario kCall{"Call", "smoke", false, 0, false, Step::kProcess, 0};
const Scenario kLaterCall{"LaterCall", "smoke", false, 1, false, Step::kProcess, 0};
// With graphs on, prepare runs, captures and instantiates before the uploads, and its synchronization
// comes first; from the second call on, the executable graph of the call before is replaced.
const Scenario kGraphCall{"GraphCall", "smoke", true, 0, false, Step::kProcess, 0};
const Scenario kRecapture{"Recapture", "smoke", true, 1, false, Step::kProcess, 0};
// A refused enqueue inside the capture ends the capture and drops the partial graph; failures of those
// two calls are reported but answered like the refused enqueue.
const Scenario kRefusedCapture{"RefusedCapture", "smoke", true, 0, true, Step::kProcess, 0};
const Scenario kDelete{"Delete", "smoke", false, 1, false, Step::kDelete, 1};
const Scenario kGraphDelete{"GraphDelete", "smoke", true, 1, false, Step::kDelete, 1};
const Scenario kDeleteUnused{"DeleteUnused", "two_profiles", false, 0, false, Step::kDelete, 1};

enum class Outcome { kExits, kFails, kGoesOn };
constexpr Outcome kExits = Outcome::kExits;
constexpr Outcome kFails = Outcome::kFails;
constexpr Outcome kGoesOn = Outcome::kGoesOn;

// The handle after kFails or kGoesOn.
enum class After {
  kServesNextCall,  // the next call succeeds with a fresh handle's outputs
  kLeftCapturing,   // the stream is still capturing, so the next capture would fail
};

struct FaultRow {
  const Scenario* scenario;
  const char* api;
  int nth;  // which of the library's own calls of api in the faulted step (1 = the first)
  cudaError_t code;
  Outcome outcome;
  // The call site the report names, in words; rows of one site give the same words.
  const char* site;
  const char* logged = nullptr;  // instead of a report, the step logs this whole line
  const char* absent = nullptr;  // no line of the step may contain this
  After after = After::kServesNextCall;
  // kFails: a call the step still makes after the report (waiting for copies it already issued).
  const char* then = nullptr;
};

// Where the handle is used after the fault, the codes are ones a real device does not keep returning
// (invalid value, not permitted, ...); device faults (illegal address, launch failure) only end the
// process. The smoke engine has one profile with inputs in0, in1 and output out0: three device
// buffers, allocated and freed in that order; the two-profile engine has six.
const FaultRow kFaultTable[] = {
    // Construction.
    {&kConstruct, "cudaGetDeviceCount", 1, cudaErrorInsufficientDriver, kGoesOn, nullptr,
     "[inferlet][E] cudaGetDeviceCount failed", "setDevice "},
    {&kConstruct, "cudaSetDevice", 1, cudaErrorInvalidDevice, kGoesOn, nullptr,
     "[inferlet][E] cudaSetDevice failed", "setDevice "},
    {&kConstruct, "cudaStreamCreate", 1, cudaErrorMemoryAllocation, kExits, "stream creation"},
    {&kConstruct, "cudaMalloc", 1, cudaErrorMemoryAllocation, kExits, "buffer allocation"},
    {&kConstruct, "cudaMalloc", 2, cudaErrorMemoryAllocation, kExits, "buffer allocation"},
    {&kConstruct, "cudaMalloc", 3, cudaErrorMemoryAllocation, kExits, "buffer allocation"},
    {&kConstruct, "cudaMemset", 1, cudaErrorIllegalAddress, kExits, "buffer zero-fill"},
    {&kConstruct, "cudaMemset", 2, cudaErrorInvalidValue, kExits, "buffer zero-fill"},
    {&kConstruct, "cudaMemset", 3, cudaErrorIllegalAddress, kExits, "buffer zero-fill"},
    // Inference call without graphs: in0, in1 uploaded, sync, enqueue, sync, out0 downloaded, sync.
    {&kCall, "cudaMemcpyAsync", 1, cudaErrorInvalidValue, kFails, "input copy"},
    {&kCall, "cudaMemcpyAsync", 2, cudaErrorInvalidValue, kFails, "input copy", nullptr, nullptr,
     After::kServesNextCall, "cudaStreamSynchronize"},
    {&kCall, "cudaStreamSynchronize", 1, cudaErrorLaunchFailure, kExits, "sync after the input copies"},
    {&kCall, "cudaStreamSynchronize", 2, cudaErrorNotPermitted, kFails, "sync after the enqueue"},
    {&kCall, "cudaMemcpyAsync", 3, cudaErrorInvalidValue, kFails, "output copy"},
    {&kCall, "cudaStreamSynchronize", 3, cudaErrorNotPermitted, kFails, "final sync"},
    {&kLaterCall, "cudaMemcpyAsync", 1, cudaErrorInvalidValue, kFails, "input copy"},
    {&kLaterCall, "cudaMemcpyAsync", 2, cudaErrorInvalidValue, kFails, "input copy", nullptr, nullptr,
     After::kServesNextCall, "cudaStreamSynchronize"},
    {&kLaterCall, "cudaStreamSynchronize", 2, cudaErrorNotPermitted, kFails, "sync after the enqueue"},
    {&kLaterCall, "cudaMemcpyAsync", 3, cudaErrorInvalidValue, kFails, "output copy"},
    {&kLaterCall, "cudaStreamSynchronize", 3, cudaErrorNotPermitted, kFails, "final sync"},
    // Inference call with graphs.
    {&kGraphCall, "cudaStreamBeginCapture", 1, cudaErrorStreamCaptureUnsupported, kExits, "capture begin"},
    {&kGraphCall, "cudaStreamEndCapture", 1, cudaErrorStreamCaptureInvalidated, kExits, "capture end"},
    {&kGraphCall, "cudaStreamSynchronize", 1, cudaErrorLaunchFailure, kExits, "sync after the capture"},
    {&kGraphCall, "cudaGraphInstantiate", 1, cudaErrorNotSupported, kExits, "graph instantiation"},
    {&kGraphCall, "cudaGraphDestroy", 1, cudaErrorInvalidResourceHandle, kGoesOn, "captured graph release"},
    {&kGraphCall, "cudaMemcpyAsync", 1, cudaErrorInvalidValue, kFails, "input copy"},
    {&kGraphCall, "cudaStreamSynchronize", 2, cudaErrorLaunchFailure, kExits, "sync after the input copies"},
    {&kGraphCall, "cudaStreamSynchronize", 3, cudaErrorNotPermitted, kFails, "sync after the enqueue"},
    {&kGraphCall, "cudaMemcpyAsync", 3, cudaErrorInvalidValue, kFails, "output copy"},
    {&kGraphCall, "cudaStreamSynchronize", 4, cudaErrorNotPermitted, kFails, "final sync"},
    {&kRecapture, "cudaGraphExecDestroy", 1, cudaErrorInvalidResourceHandle, kGoesOn,
     "replaced executable graph release"},
    {&kRecapture, "cudaMemcpyAsync", 1, cudaErrorInvalidValue, kFails, "input copy"},
    {&kRecapture, "cudaMemcpyAsync", 3, cudaErrorInvalidValue, kFails, "output copy"},
    {&kRecapture, "cudaStreamSynchronize", 4, cudaErrorNotPermitted, kFails, "final sync"},
    // A failed cudaStreamEndCapture leaves the stream capturing.
    {&kRefusedCapture, "cudaStreamEndCapture", 1, cudaErrorStreamCaptureInvalidated, kFails,
     "refused capture end", nullptr, nullptr, After::kLeftCapturing},
    {&kRefusedCapture, "cudaGraphDestroy", 1, cudaErrorInvalidResourceHandle, kFails,
     "refused capture graph release"},
    // Teardown: the stream's queued work waited for, the stream, executable graph, then every input and
    // output buffer.
    {&kDelete, "cudaStreamSynchronize", 1, cudaErrorLaunchFailure, kExits, "teardown sync"},
    {&kDeleteUnused, "cudaStreamSynchronize", 1, cudaErrorIllegalAddress, kExits, "teardown sync"},
    {&kDelete, "cudaStreamDestroy", 1, cudaErrorInvalidResourceHandle, kExits, "stream release"},
    {&kGraphDelete, "cudaGraphExecDestroy", 1, cudaErrorInvalidResourceHandle, kGoesOn,
     "executable graph release"},
    {&kDelete, "cudaFree", 1, cudaErrorIllegalAddress, kExits, "input buffer release"},
    {&kDelete, "cudaFree", 2, cudaErrorIllegalAddress, kExits, "input buffer release"},
    {&kDelete, "cudaFree", 3, cudaErrorIllegalAddress, kExits, "output buffer release"},
    {&kDeleteUnused, "cudaStreamDestroy", 1, cudaErrorInvalidResourceHandle, kExits, "stream release"},
    {&kDeleteUnused, "cudaFree", 1, cudaErrorIllegalAddress, kExits, "input buffer release"},
    {&kDeleteUnused, "cudaFree", 6, cudaErrorInvalidValue, kExits, "output buffer release"},
};

std::string RowName(const FaultRow& row) {
  return std::string(row.scenario->name) + "_" + row.api + "_" + std::to_string(row.nth);
}

inline void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << row.scenario->name << ": call " << row.nth << " of " << row.api << " answers " << row.code;
}

constexpr int kProfile = 0;
constexpr int kBatch = 10;
constexpr uint32_t kBeforeSeed = 6;
constexpr uint32_t kStepSeed = 7;
constexpr int kNextBatch = 3;
constexpr uint32_t kNextSeed = 8;

// Written right before the faulted step, so that what the step prints can be told from what came before.
constexpr char kStepMarker[] = "----- the faulted step begins -----";

struct ScenarioRun {
  Handle handle;
  int code = -1;
  std::vector<uintptr_t> inputs;   // the caller's input pointers of a faulted call
  std::vector<uintptr_t> outputs;  // the output pointers it handed back
};

// Builds what the scenario needs, then performs its faulted step; `arm` runs right before the step.
template <typename Arm>
inline ScenarioRun Perform(const FaultRow& row, const SampleModel& model, Arm arm) {
  const Scenario& scenario = *row.scenario;
  ScenarioRun run;
  auto begin_step = [&] {
    std::printf("%s\n", kStepMarker);
    std::fflush(stdout);
    arm();
  };
  if (scenario.step == Step::kNew) {
    begin_step();
    run.handle = NewHandle(model, scenario.use_cuda_graph);
    run.code = run.handle ? 0 : -1;
    return run;
  }
  run.handle = NewHandle(model, scenario.use_cuda_graph);
  if (!run.handle) {
    ADD_FAILURE() << "the handle for the scenario could not be created";
    return run;
  }
  for (int i = 0; i < scenario.calls_before; ++i) {
    if (Call(run.handle.get(), model.config, kProfile, kBatch, kBeforeSeed + i).code != 0) {
      ADD_FAILURE() << "a call before the faulted step failed";
      return run;
    }
  }
  if (scenario.refuse_captured_enqueue) trt_standin_fail(kEnqueueCall, 2);
  if (scenario.step == Step::kDelete) {
    begin_step();
    run.code = kestrel_trt_delete(run.handle.release());
    return run;
  }
  const CallInputs inputs(model.config, kProfile, kBatch, kStepSeed);
  std::vector<void*> outputs(model.config.out_shapes[kProfile].size(), nullptr);
  std::vector<int> output_lens(outputs.size(), 0);
  begin_step();
  run.code = kestrel_trt_process(run.handle.get(), kProfile, inputs.pointers(), inputs.count(), kBatch,
                                 outputs.data(), output_lens.data());
  for (int i = 0; i < inputs.count(); ++i)
    run.inputs.push_back(reinterpret_cast<uintptr_t>(inputs.pointers()[i]));
  for (void* output : outputs) run.outputs.push_back(reinterpret_cast<uintptr_t>(output));
  return run;
}

// The lines after the step marker, with the handle value in kestrel_trt_delete's line (different in
// every run) blanked. *found tells whether the marker was there.
std::vector<std::string> StepLines(const std::string& text, bool* found) {
  static const std::regex kDeleteLine(R"(^kestrel_trt_delete -?[0-9]+$)");
  std::vector<std::string> lines;
  *found = false;
  for (const std::string& line : SplitLines(text)) {
    if (line == kStepMarker) {
      *found = true;
      lines.clear();
    } else if (*found) {
      lines.push_back(std::regex_match(line, kDeleteLine) ? "kestrel_trt_delete <handle>" : line);
    }
  }
  return lines;
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

// The functions below that reach the emulated device are inline, as is Perform that they instantiate,
// so that a real device's build, where these cases only skip, emits none of them (emulator_case.h).

// What the row's step does without the fault.
struct Baseline {
  int ordinal = 0;                 // which call of row.api, counted from the step's start, to fail
  std::vector<std::string> calls;  // the step's CUDA calls up to and including that one, by name
  std::vector<std::string> lines;  // everything the step prints
};

inline Baseline Learn(const FaultRow& row, const SampleModel& model) {
  cudaemu_reset();
  trt_standin_reset();
  Baseline baseline;
  StdoutCapture capture;
  ScenarioRun run = Perform(row, model, [] { cudaemu_trace_clear(); });
  bool found = false;
  baseline.lines = StepLines(capture.Stop(), &found);
  run.handle.get_deleter().quiet = true;
  const std::vector<cudaemu_trace_entry> trace = TraceEntries();
  int library_calls = 0;
  for (const cudaemu_trace_entry& entry : trace) {
    baseline.calls.emplace_back(entry.api);
    if (std::string(entry.api) != row.api) continue;
    ++baseline.ordinal;
    if (IsLibraryCall(entry, run) && ++library_calls == row.nth) break;
  }
  if (library_calls != row.nth) baseline.ordinal = 0;
  return baseline;
}

// Empty when `line` is the report of `code` from a line of the engine core, else why not. The file and
// line it names go to *site.
std::string CheckReport(const std::string& line, cudaError_t code, std::string* site) {
  static const std::regex kReport(R"(^\[inferlet\]\[E\] GPUassert: (.*) (\S+) ([0-9]+)$)");
  std::smatch match;
  if (!std::regex_match(line, match, kReport)) return "not a GPUassert report: \"" + line + "\"";
  if (match[1] != cudaGetErrorString(code)) {
    return "error text \"" + match[1].str() + "\", expected \"" + cudaGetErrorString(code) + "\"";
  }
  const std::string path = match[2];
  const std::string suffix = "src/engine_infer.cpp";
  if (path.size() < suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return "source path " + path + " is not the engine core's";
  }
  if (std::stoi(match[3]) < 1) return "line " + match[3].str() + " is not a line of " + path;
  *site = path + ":" + match[3].str();
  return "";
}

std::string Quoted(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  \"" + line + "\"";
  return text.empty() ? " (nothing)" : text;
}

// Empty when the step printed what it prints without the fault but for its closing lines, and then the
// report of the failure as its last line; else why not. The site the report names goes to *site.
std::string CheckEndsWithReport(const std::vector<std::string>& lines, const FaultRow& row,
                                const Baseline& baseline, std::string* site) {
  if (lines.empty()) return "the step printed nothing";
  const std::string why = CheckReport(lines.back(), row.code, site);
  if (!why.empty()) return "last line: " + why;
  const std::vector<std::string> before(lines.begin(), lines.end() - 1);
  const size_t kept =
      baseline.lines.size() - std::min<size_t>(baseline.lines.size(), row.scenario->closing_lines);
  const std::vector<std::string> expected(baseline.lines.begin(), baseline.lines.begin() + kept);
  if (before != expected) {
    return "before the report the step printed" + Quoted(before) + "\ninstead of" + Quoted(expected);
  }
  return "";
}

MATCHER_P3(StepEndsWithReport, row, baseline, site, "the step ends with the report of the failed call") {
  bool found = false;
  const std::vector<std::string> lines = StepLines(arg, &found);
  if (!found) {
    *result_listener << "the faulted step never began";
    return false;
  }
  const std::string why = CheckEndsWithReport(lines, row, baseline, site);
  *result_listener << (why.empty() ? "it does" : why);
  return why.empty();
}

// Runs the row's faulted step in a child process that must end with the CUDA code as its status.
inline void ExpectExit(const FaultRow& row, const SampleModel& model, const Baseline& baseline,
                       std::string* site) {
  const int ordinal = baseline.ordinal;
  auto arm = [&] { cudaemu_fail_call(row.api, ordinal, row.code); };
  std::fflush(stdout);
  EXPECT_EXIT(
      {
        // The child writes standard output into the stream the death test reads.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        Perform(row, model, arm);
        std::fflush(stdout);
      },
      testing::ExitedWithCode(row.code & 0xFF), StepEndsWithReport(row, baseline, site));
}

// What a failed release leaves on the device once the handle is gone.
DeviceCounts Leftover(const FaultRow& row) {
  DeviceCounts left;
  const std::string api = row.api;
  if (api == "cudaGraphDestroy") left.graphs = 1;
  if (api == "cudaGraphExecDestroy") left.graph_execs = 1;
  if (api == "cudaStreamDestroy") left.streams = 1;
  return left;
}

// The call made after the faulted step, on a handle that saw no fault.
struct NextCall {
  CallResult result;
  std::vector<std::string> lines;
};

NextCall MakeNextCall(trt_engine_core* handle, const ModelConfig& config) {
  NextCall next;
  next.lines = CapturedLines([&] { next.result = Call(handle, config, kProfile, kNextBatch, kNextSeed); });
  return next;
}

inline NextCall FreshNextCall(const FaultRow& row, const SampleModel& model) {
  cudaemu_reset();
  trt_standin_reset();
  StdoutCapture quiet;
  Handle fresh = NewHandle(model, row.scenario->use_cuda_graph);
  if (!fresh) return {};
  quiet.Stop();
  NextCall next = MakeNextCall(fresh.get(), model.config);
  StdoutCapture quiet_delete;
  fresh.reset();
  return next;
}

// Runs the row's faulted step in this process (kFails, kGoesOn) and checks what the host sees.
inline void ExpectSurvived(const FaultRow& row, const SampleModel& model, const Baseline& baseline,
                           std::string* site) {
  const NextCall expected_next = FreshNextCall(row, model);
  ASSERT_EQ(expected_next.result.code, 0);
  cudaemu_reset();
  trt_standin_reset();

  StdoutCapture capture;
  ScenarioRun run = Perform(row, model, [&] {
    cudaemu_fail_call(row.api, baseline.ordinal, row.code);
    cudaemu_trace_clear();
  });
  const std::string log = capture.Stop();
  std::vector<std::string> calls;
  for (const cudaemu_trace_entry& entry : TraceEntries()) calls.emplace_back(entry.api);
  bool found = false;
  const std::vector<std::string> lines = StepLines(log, &found);
  ASSERT_TRUE(found) << log;

  if (row.outcome == Outcome::kFails) {
    EXPECT_EQ(run.code, -1);
    EXPECT_EQ(CheckEndsWithReport(lines, row, baseline, site), "");
    std::vector<std::string> expected_calls = baseline.calls;
    expected_calls.emplace_back("cudaGetErrorString");  // for the report
    if (row.then != nullptr) expected_calls.emplace_back(row.then);
    EXPECT_EQ(calls, expected_calls) << "the step's CUDA calls, which must end with the failed one";
  } else {
    EXPECT_EQ(run.code, 0);
    if (row.logged != nullptr) {
      EXPECT_THAT(lines, testing::Contains(std::string(row.logged))) << log;
      for (const std::string& line : lines) {
        EXPECT_THAT(line, testing::Not(testing::HasSubstr("GPUassert: ")));
      }
    } else {
      std::vector<std::string> others;
      int reports = 0;
      for (const std::string& line : lines) {
        if (line.find("GPUassert: ") == std::string::npos) {
          others.push_back(line);
        } else if (++reports == 1) {
          EXPECT_EQ(CheckReport(line, row.code, site), "");
        }
      }
      EXPECT_EQ(reports, 1) << log;
      EXPECT_EQ(others, baseline.lines)
          << "besides the report, the step prints what it prints without the fault";
    }
  }
  if (row.absent != nullptr) {
    for (const std::string& line : lines) EXPECT_THAT(line, testing::Not(testing::HasSubstr(row.absent)));
  }

  if (row.scenario->step != Step::kDelete) {
    ASSERT_TRUE(run.handle) << log;
    if (row.after == After::kServesNextCall) {
      const NextCall next = MakeNextCall(run.handle.get(), model.config);
      EXPECT_EQ(next.result.code, 0);
      EXPECT_EQ(next.result.outputs, expected_next.result.outputs);
      EXPECT_EQ(next.lines, expected_next.lines);
    } else {
      cudaStream_t stream = trt_engine_core_peer::Stream(*run.handle);
      cudaStreamCaptureStatus status = cudaStreamCaptureStatusNone;
      EXPECT_EQ(cudaStreamIsCapturing(stream, &status), cudaSuccess);
      EXPECT_EQ(status, cudaStreamCaptureStatusActive);
      // Teardown cannot wait for a stream that is still capturing: its checked synchronization ends the
      // process. Once the host has ended the capture, teardown goes through.
      EXPECT_EXIT(
          {
            StdoutCapture quiet;
            run.handle.reset();
          },
          testing::ExitedWithCode(cudaErrorStreamCaptureUnsupported & 0xFF), "");
      cudaGraph_t partial = nullptr;
      EXPECT_EQ(cudaStreamEndCapture(stream, &partial), cudaSuccess);
      EXPECT_EQ(cudaGraphDestroy(partial), cudaSuccess);
    }
  }
  char violation[256] = "";
  cudaemu_last_violation(violation, sizeof violation);
  EXPECT_EQ(cudaemu_violations(), 0u) << violation;

  StdoutCapture quiet;
  run.handle.reset();
  quiet.Stop();
  EXPECT_EQ(DeviceCounts::Now(), Leftover(row));
}

// Runs one row and checks what the host sees; the site its report names goes to *site (left empty for
// a row without a report).
inline void ExpectRow(const FaultRow& row, const SampleModel& model, std::string* site) {
  const Baseline baseline = Learn(row, model);
  ASSERT_GT(baseline.ordinal, 0) << "the step makes no such call";
  if (row.outcome == Outcome::kExits) {
    ExpectExit(row, model, baseline, site);
  } else {
    ExpectSurvived(row, model, baseline, site);
  }
}

class CudaFaultOnEmulator : public FreshPlatformTest, public testing::WithParamInterface<FaultRow> {
 protected:
  void SetUp() override {
    FreshPlatformTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

INFERLET_EMULATOR_TEST_P(CudaFaultOnEmulator, HostSeesTheDocumentedOutcome) {
  const FaultRow& row = GetParam();
  std::string site;
  ExpectRow(row, LoadSample(row.scenario->model), &site);
  if (!HasFailure()) {
    EXPECT_EQ(site.empty(), row.site == nullptr) << site;
  }
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(EveryCallSite, CudaFaultOnEmulator, testing::ValuesIn(kFaultTable),
                                           [](const testing::TestParamInfo<FaultRow>& info) {
                                             return RowName(info.param);
                                           });

class CudaFaultSitesOnEmulator : public FreshPlatformTest {};

INFERLET_EMULATOR_TEST_F(CudaFaultSitesOnEmulator, EverySiteReportsItsOwnLine) {
  // Forked children: re-running this whole case for each of them, as the threadsafe style does,
  // would run the table over and over.
  GTEST_FLAG_SET(death_test_style, "fast");
  std::map<std::string, std::set<std::string>> lines_of_site;
  for (const FaultRow& row : kFaultTable) {
    if (row.site == nullptr) continue;
    SCOPED_TRACE(RowName(row));
    std::string site;
    ExpectRow(row, LoadSample(row.scenario->model), &site);
    if (!site.empty()) lines_of_site[row.site].insert(site);
  }
  std::map<std::string, std::string> site_of_line;
  for (const auto& [site, lines] : lines_of_site) {
    EXPECT_EQ(lines.size(), 1u) << "\"" << site << "\" is reported from several lines";
    for (const std::string& line : lines) {
      const auto [it, inserted] = site_of_line.emplace(line, site);
      EXPECT_TRUE(inserted) << "\"" << site << "\" and \"" << it->second << "\" both report " << line;
    }
  }
  std::set<std::string> sites;
  for (const FaultRow& row : kFaultTable) {
    if (row.site != nullptr) sites.insert(row.site);
  }
  EXPECT_EQ(lines_of_site.size(), sites.size()) << "a site gave no report";
}

}  // namespace
}  // namespace inferlet_test
