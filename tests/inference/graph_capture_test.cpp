// Inference with CUDA graphs on gives the same results as without, on every batch size and profile. On
// the emulated device also the extra run and synchronization of every call, no growth of graphs over
// many calls, and recovery from a failed enqueue at each point.
#include <trt_standin.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

using Peer = trt_engine_core_peer;

class GraphCaptureTest : public InferenceTest {};

TEST_F(GraphCaptureTest, OutputsEqualThoseOfThePlainPath) {
  Handle plain = Open("smoke", SmokeConfig(), false);
  Handle graph = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(plain && graph);
  int seed = 0;
  for (int batch : {10, 3, 3, 1, 10}) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    const Tensor in0 = Pattern(10 * 340, ++seed);
    const Tensor in1 = Pattern(10 * 340, ++seed);
    const CallOutcome a = Process(plain.get(), 0, {in0, in1}, batch);
    const CallOutcome b = Process(graph.get(), 0, {in0, in1}, batch);
    ASSERT_EQ(a.code, 0);
    ASSERT_EQ(b.code, 0);
    EXPECT_TRUE(b.lines.empty()) << b.lines.front();
    EXPECT_EQ(a.lens[0], b.lens[0]);
    EXPECT_EQ(a.OutputBytes(0), b.OutputBytes(0));
    EXPECT_TRUE(Matches(b.Output(0), SmokeReference(in0, in1, batch)));
  }
}

TEST_F(GraphCaptureTest, OutputsEqualThoseOfThePlainPathOnBothProfiles) {
  Handle plain = Open("two_profiles", TwoProfilesConfig(), false);
  Handle graph = Open("two_profiles", TwoProfilesConfig(), true);
  ASSERT_TRUE(plain && graph);
  int seed = 20;
  for (int profile : {1, 0, 1, 0}) {
    const int batch = profile == 0 ? 3 : 11;
    const Tensor in0 = Pattern(16 * 32, ++seed);
    const Tensor in1 = Pattern(16 * 32, ++seed);
    const CallOutcome a = Process(plain.get(), profile, {in0, in1}, batch);
    const CallOutcome b = Process(graph.get(), profile, {in0, in1}, batch);
    ASSERT_EQ(a.code, 0);
    ASSERT_EQ(b.code, 0);
    EXPECT_EQ(a.OutputBytes(0), b.OutputBytes(0)) << "profile " << profile;
    EXPECT_TRUE(Matches(b.Output(0), TwoProfilesReference(in0, in1, batch))) << "profile " << profile;
  }
}

class GraphCaptureOnEmulator : public InferenceTest {
 protected:
  // The library's own line for a failed enqueue must be the call's last line; TensorRT may have
  // reported the refusal before it.
  static void ExpectEnqueueFailed(const CallOutcome& call) {
    EXPECT_EQ(call.code, -1);
    ASSERT_FALSE(call.lines.empty());
    EXPECT_EQ(call.lines.back(), "[inferlet][E] Enqueue failed");
    EXPECT_EQ(std::count(call.lines.begin(), call.lines.end(), "[inferlet][E] Enqueue failed"), 1);
  }
};

INFERLET_EMULATOR_TEST_F(GraphCaptureOnEmulator, EveryCallRunsTheNetworkOnceMoreAndSynchronizesFourTimes) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 30);
  const uint64_t syncs = cudaemu_call_count("cudaStreamSynchronize");
  for (int call = 1; call <= 3; ++call) {
    cudaemu_trace_clear();
    ASSERT_EQ(Process(handle.get(), 0, {in, in}, 10).code, 0);
    EXPECT_EQ(
        LibraryCallSequence(Peer::NetInfos(*handle)[0]),
        (std::vector<std::string>{"cudaStreamBeginCapture", "cudaStreamEndCapture", "sync",
                                  "cudaGraphInstantiate", "H2D", "H2D", "sync", "sync", "D2H", "sync"}));
    EXPECT_EQ(trt_standin_count("network_runs"), 2 * call);
    EXPECT_EQ(trt_standin_count(kEnqueueCall), 3 * call);
    EXPECT_EQ(cudaemu_call_count("cudaStreamSynchronize") - syncs, static_cast<uint64_t>(4 * call));
    EXPECT_EQ(cudaemu_call_count("cudaGraphInstantiate"), static_cast<uint64_t>(call));
  }
  EXPECT_EQ(cudaemu_call_count("cudaGraphLaunch"), 0u)
      << "inference goes through " << kEnqueueCall << " only";
}

INFERLET_EMULATOR_TEST_F(GraphCaptureOnEmulator, ManyCallsKeepOneExecutableGraphAndNoCapturedOne) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const size_t allocations = cudaemu_live_allocations();
  const size_t bytes = cudaemu_live_bytes();
  const Tensor in = Pattern(10 * 340, 31);
  for (int call = 0; call < 200; ++call) {
    const CallOutcome outcome = Process(handle.get(), 0, {in, in}, 1 + call % 10);
    ASSERT_EQ(outcome.code, 0) << "call " << call;
    ASSERT_EQ(cudaemu_live_graph_execs(), 1u) << "call " << call;
    ASSERT_EQ(cudaemu_live_graphs(), 0u) << "call " << call;
  }
  EXPECT_NE(Peer::GraphExec(*handle), nullptr);
  EXPECT_EQ(cudaemu_live_allocations(), allocations);
  EXPECT_EQ(cudaemu_live_bytes(), bytes);
  EXPECT_EQ(cudaemu_call_count("cudaGraphInstantiate"), 200u);
  handle.reset();
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u) << "teardown kept the last executable graph";
}

// TensorRT taking temporary memory inside the captured enqueue (the stand-in's enqueue scratch): the
// Relaxed capture records the freed memory, the instantiation refuses the graph (as the real runtime
// does), and that failed CUDA step ends the process, as any of a call's steps does.
INFERLET_EMULATOR_TEST_F(GraphCaptureOnEmulator, AnAllocationInsideTheCaptureEndsTheProcessAtInstantiation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  trt_standin_set_enqueue_scratch(1);
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 40);
  // The whole call in the child, writing its lines to stderr; exits 0 (3 for a failed call) if it returns.
  const auto call = [&] {
    std::fflush(stdout);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    const void* inputs[] = {in.data(), in.data()};
    void* outputs[1];
    int lens[1];
    std::exit(kestrel_trt_process(handle.get(), 0, inputs, 2, 10, outputs, lens) == 0 ? 0 : 3);
  };
  EXPECT_EXIT(call(), testing::ExitedWithCode(static_cast<int>(cudaErrorInvalidValue)),
              testing::ContainsRegex(
                  "\\[inferlet\\]\\[E\\] GPUassert: invalid argument [^ ]*engine_infer\\.cpp [0-9]+\n$"));
  trt_standin_set_enqueue_scratch(0);
}

INFERLET_EMULATOR_TEST_F(GraphCaptureOnEmulator, FailedEnqueueBeforeCaptureStartsNoCapture) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 32);
  const Tensor in1 = Pattern(10 * 340, 33);
  trt_standin_fail(kEnqueueCall, 1);
  ExpectEnqueueFailed(Process(handle.get(), 0, {in0, in1}, 10));
  EXPECT_EQ(cudaemu_call_count("cudaStreamBeginCapture"), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u);

  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 10)));
}

INFERLET_EMULATOR_TEST_F(GraphCaptureOnEmulator, FailedEnqueueInsideCaptureEndsAndDiscardsTheCapture) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 34);
  const Tensor in1 = Pattern(10 * 340, 35);
  trt_standin_fail(kEnqueueCall, 2);
  ExpectEnqueueFailed(Process(handle.get(), 0, {in0, in1}, 10));
  EXPECT_EQ(cudaemu_call_count("cudaStreamBeginCapture"), 1u);
  EXPECT_EQ(cudaemu_call_count("cudaStreamEndCapture"), 1u) << "the capture was left open";
  EXPECT_EQ(cudaemu_call_count("cudaGraphInstantiate"), 0u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_TRUE(LibraryCopies(Peer::NetInfos(*handle)[0]).empty());

  // The stream is out of capture mode: the next call really runs and synchronizes.
  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(next.lines.empty()) << next.lines.front();
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 10)));
  EXPECT_EQ(cudaemu_live_graph_execs(), 1u);
}

INFERLET_EMULATOR_TEST_F(GraphCaptureOnEmulator, FailedEnqueueAfterCaptureLeavesTheHandleUsable) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 36);
  const Tensor in1 = Pattern(10 * 340, 37);
  trt_standin_fail(kEnqueueCall, 3);
  ExpectEnqueueFailed(Process(handle.get(), 0, {in0, in1}, 10));
  EXPECT_EQ(cudaemu_call_count("cudaGraphInstantiate"), 1u);
  EXPECT_EQ(cudaemu_live_graph_execs(), 1u);

  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 6);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 6)));
  EXPECT_EQ(cudaemu_live_graph_execs(), 1u);
}

INFERLET_EMULATOR_TEST_F(GraphCaptureOnEmulator, FailedEnqueueOnThePlainPathLeavesTheHandleUsable) {
  Handle handle = Open("smoke", SmokeConfig(), false);
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 38);
  const Tensor in1 = Pattern(10 * 340, 39);
  trt_standin_fail(kEnqueueCall, 1);
  const CallOutcome failed = Process(handle.get(), 0, {in0, in1}, 10);
  ExpectEnqueueFailed(failed);
  EXPECT_EQ(failed.lens[0], -1) << "output length written by a failed call";
  EXPECT_EQ(LibraryCopies(Peer::NetInfos(*handle)[0]).size(), 2u) << "only the inputs were copied";

  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 10)));
}

}  // namespace
}  // namespace inferlet_test
