// Lifetimes on 10.x and later: engines before their runtime, staging memory with the context.
#include "test_support.h"

namespace trt_test {
namespace {

class LifetimeTest : public TrtTest {};

TEST_F(LifetimeTest, ReleasingInOrderReportsNothing) {
  {
    auto l = load(sample_engine("smoke"));
    ASSERT_TRUE(l->context);
    EXPECT_EQ(cudaemu_live_pinned_allocations(), 1u);
    l->context.reset();
    l->engine.reset();
    l->runtime.reset();
    EXPECT_EQ(l->logger.count(Severity::kERROR), 0);
  }
  EXPECT_EQ(trt_standin_count("runtimes_released_before_engines"), 0);
  EXPECT_EQ(trt_standin_count("live_runtimes") + trt_standin_count("live_engines") +
                trt_standin_count("live_contexts"),
            0);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u) << "staging memory not released";
}

}  // namespace
}  // namespace trt_test
