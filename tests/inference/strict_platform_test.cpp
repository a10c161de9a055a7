// Where the real TensorRT and CUDA runtime are strict, the library must not pass a refusal off as a
// result: dimensions the engine's profile refuses, resolved dimensions TensorRT cannot give, a call
// from a thread on another device, and graph releases that fail (which change no result). Seen on the
// emulated device: its counts tell that a refused call did no work, and it has a second device.
#include <trt_standin.h>

#include <algorithm>
#include <iterator>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

using Peer = trt_engine_core_peer;

// The smoke engine's profile allows batch 1..10; this configuration allows 16.
ModelConfig SmokeConfiguredForSixteen() {
  ModelConfig config = SmokeConfig();
  config.in_shapes[0] = {{16, 340}, {16, 340}};
  config.out_shapes[0] = {{16, 338}};
  return config;
}

// The static_batch engine: in0 [4, 8] -> relu -> out0 [4, 8], every extent fixed.
ModelConfig StaticBatchConfig() { return ModelConfig{{{{4, 8}}}, {{4}}, {{{4, 8}}}, {{4}}}; }

std::vector<std::string> Lines(std::initializer_list<std::string> lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines) out.push_back("[inferlet][E] " + line);
  return out;
}

// What the platform saw since a point of the case: a refused call adds nothing to it.
struct Work {
  uint64_t copies = cudaemu_call_count("cudaMemcpyAsync");
  uint64_t captures = cudaemu_call_count("cudaStreamBeginCapture");
  long enqueues = trt_standin_count(kEnqueueCall);
  long runs = trt_standin_count("network_runs");
  bool operator==(const Work& o) const {
    return copies == o.copies && captures == o.captures && enqueues == o.enqueues && runs == o.runs;
  }
};
inline std::ostream& operator<<(std::ostream& out, const Work& w) {
  return out << "copies " << w.copies << ", captures " << w.captures << ", enqueues " << w.enqueues
             << ", runs " << w.runs;
}

void ExpectNothingHandedBack(const CallOutcome& call) {
  EXPECT_EQ(call.outputs[0], nullptr);
  EXPECT_EQ(call.lens[0], -1);
}

class ProfileDimensionsOnEmulator : public InferenceTest, public ::testing::WithParamInterface<bool> {};

// The reported bug: batch 10 and then 12 with a configuration for 16 on an engine for 10 returned 0
// with rows 11 and 12 left at zero, because TensorRT kept the previous call's dimensions.
INFERLET_EMULATOR_TEST_P(ProfileDimensionsOnEmulator,
                         BatchTheProfileRefusesAfterOneItAcceptsAnswersMinusOne) {
  Handle handle = Open("smoke", SmokeConfiguredForSixteen(), GetParam());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(16 * 340, 1);
  const Tensor in1 = Pattern(16 * 340, 2);
  const CallOutcome ten = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(ten.code, 0);
  EXPECT_TRUE(ten.lines.empty()) << ten.lines.front();
  EXPECT_TRUE(Matches(ten.Output(0), SmokeReference(in0, in1, 10)));

  const Work before;
  const CallOutcome twelve = Process(handle.get(), 0, {in0, in1}, 12);
  EXPECT_EQ(twelve.code, -1);
  EXPECT_EQ(twelve.lines,
            Lines({OutsideProfileLine(0, "in0", 0, "[12, 340]", "[1, 340]", "[10, 340]"),
                   "input 0 dimensions [12, 340] are not accepted by profile 0 of the engine"}));
  ExpectNothingHandedBack(twelve);
  EXPECT_EQ(Work(), before) << "a refused call copied, captured or enqueued";

  // The handle serves the next calls the profile accepts, with their own dimensions.
  for (int batch : {3, 10}) {
    const CallOutcome next = Process(handle.get(), 0, {in0, in1}, batch);
    ASSERT_EQ(next.code, 0) << batch;
    EXPECT_TRUE(next.lines.empty()) << next.lines.front();
    EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, batch))) << batch;
  }
}

INFERLET_EMULATOR_TEST_P(ProfileDimensionsOnEmulator, FirstCallBeyondTheProfileIsRefusedTheSameWay) {
  Handle handle = Open("smoke", SmokeConfiguredForSixteen(), GetParam());
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(16 * 340, 3);
  const Work before;
  const CallOutcome refused = Process(handle.get(), 0, {in, in}, 16);
  EXPECT_EQ(refused.code, -1);
  EXPECT_EQ(refused.lines,
            Lines({OutsideProfileLine(0, "in0", 0, "[16, 340]", "[1, 340]", "[10, 340]"),
                   "input 0 dimensions [16, 340] are not accepted by profile 0 of the engine"}));
  ExpectNothingHandedBack(refused);
  EXPECT_EQ(Work(), before);
  EXPECT_EQ(Process(handle.get(), 0, {in, in}, 1).code, 0);
}

INFERLET_EMULATOR_TEST_P(ProfileDimensionsOnEmulator, SecondProfileNamesItsOwnProfileAndBinding) {
  ModelConfig config = TwoProfilesConfig();
  for (auto& shape : config.in_shapes[1]) shape[0] = 20;
  config.out_shapes[1][0][0] = 20;
  Handle handle = Open("two_profiles", config, GetParam());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(20 * kTwoProfilesSample, 4);
  const Tensor in1 = Pattern(20 * kTwoProfilesSample, 5);
  const Work before;
  const CallOutcome refused = Process(handle.get(), 1, {in0, in1}, 17);
  EXPECT_EQ(refused.code, -1);
  EXPECT_EQ(refused.lines,
            Lines({OutsideProfileLine(3, "in0", 1, "[17, 4, 8]", "[1, 4, 8]", "[16, 4, 8]"),
                   "input 0 dimensions [17, 4, 8] are not accepted by profile 1 of the engine"}));
  EXPECT_EQ(Work(), before);
  for (int profile : {1, 0}) {
    const CallOutcome next = Process(handle.get(), profile, {in0, in1}, 4);
    ASSERT_EQ(next.code, 0) << profile;
    EXPECT_TRUE(Matches(next.Output(0), TwoProfilesReference(in0, in1, 4))) << profile;
  }
}

// An engine whose inputs are all static: TensorRT has their dimensions before any are set, and
// accepts only those, so the one batch it was built for runs and any other is refused.
INFERLET_EMULATOR_TEST_P(ProfileDimensionsOnEmulator, StaticEngineRunsItsOwnBatchOnly) {
  Handle handle = Open("static_batch", StaticBatchConfig(), GetParam());
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(4 * 8, 6);
  const CallOutcome four = Process(handle.get(), 0, {in}, 4);
  ASSERT_EQ(four.code, 0);
  EXPECT_TRUE(four.lines.empty()) << four.lines.front();
  EXPECT_TRUE(Matches(four.Output(0), ReluReference(in, 32)));

  const Work before;
  const CallOutcome two = Process(handle.get(), 0, {in}, 2);
  EXPECT_EQ(two.code, -1);
  EXPECT_EQ(two.lines, Lines({OutsideProfileLine(0, "in0", 0, "[2, 8]", "[4, 8]", "[4, 8]"),
                              "input 0 dimensions [2, 8] are not accepted by profile 0 of the engine"}));
  EXPECT_EQ(Work(), before);
  EXPECT_EQ(Process(handle.get(), 0, {in}, 4).code, 0);
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(PlainAndGraph, ProfileDimensionsOnEmulator, ::testing::Bool(),
                                           [](const ::testing::TestParamInfo<bool>& info) {
                                             return info.param ? "Graph" : "Plain";
                                           });

class RefusedQueryOnEmulator : public InferenceTest {};

// TensorRT answers an invalid Dims (nbDims -1) where it cannot resolve a binding: that fits no buffer.
INFERLET_EMULATOR_TEST_F(RefusedQueryOnEmulator, InvalidResolvedDimensionsFitNoBuffer) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 7);
  for (int binding : {0, 2}) {
    SCOPED_TRACE("binding " + std::to_string(binding));
    trt_standin_fail(kResolvedDimensionsCall, binding + 1);  // the fit check asks bindings 0, 1, 2 in order
    const Work before;
    const CallOutcome refused = Process(handle.get(), 0, {in, in}, 10);
    EXPECT_EQ(refused.code, -1);
    EXPECT_EQ(refused.lines, Lines({binding == 0 ? "binding 0 has no valid dimensions (nbDims -1)"
                                                 : "binding 2 has no valid dimensions (nbDims -1)"}));
    ExpectNothingHandedBack(refused);
    EXPECT_EQ(Work(), before);
  }
  const CallOutcome next = Process(handle.get(), 0, {in, in}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in, in, 10)));
}

// The setBindingDimensions refusal the library now acts on, whatever its cause; the line that
// follows a missing dimension without a refusal stays reachable.
INFERLET_EMULATOR_TEST_F(RefusedQueryOnEmulator, AnyDimensionRefusalStopsTheCall) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 8);
  ASSERT_EQ(Process(handle.get(), 0, {in, in}, 5).code, 0);
  trt_standin_fail(kSetDimensionsCall, 2);  // input 1
  const Work before;
  const CallOutcome refused = Process(handle.get(), 0, {in, in}, 7);
  EXPECT_EQ(refused.code, -1);
  EXPECT_EQ(refused.lines,
            Lines({InjectedDimensionsFailureLine(1, "in1"),
                   "input 1 dimensions [7, 340] are not accepted by profile 0 of the engine"}));
  EXPECT_EQ(Work(), before);
  const CallOutcome next = Process(handle.get(), 0, {in, in}, 7);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in, in, 7)));
}

// A profile switch TensorRT 10 and 11 refuse stops the call before anything is copied or run.
INFERLET_EMULATOR_TEST_F(RefusedQueryOnEmulator, RefusedProfileSwitchStopsTheCall) {
  if (!kNamedTensors) GTEST_SKIP() << "TensorRT 7 and 8 take the profile without a result";
  Handle handle = Open("two_profiles", TwoProfilesConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(16 * kTwoProfilesSample, 14);
  const Tensor in1 = Pattern(16 * kTwoProfilesSample, 15);
  ASSERT_EQ(Process(handle.get(), 0, {in0, in1}, 4).code, 0);
  trt_standin_fail(kSelectProfileCall, 1);
  const Work before;
  const CallOutcome refused = Process(handle.get(), 1, {in0, in1}, 16);
  EXPECT_EQ(refused.code, -1);
  EXPECT_EQ(refused.lines, Lines({std::string(kSelectProfileCall) + ": injected failure",
                                  "profile 1 is not accepted by the engine"}));
  ExpectNothingHandedBack(refused);
  EXPECT_EQ(Work(), before);
  for (int profile : {1, 0}) {
    const CallOutcome next = Process(handle.get(), profile, {in0, in1}, 4);
    ASSERT_EQ(next.code, 0) << profile;
    EXPECT_TRUE(Matches(next.Output(0), TwoProfilesReference(in0, in1, 4))) << profile;
  }
}

// A device address TensorRT 10 and 11 refuse for a tensor stops the call, naming its binding.
INFERLET_EMULATOR_TEST_F(RefusedQueryOnEmulator, RefusedTensorAddressStopsTheCall) {
  if (!kNamedTensors) GTEST_SKIP() << "TensorRT 7 and 8 take the addresses with the enqueue";
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 16);
  for (int binding : {0, 2}) {
    SCOPED_TRACE("binding " + std::to_string(binding));
    trt_standin_fail("setTensorAddress", binding + 1);  // the tensors of the block, in order
    const Work before;
    const CallOutcome refused = Process(handle.get(), 0, {in, in}, 10);
    EXPECT_EQ(refused.code, -1);
    EXPECT_EQ(refused.lines,
              Lines({std::string("setTensorAddress: tensor '") + (binding == 0 ? "in0" : "out0") +
                         "': injected failure",
                     "binding " + std::to_string(binding) + " address is not accepted by the engine"}));
    ExpectNothingHandedBack(refused);
    EXPECT_EQ(Work(), before);
  }
  const CallOutcome next = Process(handle.get(), 0, {in, in}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in, in, 10)));
}

// The library does not select the device per call: a call from a thread whose current device is not
// the handle's is refused by TensorRT, and the library answers -1 without outputs.
class OtherDeviceOnEmulator : public InferenceTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    InferenceTest::SetUp();
    cudaemu_set_device_count(2);
  }
};

INFERLET_EMULATOR_TEST_P(OtherDeviceOnEmulator, CallFromAnotherCurrentDeviceIsRefused) {
  const bool graph = GetParam();
  Handle handle = Open("smoke", SmokeConfig(), graph);
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 9);
  const Tensor in1 = Pattern(10 * 340, 10);
  ASSERT_EQ(Process(handle.get(), 0, {in0, in1}, 4).code, 0);

  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  cudaemu_trace_clear();
  const long runs = trt_standin_count("network_runs");
  const CallOutcome refused = Process(handle.get(), 0, {in0, in1}, 10);
  EXPECT_EQ(refused.code, -1);
  EXPECT_EQ(refused.lines, Lines({std::string(kEnqueueCall) +
                                      ": the execution context was created on device 0, but the calling "
                                      "thread's current device is 1",
                                  "Enqueue failed"}));
  ExpectNothingHandedBack(refused);
  EXPECT_EQ(trt_standin_count("network_runs"), runs);
  const std::vector<std::string> sequence = LibraryCallSequence(Peer::NetInfos(*handle)[0]);
  EXPECT_EQ(std::count(sequence.begin(), sequence.end(), "D2H"), 0) << "an output was copied back";
  if (graph) {
    // The graph path refuses at its first enqueue, before capturing and before any copy.
    EXPECT_TRUE(sequence.empty()) << sequence.front();
  } else {
    // The inputs are uploaded first (copies may target another device's stream), then the
    // enqueue is refused.
    EXPECT_EQ(sequence, (std::vector<std::string>{"H2D", "H2D", "sync"}));
  }

  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(next.lines.empty()) << next.lines.front();
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 10)));
}

// A call that moves the handle to another profile from a thread on another device: TensorRT 10 and 11
// refuse the profile switch itself, before anything is copied; TensorRT 7 and 8 take the profile and
// refuse the enqueue, as on the profile the handle already runs.
INFERLET_EMULATOR_TEST_P(OtherDeviceOnEmulator, CallSwitchingTheProfileFromAnotherDeviceIsRefused) {
  const bool graph = GetParam();
  Handle handle = Open("two_profiles", TwoProfilesConfig(), graph);
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(16 * kTwoProfilesSample, 17);
  const Tensor in1 = Pattern(16 * kTwoProfilesSample, 18);
  ASSERT_EQ(Process(handle.get(), 0, {in0, in1}, 4).code, 0);

  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  cudaemu_trace_clear();
  const long runs = trt_standin_count("network_runs");
  const CallOutcome refused = Process(handle.get(), 1, {in0, in1}, 16);
  EXPECT_EQ(refused.code, -1);
  const std::string device_text =
      ": the execution context was created on device 0, but the calling thread's current device is 1";
  const std::vector<std::string> sequence = LibraryCallSequence(Peer::NetInfos(*handle)[1]);
  if (kNamedTensors) {
    EXPECT_EQ(refused.lines, Lines({std::string(kSelectProfileCall) + device_text,
                                    "profile 1 is not accepted by the engine"}));
    EXPECT_TRUE(sequence.empty()) << sequence.front();
  } else {
    EXPECT_EQ(refused.lines, Lines({std::string(kEnqueueCall) + device_text, "Enqueue failed"}));
    const std::vector<std::string> uploaded{"H2D", "H2D", "sync"};  // the graph path copies nothing first
    EXPECT_EQ(sequence, graph ? std::vector<std::string>() : uploaded);
  }
  ExpectNothingHandedBack(refused);
  EXPECT_EQ(trt_standin_count("network_runs"), runs);

  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  const CallOutcome next = Process(handle.get(), 1, {in0, in1}, 16);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(next.lines.empty()) << next.lines.front();
  EXPECT_TRUE(Matches(next.Output(0), TwoProfilesReference(in0, in1, 16)));
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(PlainAndGraph, OtherDeviceOnEmulator, ::testing::Bool(),
                                           [](const ::testing::TestParamInfo<bool>& info) {
                                             return info.param ? "Graph" : "Plain";
                                           });

// Releasing graphs changes no result: a failing cudaGraphDestroy or cudaGraphExecDestroy is reported
// with the CUDA report line and the call or teardown goes on.
class GraphReleaseOnEmulator : public InferenceTest {
 protected:
  static void ExpectReport(const std::string& line) {
    const std::string expected =
        std::string("[inferlet][E] GPUassert: ") + cudaGetErrorString(cudaErrorInvalidResourceHandle) + " ";
    EXPECT_EQ(line.compare(0, expected.size(), expected), 0) << line;
    EXPECT_NE(line.find("src/engine_infer.cpp "), std::string::npos) << line;
  }
};

INFERLET_EMULATOR_TEST_F(GraphReleaseOnEmulator, FailedReleasesDuringCallsChangeNoResult) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 11);
  const Tensor in1 = Pattern(10 * 340, 12);

  // The captured graph of the first call.
  cudaemu_trace_clear();
  ASSERT_EQ(cudaemu_fail_call("cudaGraphDestroy", 1, cudaErrorInvalidResourceHandle), 0);
  const CallOutcome first = Process(handle.get(), 0, {in0, in1}, 10);
  EXPECT_EQ(first.code, 0);
  ASSERT_EQ(first.lines.size(), 1u);
  ExpectReport(first.lines[0]);
  EXPECT_TRUE(Matches(first.Output(0), SmokeReference(in0, in1, 10)));
  const std::vector<cudaemu_trace_entry> destroys = TraceOf("cudaGraphDestroy");
  ASSERT_EQ(destroys.size(), 1u);

  // The executable graph the second call replaces.
  cudaGraphExec_t replaced = Peer::GraphExec(*handle);
  ASSERT_NE(replaced, nullptr);
  ASSERT_EQ(cudaemu_fail_call("cudaGraphExecDestroy", 1, cudaErrorInvalidResourceHandle), 0);
  const CallOutcome second = Process(handle.get(), 0, {in1, in0}, 7);
  EXPECT_EQ(second.code, 0);
  ASSERT_EQ(second.lines.size(), 1u);
  ExpectReport(second.lines[0]);
  EXPECT_TRUE(Matches(second.Output(0), SmokeReference(in1, in0, 7)));
  EXPECT_NE(Peer::GraphExec(*handle), replaced);

  const CallOutcome third = Process(handle.get(), 0, {in0, in1}, 3);
  EXPECT_EQ(third.code, 0);
  EXPECT_TRUE(third.lines.empty()) << third.lines.front();
  handle.reset();
  // What the failed releases left behind, released here so that the case ends clean.
  EXPECT_EQ(cudaGraphDestroy(reinterpret_cast<cudaGraph_t>(destroys[0].args[0])), cudaSuccess);
  EXPECT_EQ(cudaGraphExecDestroy(replaced), cudaSuccess);
}

INFERLET_EMULATOR_TEST_F(GraphReleaseOnEmulator, FailedReleaseOfTheLastExecutableGraphFinishesTeardown) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 13);
  ASSERT_EQ(Process(handle.get(), 0, {in, in}, 10).code, 0);
  cudaGraphExec_t last = Peer::GraphExec(*handle);
  ASSERT_NE(last, nullptr);

  ASSERT_EQ(cudaemu_fail_call("cudaGraphExecDestroy", 1, cudaErrorInvalidResourceHandle), 0);
  StdoutCapture capture;
  const int code = kestrel_trt_delete(handle.release());
  const std::vector<std::string> lines = SplitLines(capture.Stop());
  EXPECT_EQ(code, 0);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "[inferlet][I] closedestory...");
  ExpectReport(lines[2]);
  EXPECT_EQ(lines[3], "[inferlet][I] closedestroy ok");
  EXPECT_EQ(cudaemu_live_allocations(), 0u) << "teardown stopped at the failed release";
  EXPECT_EQ(cudaemu_live_streams(), 0u);
  EXPECT_EQ(trt_standin_count("live_contexts"), 0);
  EXPECT_EQ(cudaGraphExecDestroy(last), cudaSuccess);
}

}  // namespace
}  // namespace inferlet_test
