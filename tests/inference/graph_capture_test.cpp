// Inference with CUDA graphs on gives the same results as without, on every batch size and profile.
#include "inference_fixture.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

class GraphCaptureTest : public InferenceTest {};

TEST_F(GraphCaptureTest, OutputsEqualThoseOfThePlainPath) {
  Handle plain = Open("smoke", SmokeConfig(), false);
  Handle graph = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(plain && graph);
  int seed = 0;
  for (int batch : {10, 3, 3, 1, 10}) {
    SCOPED_TRACE("batch " + std::to_string(batch));
    const Tensor in0 = Pattern(10 * 340, ++seed);
    const Tensor in1 = Pattern(10 * 340, ++seed);
    const CallOutcome a = Process(plain.get(), 0, {in0, in1}, batch);
    const CallOutcome b = Process(graph.get(), 0, {in0, in1}, batch);
    ASSERT_EQ(a.code, 0);
    ASSERT_EQ(b.code, 0);
    EXPECT_TRUE(b.lines.empty()) << b.lines.front();
    EXPECT_EQ(a.lens[0], b.lens[0]);
    EXPECT_EQ(a.OutputBytes(0), b.OutputBytes(0));
    EXPECT_TRUE(Matches(b.Output(0), SmokeReference(in0, in1, batch)));
  }
}

TEST_F(GraphCaptureTest, OutputsEqualThoseOfThePlainPathOnBothProfiles) {
  Handle plain = Open("two_profiles", TwoProfilesConfig(), false);
  Handle graph = Open("two_profiles", TwoProfilesConfig(), true);
  ASSERT_TRUE(plain && graph);
  int seed = 20;
  for (int profile : {1, 0, 1, 0}) {
    const int batch = profile == 0 ? 3 : 11;
    const Tensor in0 = Pattern(16 * 32, ++seed);
    const Tensor in1 = Pattern(16 * 32, ++seed);
    const CallOutcome a = Process(plain.get(), profile, {in0, in1}, batch);
    const CallOutcome b = Process(graph.get(), profile, {in0, in1}, batch);
    ASSERT_EQ(a.code, 0);
    ASSERT_EQ(b.code, 0);
    EXPECT_EQ(a.OutputBytes(0), b.OutputBytes(0)) << "profile " << profile;
    EXPECT_TRUE(Matches(b.Output(0), TwoProfilesReference(in0, in1, batch))) << "profile " << profile;
  }
}

}  // namespace
}  // namespace inferlet_test
