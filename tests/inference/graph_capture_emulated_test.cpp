// Inference with CUDA graphs on the emulated device: the extra run and synchronization of every call,
// no growth of graphs over many calls, and recovery from a failed enqueue at each point.
#include <trt_standin.h>

#include <algorithm>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

using Peer = trt_engine_core_peer;

class GraphCaptureTest : public InferenceTest {
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

TEST_F(GraphCaptureTest, EveryCallRunsTheNetworkOnceMoreAndSynchronizesFourTimes) {
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

TEST_F(GraphCaptureTest, ManyCallsKeepOneExecutableGraphAndNoCapturedOne) {
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

TEST_F(GraphCaptureTest, FailedEnqueueBeforeCaptureStartsNoCapture) {
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

TEST_F(GraphCaptureTest, FailedEnqueueInsideCaptureEndsAndDiscardsTheCapture) {
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

TEST_F(GraphCaptureTest, FailedEnqueueAfterCaptureLeavesTheHandleUsable) {
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

TEST_F(GraphCaptureTest, FailedEnqueueOnThePlainPathLeavesTheHandleUsable) {
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
