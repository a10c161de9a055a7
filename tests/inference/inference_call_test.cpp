// One inference call end to end on the plain path: returned values, the output lengths of a partial
// batch and where the outputs live. The CUDA work of each call is checked on the emulated device.
#include "engine_peer.h"
#include "inference_fixture.h"
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

}  // namespace
}  // namespace inferlet_test
