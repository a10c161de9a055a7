// A configuration that does not describe the engine's binding blocks is refused right after the
// engine's description, before an execution context or any device memory exists, so that no later
// call can write past the binding array or a profile's block.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support.h"

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

class ConfigEngineMatch : public FreshPlatformTest {};

TEST_F(ConfigEngineMatch, MismatchLogsOneErrorAfterTheDescriptionAndAllocatesNothing) {
  for (const MismatchCase& c : MismatchCases()) {
    SCOPED_TRACE(c.what);
    cudaemu_reset();
    trt_standin_reset();
    const auto outcome = CallNew(ReadEngine(c.engine), c.config);
    EXPECT_EQ(outcome.rc, -1);
    EXPECT_EQ(outcome.handle, UntouchedHandle());
    const auto& lines = outcome.lines;
    const auto variable = std::find(lines.begin(), lines.end(),
                                    "[inferlet][I] Variable length is enabled: << mEnableVariableLen");
    ASSERT_NE(variable, lines.end());
    // After the fixed line: exactly the one error, then the teardown of the half-built object.
    EXPECT_THAT(std::vector<std::string>(variable + 1, lines.end()),
                ElementsAre(MatchesRegex("\\[inferlet\\]\\[E\\] " + std::string(c.numbers)),
                            "[inferlet][I] closedestory...", "[inferlet][I] closedestroy ok"));
    EXPECT_EQ(trt_standin_count("createExecutionContext"), 0);
    EXPECT_EQ(cudaemu_call_count("cudaStreamCreate"), 0u);
    EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
    EXPECT_EQ(trt_standin_count("live_engines"), 0);
    EXPECT_EQ(trt_standin_count("live_runtimes"), 0);
  }
}

// Serving fewer profiles than the engine has is fine: the unconfigured blocks are simply never bound.
TEST_F(ConfigEngineMatch, FewerProfilesThanTheEngineHasAreAccepted) {
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
