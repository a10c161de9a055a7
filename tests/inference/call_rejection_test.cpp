// Calls the handle refuses: each answers -1 with one error line, does no work on the device, and
// leaves the handle serving the next call.
#include <trt_standin.h>

#include <algorithm>
#include <functional>

#include "inference_fixture.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

struct Refusal {
  const char* name;
  const char* engine;
  std::function<ModelConfig()> config;
  int profile;
  int input_num;
  int batch_size;
  const char* line;  // after the "[inferlet][E] " prefix
  bool before_prepare;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

ModelConfig SmokeWith(int tensor, const std::vector<int>& shape) {
  ModelConfig config = SmokeConfig();
  if (tensor < 2) {
    config.in_shapes[0][tensor] = shape;
  } else {
    config.out_shapes[0][0] = shape;
  }
  return config;
}

ModelConfig FirstProfileOnly() {
  ModelConfig config = TwoProfilesConfig();
  config.in_shapes.pop_back();
  config.in_item_sizes.pop_back();
  config.out_shapes.pop_back();
  config.out_item_sizes.pop_back();
  return config;
}

const Refusal kRefusals[] = {
    {"ProfileBeyondConfigured", "smoke", SmokeConfig, 5, 2, 10,
     "profile 5 out of range, configured profiles 1", true},
    {"NegativeProfile", "smoke", SmokeConfig, -1, 2, 10, "profile -1 out of range, configured profiles 1",
     true},
    {"ProfileOfTheEngineButNotConfigured", "two_profiles", FirstProfileOnly, 1, 2, 4,
     "profile 1 out of range, configured profiles 1", true},
    {"OneInputTooMany", "smoke", SmokeConfig, 0, 3, 10, "input num 3 not eq graph config input num 2", true},
    {"OneInputTooFew", "smoke", SmokeConfig, 0, 1, 10, "input num 1 not eq graph config input num 2", true},
    {"ZeroBatch", "smoke", SmokeConfig, 0, 2, 0, "input batch_size 0 must be at least 1", true},
    {"NegativeBatch", "smoke", SmokeConfig, 0, 2, -4, "input batch_size -4 must be at least 1", true},
    {"BatchAboveFirstInput", "smoke", SmokeConfig, 0, 2, 11,
     "input batch_size 11 must lte graph config input batch_size 10", true},
    {"BatchAboveFirstInputOfSecondProfile", "two_profiles", TwoProfilesConfig, 1, 2, 17,
     "input batch_size 17 must lte graph config input batch_size 16", true},
    {"BatchAboveSecondInput", "smoke",
     [] {
       return SmokeWith(1, {4, 340});
     },
     0, 2, 5, "input batch_size 5 must lte graph config input 1 batch_size 4", true},
    {"BatchAboveOutput", "smoke",
     [] {
       return SmokeWith(2, {4, 338});
     },
     0, 2, 5, "input batch_size 5 must lte graph config output 0 batch_size 4", true},
    {"OutputBufferSmallerThanTheEngineWrites", "smoke",
     [] {
       return SmokeWith(2, {10, 100});
     },
     0, 2, 10, "binding 2 needs 13520 bytes but its buffer holds 4000", false},
};

class CallRejectionTest : public InferenceTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(CallRejectionTest, AnswersMinusOneWithOneLineAndStaysUsable) {
  const Refusal& refusal = GetParam();
  const ModelConfig config = refusal.config();
  Handle handle = Open(refusal.engine, config);
  ASSERT_TRUE(handle);
  const size_t sample = refusal.engine == std::string("smoke") ? 340 : 32;
  const Tensor in0 = Pattern(16 * sample, 1);
  const Tensor in1 = Pattern(16 * sample, 2);

  const CallOutcome refused =
      Process(handle.get(), refusal.profile, {in0, in1}, refusal.batch_size, refusal.input_num);
  EXPECT_EQ(refused.code, -1);
  EXPECT_EQ(refused.lines, std::vector<std::string>{std::string("[inferlet][E] ") + refusal.line});
  EXPECT_EQ(refused.lens[0], -1) << "output length written by a refused call";
  EXPECT_EQ(refused.outputs[0], nullptr);
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u);
  EXPECT_EQ(trt_standin_count("enqueueV2"), 0);
  if (refusal.before_prepare) {
    EXPECT_EQ(trt_standin_count("setOptimizationProfile"), 0);
  }

  // A call the configuration allows still works; the smallest batch fits every configuration above.
  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 1);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(next.lines.empty()) << next.lines.front();
  if (refusal.engine == std::string("two_profiles")) {
    EXPECT_TRUE(Matches(next.Output(0), TwoProfilesReference(in0, in1, 1)));
  } else if (config.out_shapes[0][0][1] == 338) {
    EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 1)));
  }
}

INSTANTIATE_TEST_SUITE_P(Refusals, CallRejectionTest, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

class RefusedPrepareTest : public InferenceTest {};

TEST_F(RefusedPrepareTest, MissingInputDimensionsRefuseTheCall) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 3);
  const Tensor in1 = Pattern(10 * 340, 4);
  // A refused setBindingDimensions is answered at once (strict_platform_test.cpp); TensorRT denying
  // that the inputs are complete after every dimension was accepted is what reaches this line.
  trt_standin_fail("allInputDimensionsSpecified", 1);
  const CallOutcome refused = Process(handle.get(), 0, {in0, in1}, 10);
  EXPECT_EQ(refused.code, -1);
  EXPECT_EQ(refused.lines,
            std::vector<std::string>{
                "[inferlet][E] Not all input dimensions are specified for the exeuction context"});
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u);
  EXPECT_EQ(trt_standin_count("enqueueV2"), 0);

  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 10)));
}

// A profile without inputs never reaches a call: the sample engines have inputs in every profile, so
// construction refuses such a configuration as not matching the engine.
TEST_F(RefusedPrepareTest, ProfileWithoutInputsIsRefusedBeforeAnyCall) {
  ModelConfig config = SmokeConfig();
  config.in_shapes[0].clear();
  config.in_item_sizes[0].clear();
  const std::string bytes = ReadEngine("smoke");
  trt_engine_core* handle = nullptr;
  StdoutCapture capture;
  EXPECT_EQ(kestrel_trt_new(bytes.data(), static_cast<int>(bytes.size()), 0, false, config.in_shapes,
                            config.in_item_sizes, config.out_shapes, config.out_item_sizes, &handle),
            -1);
  const std::vector<std::string> lines = SplitLines(capture.Stop());
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(
      std::count(lines.begin(), lines.end(),
                 "[inferlet][E] profile 0 config has 0 inputs and 1 outputs but the engine has 3 bindings "
                 "per profile"),
      1);
}

}  // namespace
}  // namespace inferlet_test
