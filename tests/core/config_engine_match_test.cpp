// A configuration that does not describe the engine's binding blocks, or an engine whose configured
// bindings are not dense row-major tensors in device memory, is refused right after the engine's
// description, before an execution context or any device memory exists, so that no later call can
// write past the binding array, a profile's block or a buffer. Seen on the emulated device, whose
// counts tell that nothing was taken.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <algorithm>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "test_support.h"
#include "trt_generation.h"

namespace inferlet_test {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;

struct MismatchCase {
  const char* what;
  const char* engine;
  ModelConfig config;
  const char* numbers;  // the counts the message must name, in order, as a regex
};

std::vector<MismatchCase> MismatchCases() {
  const ModelConfig smoke = SmokeConfig();
  const ModelConfig two = TwoProfilesConfig();
  ModelConfig smoke_twice = smoke;
  smoke_twice.in_shapes.push_back(smoke.in_shapes[0]);
  smoke_twice.in_item_sizes.push_back(smoke.in_item_sizes[0]);
  smoke_twice.out_shapes.push_back(smoke.out_shapes[0]);
  smoke_twice.out_item_sizes.push_back(smoke.out_item_sizes[0]);
  ModelConfig three_profiles = two;
  three_profiles.in_shapes.push_back(two.in_shapes[1]);
  three_profiles.in_item_sizes.push_back(two.in_item_sizes[1]);
  three_profiles.out_shapes.push_back(two.out_shapes[1]);
  three_profiles.out_item_sizes.push_back(two.out_item_sizes[1]);
  ModelConfig profile_one_short = two;
  profile_one_short.in_shapes[1].pop_back();
  profile_one_short.in_item_sizes[1].pop_back();
  return {
      {"two profiles for a one-profile engine", "smoke", smoke_twice, ".*2.*1.*"},
      {"three profiles for a two-profile engine", "two_profiles", three_profiles, ".*3.*2.*"},
      {"one input too few",
       "smoke",
       {{{{10, 340}}}, {{4}}, smoke.out_shapes, smoke.out_item_sizes},
       ".*1.*1.*3.*"},
      {"one output too many",
       "smoke",
       {smoke.in_shapes, smoke.in_item_sizes, {{{10, 338}, {10, 338}}}, {{4, 4}}},
       ".*2.*2.*3.*"},
      {"second profile one input short", "two_profiles", profile_one_short, ".*1.*1.*1.*3.*"},
      {"an engine input configured as an output",
       "smoke",
       {{{{10, 340}}}, {{4}}, {{{10, 340}, {10, 338}}}, {{4, 4}}},
       ".*1.*"},
      {"an engine output configured as an input",
       "mixed_rank",
       {{{{8, 8}, {8, 4, 8}, {8, 8}}}, {{4, 4, 4}}, {{{8, 4, 8}}}, {{4}}},
       ".*2.*"},
  };
}

// Engines whose inputs or outputs the library could only copy wrongly: a vectorized or channel-last
// layout holds its elements in another order (and a vectorized one more of them, padded), and a host
// tensor needs a host address where the library hands device buffers.
struct LayoutCase {
  const char* what;
  const char* engine;
  ModelConfig config;
  const char* refused;  // what the error line says of the binding, before the common end
};

std::vector<LayoutCase> LayoutCases() {
  const ModelConfig chw{{{{2, 3, 2, 2}}}, {{4}}, {{{2, 3, 2, 2}}}, {{4}}};
  const ModelConfig both_profiles{
      {{{2, 3, 2, 2}}, {{4, 3, 2, 2}}}, {{4}, {4}}, {{{2, 3, 2, 2}}, {{4, 3, 2, 2}}}, {{4}, {4}}};
  const ModelConfig host_shape{{{{2, 4}, {1, 2}}}, {{4, 4}}, {{{2, 4}}}, {{4}}};
  return {
      {"a vectorized input", "layout_chw4", chw, "binding 0 (in0) is in format kCHW4"},
      {"a vectorized output", "layout_hwc8_out", chw, "binding 1 (out0) is in format kHWC8"},
      {"a channel-last input", "layout_hwc", chw, "binding 0 (in0) is in format kHWC"},
      {"a vectorized input of the second configured profile", "layout_per_profile", both_profiles,
       "binding 2 (in0 [profile 1]) is in format kCHW32"},
      {"a host shape tensor", "host_shape", host_shape, "binding 1 (shape) is in host memory"},
  };
}

class ConfigEngineMatchOnEmulator : public FreshPlatformTest {
 protected:
  // What a refused construction leaves: after the fixed line, exactly the one error, then the teardown of
  // the half-built object; no context, stream or device memory was ever taken.
  static void ExpectRefusedAfterDescription(const NewOutcome& outcome, const std::string& error_regex) {
    EXPECT_EQ(outcome.rc, -1);
    EXPECT_EQ(outcome.handle, UntouchedHandle());
    const auto& lines = outcome.lines;
    const auto variable = std::find(lines.begin(), lines.end(),
                                    "[inferlet][I] Variable length is enabled: << mEnableVariableLen");
    ASSERT_NE(variable, lines.end());
    EXPECT_THAT(std::vector<std::string>(variable + 1, lines.end()),
                ElementsAre(MatchesRegex(error_regex), "[inferlet][I] closedestory...",
                            "[inferlet][I] closedestroy ok"));
    EXPECT_EQ(trt_standin_count("createExecutionContext"), 0);
    EXPECT_EQ(cudaemu_call_count("cudaStreamCreate"), 0u);
    EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
    EXPECT_EQ(trt_standin_count("live_engines"), 0);
    EXPECT_EQ(trt_standin_count("live_runtimes"), 0);
  }
};

INFERLET_EMULATOR_TEST_F(ConfigEngineMatchOnEmulator,
                         MismatchLogsOneErrorAfterTheDescriptionAndAllocatesNothing) {
  for (const MismatchCase& c : MismatchCases()) {
    SCOPED_TRACE(c.what);
    cudaemu_reset();
    trt_standin_reset();
    ExpectRefusedAfterDescription(CallNew(ReadEngine(c.engine), c.config),
                                  "\\[inferlet\\]\\[E\\] " + std::string(c.numbers));
  }
}

INFERLET_EMULATOR_TEST_F(ConfigEngineMatchOnEmulator, BindingsThatAreNotDenseDeviceTensorsAreRefusedByName) {
  for (const LayoutCase& c : LayoutCases()) {
    SCOPED_TRACE(c.what);
    cudaemu_reset();
    trt_standin_reset();
    const std::string line =
        std::string("[inferlet][E] ") + c.refused + ", not a dense row-major tensor in device memory";
    ExpectRefusedAfterDescription(CallNew(ReadEngine(c.engine), c.config), RegexEscaped(line));
  }
}

// An output whose extents TensorRT knows only after the network ran has no buffer size before the call:
// refused by name once the context can tell (every input at its largest shape leaves the extent -1),
// before any stream or buffer, and the context goes with the rest.
INFERLET_EMULATOR_TEST_F(ConfigEngineMatchOnEmulator, DataDependentOutputIsRefusedByName) {
  if (!kNamedTensors) GTEST_SKIP() << "TensorRT 7 and 8 engines have no data-dependent outputs";
  const ModelConfig config{{{{4, 4}}}, {{4}}, {{{16, 1}, {4, 4}}}, {{4, 4}}};
  const NewOutcome outcome = CallNew(ReadEngine("data_dependent"), config);
  EXPECT_EQ(outcome.rc, -1);
  EXPECT_EQ(outcome.handle, UntouchedHandle());
  const auto variable = std::find(outcome.lines.begin(), outcome.lines.end(),
                                  "[inferlet][I] Variable length is enabled: << mEnableVariableLen");
  ASSERT_NE(variable, outcome.lines.end());
  EXPECT_THAT(std::vector<std::string>(variable + 1, outcome.lines.end()),
              ElementsAre("[inferlet][E] binding 1 (out0) has a data-dependent shape: its extents are known "
                          "only after the network ran, and every output buffer is sized before the call",
                          "[inferlet][I] closedestory...", "[inferlet][I] closedestroy ok"));
  EXPECT_EQ(trt_standin_count("enqueueV3"), 0);
  EXPECT_EQ(trt_standin_count("live_contexts"), 0);
  EXPECT_EQ(cudaemu_call_count("cudaStreamCreate"), 0u);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
}

// Only the configured profiles count: an engine whose second profile is vectorized serves its first.
INFERLET_EMULATOR_TEST_F(ConfigEngineMatchOnEmulator, AnUnconfiguredProfileMayHoldAnyLayout) {
  const ModelConfig first_only{{{{2, 3, 2, 2}}}, {{4}}, {{{2, 3, 2, 2}}}, {{4}}};
  const auto outcome = CallNew(ReadEngine("layout_per_profile"), first_only);
  ASSERT_EQ(outcome.rc, 0);
  std::vector<float> in0(2 * 3 * 2 * 2);
  for (size_t i = 0; i < in0.size(); ++i) in0[i] = static_cast<float>(i) - 10.0f;
  const void* inputs[] = {in0.data()};
  void* outputs[1] = {nullptr};
  int output_lens[1] = {0};
  int rc = -2;
  CapturedLines([&] { rc = kestrel_trt_process(outcome.handle, 0, inputs, 1, 2, outputs, output_lens); });
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(output_lens[0], static_cast<int>(in0.size() * sizeof(float)));
  const float* out0 = static_cast<const float*>(outputs[0]);
  for (size_t i = 0; i < in0.size(); ++i) EXPECT_EQ(out0[i], std::max(in0[i], 0.0f)) << i;
  DeleteHandle(outcome.handle);
  EXPECT_EQ(cudaemu_violations(), 0u);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
}

// Serving fewer profiles than the engine has is fine: the unconfigured blocks are simply never bound.
INFERLET_EMULATOR_TEST_F(ConfigEngineMatchOnEmulator, FewerProfilesThanTheEngineHasAreAccepted) {
  ModelConfig first_only = TwoProfilesConfig();
  first_only.in_shapes.pop_back();
  first_only.in_item_sizes.pop_back();
  first_only.out_shapes.pop_back();
  first_only.out_item_sizes.pop_back();
  const auto outcome = CallNew(ReadEngine("two_profiles"), first_only);
  ASSERT_EQ(outcome.rc, 0);
  // The engine's own device memory (weights, activation memory) is TensorRT's, not the handle's.
  EXPECT_EQ(cudaemu_live_device_allocations() - cudaemu_live_component_allocations(), 3u);
  DeleteHandle(outcome.handle);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
}

}  // namespace
}  // namespace inferlet_test
