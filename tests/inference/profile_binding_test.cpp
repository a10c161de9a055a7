// Selecting a profile: which device buffers reach TensorRT under which binding index, and the
// dimensions each input is given. On the emulated device also that the bindings are the buffers
// construction allocated, and what preparing a call does on the device with and without CUDA graphs.
#include <trt_standin.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"

namespace inferlet_test {
namespace {

using Peer = trt_engine_core_peer;

// What TensorRT received with the latest successful enqueue, in the binding numbering (EnqueuedView).
std::vector<void*> EnqueuedBindings() {
  std::array<void*, 16> seen{};
  const int count = trt_standin_last_bindings(seen.data(), static_cast<int>(seen.size()));
  return std::vector<void*>(seen.begin(), seen.begin() + count);
}

std::vector<void*> ProfileBlock(const S_net_info& rec) {
  std::vector<void*> block = rec.input_bufs;
  block.insert(block.end(), rec.output_bufs.begin(), rec.output_bufs.end());
  return block;
}

struct DimsSeen {
  int nb_dims = 0;
  std::vector<int> extents;
};

// The dimensions TensorRT last received for a binding; nb_dims -1 when it never got any.
DimsSeen LastDims(int binding) {
  std::array<int, 8> d{};
  DimsSeen seen;
  if (trt_standin_last_dims(binding, &seen.nb_dims, d.data()) != 0) return {-1, {}};
  seen.extents.assign(d.begin(), d.begin() + seen.nb_dims);
  return seen;
}

class ProfileBindingTest : public InferenceTest {};

TEST_F(ProfileBindingTest, EachProfileFillsOnlyItsOwnBlock) {
  Handle handle = Open("two_profiles", TwoProfilesConfig());
  ASSERT_TRUE(handle);
  const std::vector<S_net_info>& recs = Peer::NetInfos(*handle);
  const std::vector<void*> block0 = ProfileBlock(recs[0]);
  const std::vector<void*> block1 = ProfileBlock(recs[1]);
  for (void* buf : block0) EXPECT_EQ(std::count(block1.begin(), block1.end(), buf), 0) << "buffer shared";

  // Profile 1 first: its block starts at index 3, profile 0's block stays empty.
  ASSERT_EQ(Process(handle.get(), 1, {Pattern(16 * 32, 1), Pattern(16 * 32, 2)}, 16).code, 0);
  std::vector<void*> expected{nullptr, nullptr, nullptr, block1[0], block1[1], block1[2]};
  EXPECT_EQ(Peer::Bindings(*handle), expected);
  EXPECT_EQ(EnqueuedBindings(), EnqueuedView(expected, 1, 3));

  // Then profile 0: its block is filled, profile 1's keeps what the earlier call wrote.
  ASSERT_EQ(Process(handle.get(), 0, {Pattern(4 * 32, 3), Pattern(4 * 32, 4)}, 4).code, 0);
  expected = {block0[0], block0[1], block0[2], block1[0], block1[1], block1[2]};
  EXPECT_EQ(Peer::Bindings(*handle), expected);
  EXPECT_EQ(EnqueuedBindings(), EnqueuedView(expected, 0, 3));

  // Selecting a profile again writes the same pointers.
  ASSERT_EQ(Process(handle.get(), 1, {Pattern(5 * 32, 5), Pattern(5 * 32, 6)}, 5).code, 0);
  EXPECT_EQ(Peer::Bindings(*handle), expected);
}

TEST_F(ProfileBindingTest, InputsOfDifferentRankGetTheBatchSizeInFront) {
  Handle handle = Open("mixed_rank", MixedRankConfig());
  ASSERT_TRUE(handle);
  for (int batch : {3, 8, 1}) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    ASSERT_EQ(Process(handle.get(), 0, {Pattern(8 * 8, 1), Pattern(8 * 32, 2)}, batch).code, 0);
    const DimsSeen in0 = LastDims(0);
    const DimsSeen in1 = LastDims(1);
    EXPECT_EQ(in0.nb_dims, 2);
    EXPECT_EQ(in0.extents, (std::vector<int>{batch, 8}));
    EXPECT_EQ(in1.nb_dims, 3);
    EXPECT_EQ(in1.extents, (std::vector<int>{batch, 4, 8}));
  }
  // Outputs never get dimensions of their own.
  EXPECT_EQ(LastDims(2).nb_dims, -1);
  EXPECT_EQ(LastDims(3).nb_dims, -1);
}

TEST_F(ProfileBindingTest, SecondProfileDimensionsGoToItsOwnBindingIndices) {
  Handle handle = Open("two_profiles", TwoProfilesConfig());
  ASSERT_TRUE(handle);
  // Construction may already have given profile 0 dimensions (10 and 11 ask whether an output's size
  // depends on values); the call on profile 1 must leave them as they were.
  const DimsSeen in0_before = LastDims(0);
  const DimsSeen in1_before = LastDims(1);
  ASSERT_EQ(Process(handle.get(), 1, {Pattern(7 * 32, 1), Pattern(7 * 32, 2)}, 7).code, 0);
  for (int binding : {3, 4}) {
    const DimsSeen dims = LastDims(binding);
    EXPECT_EQ(dims.nb_dims, 3) << "binding " << binding;
    EXPECT_EQ(dims.extents, (std::vector<int>{7, 4, 8})) << "binding " << binding;
  }
  EXPECT_EQ(LastDims(0).nb_dims, in0_before.nb_dims);
  EXPECT_EQ(LastDims(0).extents, in0_before.extents);
  EXPECT_EQ(LastDims(1).nb_dims, in1_before.nb_dims);
  EXPECT_EQ(LastDims(1).extents, in1_before.extents);
  EXPECT_EQ(trt_standin_count(kSelectProfileCall), 1);
}

class ProfileBindingOnEmulator : public InferenceTest {};

INFERLET_EMULATOR_TEST_F(ProfileBindingOnEmulator, OneProfileBindsInputsThenOutputFromIndexZero) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 1);
  ASSERT_EQ(Process(handle.get(), 0, {in, in}, 10).code, 0);

  const S_net_info& rec = Peer::NetInfos(*handle)[0];
  const std::vector<void*> expected{rec.input_bufs[0], rec.input_bufs[1], rec.output_bufs[0]};
  for (void* buf : expected) EXPECT_NE(buf, nullptr);
  EXPECT_NE(expected[0], expected[1]);
  EXPECT_EQ(Peer::Bindings(*handle), expected);
  EXPECT_EQ(EnqueuedBindings(), expected);

  // They are the device buffers construction allocated, at the configured sizes.
  std::vector<std::pair<uintptr_t, uintptr_t>> allocated;
  for (const cudaemu_trace_entry& entry : TraceOf("cudaMalloc"))
    allocated.emplace_back(entry.args[0], entry.args[1]);
  const std::vector<uintptr_t> sizes{10 * 340 * 4, 10 * 340 * 4, 10 * 338 * 4};
  for (size_t k = 0; k < expected.size(); ++k) {
    const std::pair<uintptr_t, uintptr_t> buffer{reinterpret_cast<uintptr_t>(expected[k]), sizes[k]};
    EXPECT_EQ(std::count(allocated.begin(), allocated.end(), buffer), 1) << "binding " << k;
  }
}

INFERLET_EMULATOR_TEST_F(ProfileBindingOnEmulator, PrepareWithoutGraphsEnqueuesNothing) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  cudaemu_trace_clear();
  EXPECT_EQ(Peer::Prepare(*handle, 0, 10), 0);
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 0);
  EXPECT_EQ(trt_standin_count("network_runs"), 0);
  EXPECT_EQ(Peer::GraphExec(*handle), nullptr);
  EXPECT_EQ(cudaemu_trace_size(), 0u) << "prepare made CUDA calls without graphs";
}

INFERLET_EMULATOR_TEST_F(ProfileBindingOnEmulator, PrepareWithGraphsRunsOnceAndKeepsOneExecutableGraph) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  EXPECT_EQ(Peer::GraphExec(*handle), nullptr);
  cudaemu_trace_clear();
  ASSERT_EQ(Peer::Prepare(*handle, 0, 10), 0);

  EXPECT_NE(Peer::GraphExec(*handle), nullptr);
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 2);    // one run, one recorded into the capture
  EXPECT_EQ(trt_standin_count("network_runs"), 1);  // only the first executed
  EXPECT_EQ(cudaemu_live_graph_execs(), 1u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u) << "the captured graph outlived its instantiation";

  const std::vector<cudaemu_trace_entry> begins = TraceOf("cudaStreamBeginCapture");
  ASSERT_EQ(begins.size(), 1u);
  EXPECT_EQ(begins[0].args[0], reinterpret_cast<uintptr_t>(Peer::Stream(*handle)));
  EXPECT_EQ(begins[0].args[1], static_cast<uintptr_t>(cudaStreamCaptureModeRelaxed));
  EXPECT_EQ(TraceNames({"cudaStreamBeginCapture", "cudaStreamEndCapture", "cudaStreamSynchronize",
                        "cudaGraphInstantiate"}),
            (std::vector<std::string>{"cudaStreamBeginCapture", "cudaStreamEndCapture",
                                      "cudaStreamSynchronize", "cudaGraphInstantiate"}));
}

}  // namespace
}  // namespace inferlet_test
