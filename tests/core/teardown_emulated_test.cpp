// Deleting a handle on the emulated device: the device buffers freed profile by profile, and nothing of
// the device or of TensorRT left afterwards.
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

// Two profiles of (in0, in1, out0): the six frees follow the allocation order, which is profile by
// profile, inputs before outputs. The stream goes first; the execution context (whose staging memory
// TensorRT releases with cudaFreeHost) goes only after the device buffers.
TEST_F(Teardown, FreesSixBuffersProfileByProfileBetweenStreamAndContext) {
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
    if (api == "cudaStreamDestroy" || api == "cudaFree" || api == "cudaFreeHost") releases.push_back(api);
  }
  EXPECT_THAT(releases, ElementsAre("cudaStreamDestroy", "cudaFree", "cudaFree", "cudaFree", "cudaFree",
                                    "cudaFree", "cudaFree", "cudaFreeHost"));
}

TEST_F(Teardown, NothingOfTheDeviceOrTensorRtOutlivesTheHandle) {
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

// With CUDA graphs on, an inference call leaves an executable graph on the handle; teardown releases it.
TEST_F(Teardown, ReleasesTheLastExecutableGraph) {
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
