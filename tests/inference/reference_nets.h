// What the sample engines compute, done on the host, so returned outputs can be checked value by value.
#ifndef INFERLET_TESTS_INFERENCE_REFERENCE_NETS_H_
#define INFERLET_TESTS_INFERENCE_REFERENCE_NETS_H_

#include <gtest/gtest.h>

#include "inference_fixture.h"

namespace inferlet_test {

constexpr int kSmokeInWidth = 340;
constexpr int kSmokeOutWidth = 338;
constexpr int kTwoProfilesSample = 4 * 8;  // elements of one [4, 8] sample

// smoke: per sample, the taps 0.25, 0.5, 0.25 slid over in0 + in1 (340 wide) without padding.
Tensor SmokeReference(const Tensor& in0, const Tensor& in1, int batch_size);
// two_profiles: 2 * max(in0, in1) + 1, element by element.
Tensor TwoProfilesReference(const Tensor& in0, const Tensor& in1, int batch_size);
// mixed_rank: out0 = relu(in0), out1 = 0.5 * in1, over `count` leading elements.
Tensor ReluReference(const Tensor& in, size_t count);
Tensor HalfReference(const Tensor& in, size_t count);

// mlp: y = dense(relu(dense(x, 16 -> 32, weights seed 1, bias seed 2)), 32 -> 4, seeds 3 and 4), with
// the builder's random fill (uniform in [-1, 1) from splitmix64, as the stand-in documents it).
Tensor MlpReference(const Tensor& x, int batch_size);
// varying_width: per row of `width` values, the taps 0.25, 0.5, 0.25 slid over it without padding
// (width - 2 values).
Tensor SmoothedReference(const Tensor& in, int rows, int width);

// Same length and every value within a rounding step of the reference.
::testing::AssertionResult Matches(const Tensor& actual, const Tensor& expected);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_INFERENCE_REFERENCE_NETS_H_
