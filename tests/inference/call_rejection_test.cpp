// Calls the handle refuses: each answers -1 with one error line, reaches no enqueue, and leaves the
// handle serving the next call. On the emulated device also that none copies anything, and that a
// refusal of TensorRT's own stops the call before its copies too.
#include <cudaemu.h>
#include <trt_standin.h>

#include <algorithm>
#include <functional>

#include "call_refusals.h"
#include "emulator_support.h"
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

// TensorRT 10 and 11 document that allInputDimensionsSpecified does not follow setInputShape: the
// library does not ask it, so its answer changes nothing.
TEST_F(RefusedPrepareTest, AllInputDimensionsSpecifiedIsNotAsked) {
  if (!kNamedTensors) GTEST_SKIP() << "on TensorRT 7 and 8 it is the completeness call";
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 5);
  const Tensor in1 = Pattern(10 * 340, 6);
  trt_standin_fail("allInputDimensionsSpecified", 1);
  const int completeness_asked = trt_standin_count("inferShapes");  // construction may ask it too
  const CallOutcome call = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(call.code, 0);
  EXPECT_TRUE(call.lines.empty());
  EXPECT_TRUE(Matches(call.Output(0), SmokeReference(in0, in1, 10)));
  EXPECT_EQ(trt_standin_count("allInputDimensionsSpecified"), 0);
  EXPECT_EQ(trt_standin_count("inferShapes"), completeness_asked + 1);
}

class RefusedCallOnEmulator : public InferenceTest, public ::testing::WithParamInterface<Refusal> {};

INFERLET_EMULATOR_TEST_P(RefusedCallOnEmulator, CopiesNothingToOrFromTheDevice) {
  const Refusal& refusal = GetParam();
  Handle handle = Open(refusal.engine, refusal.config());
  ASSERT_TRUE(handle);
  const size_t sample = refusal.engine == std::string("smoke") ? 340 : 32;
  const Tensor in0 = Pattern(16 * sample, 1);
  const Tensor in1 = Pattern(16 * sample, 2);
  EXPECT_EQ(Process(handle.get(), refusal.profile, {in0, in1}, refusal.batch_size, refusal.input_num).code,
            -1);
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u);
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(Refusals, RefusedCallOnEmulator, ::testing::ValuesIn(Refusals()),
                                           [](const ::testing::TestParamInfo<Refusal>& info) {
                                             return info.param.name;
                                           });

class RefusedPrepareOnEmulator : public InferenceTest {};

INFERLET_EMULATOR_TEST_F(RefusedPrepareOnEmulator, MissingInputDimensionsRefuseTheCall) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 3);
  const Tensor in1 = Pattern(10 * 340, 4);
  // A refused dimension call is answered at once (strict_platform_test.cpp); TensorRT
  // denying that the inputs are complete after every dimension was accepted is what reaches this line.
  trt_standin_fail(kCompletenessCall, 1);
  const CallOutcome refused = Process(handle.get(), 0, {in0, in1}, 10);
  EXPECT_EQ(refused.code, -1);
  std::vector<std::string> expected;
  if (kInjectedCompletenessLine != nullptr)
    expected.push_back(std::string("[inferlet][E] ") + kInjectedCompletenessLine);
  expected.push_back("[inferlet][E] Not all input dimensions are specified for the exeuction context");
  EXPECT_EQ(refused.lines, expected);
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u);
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 0);

  const CallOutcome next = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(next.code, 0);
  EXPECT_TRUE(Matches(next.Output(0), SmokeReference(in0, in1, 10)));
}

}  // namespace
}  // namespace inferlet_test
