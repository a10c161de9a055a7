// Construction through kestrel_trt_new as a host sees it on any device: the exact lines a successful
// construction prints. Failures, device selection and the state construction leaves on the device are
// in construction_emulated_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "construction_fixture.h"
#include "library_lines.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;

TEST_F(Construction, SmokeEnginePrintsDeviceGraphFlagDescriptionAndCounts) {
  const auto outcome = CallNew(smoke_, SmokeConfig());
  ASSERT_EQ(outcome.rc, 0);
  Keep(outcome.handle);
  EXPECT_NE(outcome.handle, UntouchedHandle());
  EXPECT_THAT(LibraryLines(outcome.lines),
              ElementsAreArray(Concat({{"[inferlet][E] setDevice 0ok"}, SmokeConstructionLines()})));
}

TEST_F(Construction, GraphFlagIsPrintedAsOne) {
  const auto outcome = CallNew(smoke_, SmokeConfig(), 0, true);
  ASSERT_EQ(outcome.rc, 0);
  Keep(outcome.handle);
  ASSERT_GE(outcome.lines.size(), 2u);
  EXPECT_EQ(outcome.lines[1], "[inferlet][I] CUDA Graph is 1");
}

TEST_F(Construction, TwoProfileEngineCountsSixBindingsAndNamesProfileOne) {
  const auto outcome = CallNew(ReadEngine("two_profiles"), TwoProfilesConfig());
  ASSERT_EQ(outcome.rc, 0);
  Keep(outcome.handle);
  const auto lines = LibraryLines(outcome.lines);
  EXPECT_THAT(lines,
              Contains("[inferlet][I] getNbBindings 6,getNbOptimizationProfiles 2,numBindingPerProfile 3"));
  EXPECT_THAT(lines, Contains("bind 0,name in0 IsInput 1 , dtype 0"));
  EXPECT_THAT(lines, Contains("bind 3,name in0 [profile 1] IsInput 1 , dtype 0"));
  EXPECT_THAT(lines, Contains("bind 4,name in1 [profile 1] IsInput 1 , dtype 0"));
  EXPECT_THAT(lines, Contains("bind 5,name out0 [profile 1] IsInput 0 , dtype 0"));
  EXPECT_THAT(lines, Contains("-1 4 8 "));
}

}  // namespace
}  // namespace inferlet_test
