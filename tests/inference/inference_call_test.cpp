// One inference call end to end on the plain path: returned values, the output lengths of a partial
// batch and where the outputs live. On the emulated device also how many bytes move for a partial
// batch, and the CUDA work of each call.
#include <trt_standin.h>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

using Peer = trt_engine_core_peer;

class InferenceCallTest : public InferenceTest {};

TEST_F(InferenceCallTest, FullBatchReturnsTheNetworkOutput) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 1);
  const Tensor in1 = Pattern(10 * 340, 2);
  const CallOutcome call = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(call.code, 0);
  EXPECT_TRUE(call.lines.empty()) << call.lines.front();
  EXPECT_EQ(call.lens[0], 13520);
  EXPECT_EQ(call.lens[1], -1) << "wrote past the profile's one output";
  EXPECT_TRUE(Matches(call.Output(0), SmokeReference(in0, in1, 10)));
}

TEST_F(InferenceCallTest, PartialBatchOfTwoOutputsReportsEachLength) {
  Handle handle = Open("mixed_rank", MixedRankConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(8 * 8, 5);
  const Tensor in1 = Pattern(8 * 32, 6);
  const CallOutcome call = Process(handle.get(), 0, {in0, in1}, 5);
  ASSERT_EQ(call.code, 0);
  EXPECT_EQ(call.lens[0], 5 * 8 * 4);
  EXPECT_EQ(call.lens[1], 5 * 32 * 4);
  EXPECT_EQ(call.lens[2], -1);
  EXPECT_TRUE(Matches(call.Output(0), ReluReference(in0, 5 * 8)));
  EXPECT_TRUE(Matches(call.Output(1), HalfReference(in1, 5 * 32)));
}

TEST_F(InferenceCallTest, OutputAddressIsTheSameOnEveryCallOfAProfile) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor a = Pattern(10 * 340, 7);
  const Tensor b = Pattern(10 * 340, 8);
  const CallOutcome first = Process(handle.get(), 0, {a, a}, 10);
  const CallOutcome second = Process(handle.get(), 0, {b, a}, 4);
  ASSERT_EQ(first.code, 0);
  ASSERT_EQ(second.code, 0);
  EXPECT_EQ(first.outputs[0], second.outputs[0]);
  EXPECT_EQ(second.outputs[0], Peer::NetInfos(*handle)[0].output_host_bufs[0].data());
  // The later call overwrote the buffer with its own result.
  EXPECT_TRUE(Matches(second.Output(0), SmokeReference(b, a, 4)));
}

TEST_F(InferenceCallTest, ProfilesKeepSeparateOutputBuffers) {
  Handle handle = Open("two_profiles", TwoProfilesConfig());
  ASSERT_TRUE(handle);
  const Tensor a0 = Pattern(4 * 32, 9);
  const Tensor a1 = Pattern(4 * 32, 10);
  const CallOutcome on0 = Process(handle.get(), 0, {a0, a1}, 4);
  ASSERT_EQ(on0.code, 0);
  EXPECT_EQ(on0.lens[0], 4 * 32 * 4);
  const std::string bytes0 = on0.OutputBytes(0);

  const Tensor b0 = Pattern(16 * 32, 11);
  const Tensor b1 = Pattern(16 * 32, 12);
  const CallOutcome on1 = Process(handle.get(), 1, {b0, b1}, 16);
  ASSERT_EQ(on1.code, 0);
  EXPECT_EQ(on1.lens[0], 16 * 32 * 4);
  EXPECT_NE(on1.outputs[0], on0.outputs[0]);
  EXPECT_TRUE(Matches(on1.Output(0), TwoProfilesReference(b0, b1, 16)));
  EXPECT_EQ(on0.OutputBytes(0), bytes0) << "a call on profile 1 changed profile 0's output";
  EXPECT_TRUE(Matches(on0.Output(0), TwoProfilesReference(a0, a1, 4)));
}

class InferenceCallOnEmulator : public InferenceTest {};

INFERLET_EMULATOR_TEST_F(InferenceCallOnEmulator, PartialBatchMovesOnlyItsSamples) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const std::vector<Tensor> inputs{Pattern(10 * 340, 3), Pattern(10 * 340, 4)};
  const Tensor& in0 = inputs[0];
  const Tensor& in1 = inputs[1];
  cudaemu_trace_clear();
  const CallOutcome call = Process(handle.get(), 0, inputs, 3);
  ASSERT_EQ(call.code, 0);
  EXPECT_EQ(call.lens[0], 3 * 338 * 4);
  EXPECT_TRUE(Matches(call.Output(0), SmokeReference(in0, in1, 3)));

  const S_net_info& rec = Peer::NetInfos(*handle)[0];
  const std::vector<cudaemu_trace_entry> copies = LibraryCopies(rec);
  ASSERT_EQ(copies.size(), 3u);
  const std::vector<const void*> dst{rec.input_bufs[0], rec.input_bufs[1], rec.output_host_bufs[0].data()};
  const std::vector<const void*> src{in0.data(), in1.data(), rec.output_bufs[0]};
  const std::vector<size_t> bytes{3 * 340 * 4, 3 * 340 * 4, 3 * 338 * 4};
  const std::vector<cudaMemcpyKind> kinds{cudaMemcpyHostToDevice, cudaMemcpyHostToDevice,
                                          cudaMemcpyDeviceToHost};
  for (size_t k = 0; k < copies.size(); ++k) {
    SCOPED_TRACE("copy " + std::to_string(k));
    EXPECT_EQ(copies[k].args[0], reinterpret_cast<uintptr_t>(dst[k]));
    EXPECT_EQ(copies[k].args[1], reinterpret_cast<uintptr_t>(src[k]));
    EXPECT_EQ(copies[k].args[2], bytes[k]);
    EXPECT_EQ(copies[k].args[3], static_cast<uintptr_t>(kinds[k]));
    EXPECT_EQ(copies[k].args[4], reinterpret_cast<uintptr_t>(Peer::Stream(*handle)));
  }
}

INFERLET_EMULATOR_TEST_F(InferenceCallOnEmulator, EachCallSynchronizesThreeTimesAndAllocatesNothing) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const size_t allocations = cudaemu_live_allocations();
  const uint64_t mallocs = cudaemu_call_count("cudaMalloc") + cudaemu_call_count("cudaMallocHost");
  const uint64_t syncs = cudaemu_call_count("cudaStreamSynchronize");
  const Tensor in = Pattern(10 * 340, 13);
  for (int call = 1; call <= 5; ++call) {
    cudaemu_trace_clear();
    ASSERT_EQ(Process(handle.get(), 0, {in, in}, call).code, 0);
    EXPECT_EQ(LibraryCallSequence(Peer::NetInfos(*handle)[0]),
              (std::vector<std::string>{"H2D", "H2D", "sync", "sync", "D2H", "sync"}));
    EXPECT_EQ(cudaemu_call_count("cudaStreamSynchronize") - syncs, static_cast<uint64_t>(3 * call));
    EXPECT_EQ(trt_standin_count("network_runs"), call);
    EXPECT_EQ(trt_standin_count(kEnqueueCall), call);
  }
  EXPECT_EQ(cudaemu_live_allocations(), allocations);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc") + cudaemu_call_count("cudaMallocHost"), mallocs);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
  EXPECT_EQ(Peer::GraphExec(*handle), nullptr);
}

}  // namespace
}  // namespace inferlet_test
