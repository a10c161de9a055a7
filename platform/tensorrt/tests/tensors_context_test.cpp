// IExecutionContext of the named-tensor generation: shapes, addresses and profile switches by name.
#include "test_support.h"

namespace trt_test {
namespace {

class ContextTest : public TrtTest {};

TEST_F(ContextTest, ShapesWithinTheProfileAreTaken) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  EXPECT_TRUE(l->context->setInputShape("in0", dims({3, 340})));
  EXPECT_EQ(extents(l->context->getTensorShape("in0")), (std::vector<int32_t>{3, 340}));
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0);
}

}  // namespace
}  // namespace trt_test
