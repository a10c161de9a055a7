// --compare's rule on element values: numpy's allclose (|a - b| <= atol + rtol * |b|, b the
// reference), NaN never close, an infinity close only to itself, the relative difference taken where
// the reference is not 0, and the element types and shapes that must match.
#include "compare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "exit_codes.h"
#include "tensor_data.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

NpyArray Floats(const std::vector<float>& values) {
  NpyArray a;
  a.descr = "<f4";
  a.shape = {values.size()};
  a.data.assign(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
  return a;
}

// A reference of the type its descr names.
Reference Ref(NpyArray array) {
  const DataType& type = inferlet_run_test::TestTypeWithDescr(array.descr);
  return Reference{"out0", "refs/out0.npy", std::move(array), type, true};
}

TEST(CompareRule, AllcloseElementByElement) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* what;
    std::vector<float> output, reference;
    double rtol, atol;
    size_t out;
    double max_abs, max_rel;
  };
  const Case cases[] = {
      {"equal", {1, -2, 0}, {1, -2, 0}, 0, 0, 0, 0, 0},
      {"atol bound is inclusive", {1.5f, 0}, {1, 0}, 0, 0.5, 0, 0.5, 0.5},
      {"just over atol", {1.5f, 0}, {1, 0}, 0, 0.49, 1, 0.5, 0.5},
      {"rtol scales with the reference", {101, 0.5f}, {100, 0}, 0.01, 0, 1, 1, 0.01},
      {"a zero reference has no relative difference", {0.25f}, {0}, 0, 1, 0, 0.25, 0},
      {"the same infinity is close", {inf, -inf}, {inf, -inf}, 0, 0, 0, 0, 0},
      {"opposite infinities are not", {inf}, {-inf}, 1, 1, 1, inf, inf},
      {"nor is a finite value to an infinity", {1}, {inf}, 1, 1, 1, inf, inf},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const OutputComparison r = CompareOutput(Ref(Floats(c.reference)), Floats(c.output), c.rtol, c.atol);
    EXPECT_EQ(r.elements, c.reference.size());
    EXPECT_EQ(r.out_of_tolerance, c.out);
    EXPECT_DOUBLE_EQ(r.max_abs_diff, c.max_abs);
    if (std::isinf(c.max_rel))
      EXPECT_EQ(r.max_rel_diff, c.max_rel);
    else
      EXPECT_NEAR(r.max_rel_diff, c.max_rel, 1e-9);
    EXPECT_EQ(r.passed(), c.out == 0);
  }
  const OutputComparison n = CompareOutput(Ref(Floats({nan, 1})), Floats({nan, 1}), 1, 1);
  EXPECT_EQ(n.out_of_tolerance, 1u) << "NaN is never close, not even to NaN";
  EXPECT_TRUE(std::isnan(n.max_abs_diff));
}

TEST(CompareRule, HalvesAndIntegersAreComparedAsNumbers) {
  NpyArray half;
  half.descr = "<f2";
  half.shape = {2};
  const uint16_t h[] = {FloatToHalf(1.0f), FloatToHalf(-2.5f)}, g[] = {FloatToHalf(1.0f), FloatToHalf(-2.0f)};
  half.data.assign(reinterpret_cast<const char*>(h), sizeof h);
  NpyArray other = half;
  other.data.assign(reinterpret_cast<const char*>(g), sizeof g);
  OutputComparison r = CompareOutput(Ref(other), half, 0, 0.5);
  EXPECT_EQ(r.out_of_tolerance, 0u);
  EXPECT_DOUBLE_EQ(r.max_abs_diff, 0.5);
  NpyArray ints;
  ints.descr = "<i4";
  ints.shape = {1};
  const int32_t a = -7, b = 7;
  ints.data.assign(reinterpret_cast<const char*>(&a), sizeof a);
  NpyArray ref = ints;
  ref.data.assign(reinterpret_cast<const char*>(&b), sizeof b);
  r = CompareOutput(Ref(ref), ints, 0, 13);
  EXPECT_EQ(r.out_of_tolerance, 1u) << "signed: 14 apart";
  EXPECT_DOUBLE_EQ(r.max_abs_diff, 14);
}

TEST(CompareRule, TypeAndShapeMustMatch) {
  NpyArray ints;
  ints.descr = "<i4";
  ints.shape = {2};
  ints.data.assign(8, '\0');
  try {
    CompareOutput(Ref(ints), Floats({0, 0}), 0, 0);
    ADD_FAILURE() << "compared int32 with float32";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitInput);
    EXPECT_EQ(e.message, "--compare: refs/out0.npy holds <i4, output 'out0' is <f4");
  }
  try {
    CompareOutput(Ref(Floats({0, 0, 0})), Floats({0, 0}), 0, 0);
    ADD_FAILURE() << "compared shapes (3) and (2)";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitInput);
    EXPECT_EQ(e.message, "--compare: refs/out0.npy has shape (3), output 'out0' of the last call has (2)");
  }
}

}  // namespace
}  // namespace inferlet_run
