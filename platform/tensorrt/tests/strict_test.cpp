// Strict mode: answers the documentation allows but a caller may not rely on.
#include <cstdlib>
#include <string>

#include "test_support.h"

namespace trt_test {
namespace {

class StrictTest : public TrtTest {};

TEST_F(StrictTest, IsSwitchedByTheCallAndTheEnvironmentAtEveryReset) {
  EXPECT_EQ(trt_standin_strict(), 0) << "the fixture's default";
  trt_standin_set_strict(1);
  EXPECT_EQ(trt_standin_strict(), 1);
  trt_standin_set_strict(0);
  EXPECT_EQ(trt_standin_strict(), 0);
  trt_standin_set_strict(7);
  EXPECT_EQ(trt_standin_strict(), 1);
  const char* env = std::getenv("TRT_STANDIN_STRICT");
  trt_standin_reset();
  EXPECT_EQ(trt_standin_strict(), env != nullptr && std::string(env) == "1" ? 1 : 0);
}

// From 10.x allInputDimensionsSpecified is documented not to work with setInputShape: strict mode
// answers false; inferShapes keeps its answers. Up to 8.x it follows setBindingDimensions either way.
TEST_F(StrictTest, AllInputDimensionsSpecifiedIsNotToBeReliedOnFromTensorRt10) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  auto s = load(sample_engine("static_batch"));
  ASSERT_TRUE(s->context);
#if NV_TENSORRT_MAJOR >= 10
  ASSERT_TRUE(l->context->setInputShape("in0", dims({2, 340})));
  ASSERT_TRUE(l->context->setInputShape("in1", dims({2, 340})));
  constexpr bool kStrictAnswer = false;
#else
  ASSERT_TRUE(l->context->setBindingDimensions(0, dims({2, 340})));
  ASSERT_TRUE(l->context->setBindingDimensions(1, dims({2, 340})));
  constexpr bool kStrictAnswer = true;
#endif
  EXPECT_TRUE(l->context->allInputDimensionsSpecified());
  EXPECT_TRUE(s->context->allInputDimensionsSpecified()) << "every input pinned";
  trt_standin_set_strict(1);
  EXPECT_EQ(l->context->allInputDimensionsSpecified(), kStrictAnswer);
  EXPECT_EQ(s->context->allInputDimensionsSpecified(), kStrictAnswer);
#if NV_TENSORRT_MAJOR >= 10
  EXPECT_EQ(l->context->inferShapes(0, nullptr), 0);
  EXPECT_EQ(s->context->inferShapes(0, nullptr), 0);
  auto fresh = load(sample_engine("smoke"));
  ASSERT_TRUE(fresh->context);
  EXPECT_EQ(fresh->context->inferShapes(0, nullptr), 2);
  EXPECT_EQ(trt_standin_count("inferShapes"), 3);
#endif
  EXPECT_EQ(trt_standin_count("allInputDimensionsSpecified"), 4) << "strict answers are counted calls";
  trt_standin_set_strict(0);
  EXPECT_TRUE(l->context->allInputDimensionsSpecified());
  EXPECT_EQ(l->logger.count(Severity::kERROR) + s->logger.count(Severity::kERROR), 0);
}

}  // namespace
}  // namespace trt_test
