// Deleting a handle as a host sees it on any device: its line, then the two close lines. On the
// emulated device also the order of the releases (the device buffers freed profile by profile) and that
// nothing of the device or of TensorRT is left afterwards.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <cstdint>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "engine_infer.h"
#include "engine_peer.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::ElementsAre;

class Teardown : public FreshPlatformTest {};

TEST_F(Teardown, DeletePrintsItsLineThenTheTwoCloseLines) {
  const auto outcome = CallNew(ReadEngine("smoke"), SmokeConfig());
  ASSERT_EQ(outcome.rc, 0);
  int rc = -2;
  const auto lines = CapturedLines([&] { rc = kestrel_trt_delete(outcome.handle); });
  EXPECT_EQ(rc, 0);
  const long long address = static_cast<long long>(reinterpret_cast<intptr_t>(outcome.handle));
  EXPECT_THAT(lines, ElementsAre("kestrel_trt_delete " + std::to_string(address),
                                 "[inferlet][I] closedestory...", "[inferlet][I] closedestroy ok"));
}

class TeardownOnEmulator : public FreshPlatformTest {};

// Two profiles of (in0, in1, out0): the six frees follow the allocation order, which is profile by
// profile, inputs before outputs. The stream is waited for and goes first; the execution context (whose
// staging memory TensorRT releases with cudaFreeHost) goes only after the device buffers.
INFERLET_EMULATOR_TEST_F(TeardownOnEmulator, FreesSixBuffersProfileByProfileBetweenStreamAndContext) {
  const auto outcome = CallNew(ReadEngine("two_profiles"), TwoProfilesConfig());
  ASSERT_EQ(outcome.rc, 0);
  const std::vector<uintptr_t> allocated = AllocatedPointers();
  ASSERT_EQ(allocated.size(), 6u);
  cudaemu_trace_clear();
  DeleteHandle(outcome.handle);

  EXPECT_EQ(FreedPointers(), allocated);
  std::vector<std::string> releases;
  cudaemu_trace_entry entry;
  for (size_t i = 0; cudaemu_trace_get(i, &entry); ++i) {
    const std::string api = entry.api;
    if (api == "cudaStreamSynchronize" || api == "cudaStreamDestroy" || api == "cudaFree" ||
        api == "cudaFreeHost")
      releases.push_back(api);
  }
  EXPECT_THAT(releases, ElementsAre("cudaStreamSynchronize", "cudaStreamDestroy", "cudaFree", "cudaFree",
                                    "cudaFree", "cudaFree", "cudaFree", "cudaFree", "cudaFreeHost"));
}

INFERLET_EMULATOR_TEST_F(TeardownOnEmulator, NothingOfTheDeviceOrTensorRtOutlivesTheHandle) {
  const auto outcome = CallNew(ReadEngine("two_profiles"), TwoProfilesConfig());
  ASSERT_EQ(outcome.rc, 0);
  EXPECT_EQ(trt_standin_count("live_engines"), 1);
  EXPECT_EQ(trt_standin_count("live_contexts"), 1);
  DeleteHandle(outcome.handle);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_bytes(), 0u);
  EXPECT_EQ(cudaemu_live_streams(), 0u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
  EXPECT_EQ(trt_standin_count("live_contexts"), 0);
  EXPECT_EQ(trt_standin_count("live_runtimes"), 0);
  // Where the handle holds the runtime (TensorRT 10 on), it goes after the engine.
  EXPECT_EQ(trt_standin_count("runtimes_released_before_engines"), 0);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

// A call refused after its profile switch leaves the switch's stream work queued (TensorRT 10 on, where
// the switch is stream work): teardown waits for the handle's stream before the stream and the context
// go, also where destroying a stream does not wait (the device's strict ordering).
INFERLET_EMULATOR_TEST_F(TeardownOnEmulator, WaitsForWhatARefusedCallLeftQueued) {
  cudaemu_set_strict(1);
  const ModelConfig config = TwoProfilesConfig();
  const auto outcome = CallNew(ReadEngine("two_profiles"), config);
  ASSERT_EQ(outcome.rc, 0);
  const uintptr_t stream = reinterpret_cast<uintptr_t>(trt_engine_core_peer::Stream(*outcome.handle));
  trt_standin_fail(kSetDimensionsCall, 1);
  CallResult refused;
  CapturedLines([&] { refused = Call(outcome.handle, config, /*profile=*/1, /*batch_size=*/2, 1); });
  ASSERT_EQ(refused.code, -1);
  EXPECT_GT(cudaemu_pending_work(), 0u);

  cudaemu_trace_clear();
  DeleteHandle(outcome.handle);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  const std::vector<cudaemu_trace_entry> synced = TraceOf("cudaStreamSynchronize");
  ASSERT_EQ(synced.size(), 1u);
  EXPECT_EQ(synced[0].args[0], stream);
  EXPECT_EQ(synced[0].result, cudaSuccess);
  EXPECT_THAT(TraceNames({"cudaStreamSynchronize", "cudaStreamDestroy"}),
              ElementsAre("cudaStreamSynchronize", "cudaStreamDestroy"));
  EXPECT_EQ(trt_standin_count("unsynchronized_profile_switches"), 0);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 0);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

// With CUDA graphs on, an inference call leaves an executable graph on the handle; teardown releases it.
INFERLET_EMULATOR_TEST_F(TeardownOnEmulator, ReleasesTheLastExecutableGraph) {
  const auto outcome = CallNew(ReadEngine("smoke"), SmokeConfig(), 0, true);
  ASSERT_EQ(outcome.rc, 0);
  const std::vector<float> input(10 * 340, 1.0f);
  const void* inputs[] = {input.data(), input.data()};
  void* outputs[1] = {nullptr};
  int output_lens[1] = {0};
  int rc = -2;
  CapturedLines([&] { rc = kestrel_trt_process(outcome.handle, 0, inputs, 2, 10, outputs, output_lens); });
  ASSERT_EQ(rc, 0);
  ASSERT_NE(trt_engine_core_peer::GraphExec(*outcome.handle), nullptr);
  EXPECT_EQ(cudaemu_live_graph_execs(), 1u);
  DeleteHandle(outcome.handle);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

}  // namespace
}  // namespace inferlet_test
