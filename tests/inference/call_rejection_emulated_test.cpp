// Calls the handle refuses, seen on the emulated device: none copies anything, and a refusal of
// TensorRT's own stops the call before its copies too.
#include <cudaemu.h>
#include <trt_standin.h>

#include <algorithm>
#include <functional>

#include "call_refusals.h"
#include "inference_fixture.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

class RefusedCallDeviceTest : public InferenceTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedCallDeviceTest, CopiesNothingToOrFromTheDevice) {
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

INSTANTIATE_TEST_SUITE_P(Refusals, RefusedCallDeviceTest, ::testing::ValuesIn(Refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& info) { return info.param.name; });

class RefusedPrepareTest : public InferenceTest {};

TEST_F(RefusedPrepareTest, MissingInputDimensionsRefuseTheCall) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 3);
  const Tensor in1 = Pattern(10 * 340, 4);
  // A refused dimension call is answered at once (strict_platform_emulated_test.cpp); TensorRT
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

// TensorRT 10 and 11 document that allInputDimensionsSpecified does not follow setInputShape: the
// library does not ask it, so its answer changes nothing.
TEST_F(RefusedPrepareTest, AllInputDimensionsSpecifiedIsNotAsked) {
  if (!kNamedTensors) GTEST_SKIP() << "on TensorRT 7 and 8 it is the completeness call";
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in0 = Pattern(10 * 340, 5);
  const Tensor in1 = Pattern(10 * 340, 6);
  trt_standin_fail("allInputDimensionsSpecified", 1);
  const CallOutcome call = Process(handle.get(), 0, {in0, in1}, 10);
  ASSERT_EQ(call.code, 0);
  EXPECT_TRUE(call.lines.empty());
  EXPECT_TRUE(Matches(call.Output(0), SmokeReference(in0, in1, 10)));
  EXPECT_EQ(trt_standin_count("allInputDimensionsSpecified"), 0);
  EXPECT_EQ(trt_standin_count("inferShapes"), 1);
}

}  // namespace
}  // namespace inferlet_test
