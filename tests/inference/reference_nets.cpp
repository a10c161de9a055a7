#include "reference_nets.h"

#include <algorithm>
#include <cmath>

namespace inferlet_test {

Tensor SmokeReference(const Tensor& in0, const Tensor& in1, int batch_size) {
  Tensor out(static_cast<size_t>(batch_size) * kSmokeOutWidth);
  for (int b = 0; b < batch_size; ++b) {
    const size_t row = static_cast<size_t>(b) * kSmokeInWidth;
    for (int k = 0; k < kSmokeOutWidth; ++k) {
      auto x = [&](int at) { return in0[row + at] + in1[row + at]; };
      out[static_cast<size_t>(b) * kSmokeOutWidth + k] = 0.25f * x(k) + 0.5f * x(k + 1) + 0.25f * x(k + 2);
    }
  }
  return out;
}

Tensor TwoProfilesReference(const Tensor& in0, const Tensor& in1, int batch_size) {
  Tensor out(static_cast<size_t>(batch_size) * kTwoProfilesSample);
  for (size_t k = 0; k < out.size(); ++k) out[k] = 2.0f * std::max(in0[k], in1[k]) + 1.0f;
  return out;
}

Tensor ReluReference(const Tensor& in, size_t count) {
  Tensor out(count);
  for (size_t k = 0; k < count; ++k) out[k] = std::max(in[k], 0.0f);
  return out;
}

Tensor HalfReference(const Tensor& in, size_t count) {
  Tensor out(count);
  for (size_t k = 0; k < count; ++k) out[k] = 0.5f * in[k];
  return out;
}

::testing::AssertionResult Matches(const Tensor& actual, const Tensor& expected) {
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure() << actual.size() << " values, expected " << expected.size();
  }
  for (size_t k = 0; k < actual.size(); ++k) {
    if (!(std::fabs(actual[k] - expected[k]) <= 1e-5f * std::max(1.0f, std::fabs(expected[k])))) {
      return ::testing::AssertionFailure()
             << "value " << k << " is " << actual[k] << ", expected " << expected[k];
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace inferlet_test
