// Configurations kestrel_trt_new accepts: the byte sizes and host buffers validation gives them. The
// rejections, and that they touch neither TensorRT nor device memory, are checked on the emulated
// device (config_validation_emulated_test.cpp).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "config_layout.h"

namespace inferlet_test {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;

class ConfigValidation : public FreshPlatformTest {};

TEST_F(ConfigValidation, ByteSizesAreItemSizeTimesEveryDimensionWithZeroedHostOutputs) {
  LayoutProbe probe(OneProfile({{8, 128}}, {{8, 2}}));
  ASSERT_TRUE(probe.PassedValidation());
  EXPECT_FALSE(probe.Valid());
  ASSERT_EQ(probe.NetInfos().size(), 1u);
  const S_net_info& rec = probe.NetInfos()[0];
  EXPECT_THAT(rec.input_shapes, ElementsAre(ElementsAre(8, 128)));
  EXPECT_THAT(rec.output_shapes, ElementsAre(ElementsAre(8, 2)));
  EXPECT_THAT(rec.input_sizes, ElementsAre(4096));
  EXPECT_THAT(rec.output_sizes, ElementsAre(64));
  ASSERT_EQ(rec.output_host_bufs.size(), 1u);
  EXPECT_EQ(rec.output_host_bufs[0].size(), 64u);
  EXPECT_THAT(rec.output_host_bufs[0], Each(0));
  EXPECT_THAT(rec.input_bufs, ElementsAre(nullptr));
  EXPECT_THAT(rec.output_bufs, ElementsAre(nullptr));
}

TEST_F(ConfigValidation, TwoAndEightDimensionsAreAccepted) {
  LayoutProbe probe(
      WithItemSizes(OneProfile({{3, 5}, {2, 1, 2, 1, 2, 1, 2, 3}}, {{2, 2, 2, 2, 2, 2, 2, 2}, {7, 1}}),
                    {{4, 2}}, {{1, 8}}));
  ASSERT_TRUE(probe.PassedValidation());
  const S_net_info& rec = probe.NetInfos()[0];
  EXPECT_THAT(rec.input_sizes, ElementsAre(60, 96));
  EXPECT_THAT(rec.output_sizes, ElementsAre(256, 56));
  EXPECT_EQ(rec.output_host_bufs[0].size(), 256u);
  EXPECT_EQ(rec.output_host_bufs[1].size(), 56u);
}

TEST_F(ConfigValidation, LargestByteSizeThatFitsThirtyTwoBitsIsAccepted) {
  LayoutProbe probe(WithItemSizes(OneProfile({{1, INT_MAX}}, {{4, 4}}), {{1}}, {{4}}));
  ASSERT_TRUE(probe.PassedValidation());
  EXPECT_THAT(probe.NetInfos()[0].input_sizes, ElementsAre(INT_MAX));
}

}  // namespace
}  // namespace inferlet_test
