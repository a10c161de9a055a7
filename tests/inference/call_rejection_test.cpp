// Calls the handle refuses: each answers -1 with one error line, reaches no enqueue, and leaves the
// handle serving the next call. That they copy nothing either is checked on the emulated device.
#include <trt_standin.h>

#include <algorithm>
#include <functional>

#include "call_refusals.h"
#include "inference_fixture.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

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
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 0);
  if (refusal.before_prepare) {
    EXPECT_EQ(trt_standin_count(kSelectProfileCall), 0);
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

INSTANTIATE_TEST_SUITE_P(Refusals, CallRejectionTest, ::testing::ValuesIn(Refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

class RefusedPrepareTest : public InferenceTest {};

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
