#include "reference_nets.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace inferlet_test {

Tensor Pattern(size_t count, int seed) {
  Tensor values(count);
  for (size_t k = 0; k < count; ++k) {
    const int step = static_cast<int>((k * 37 + static_cast<size_t>(seed) * 101) % 61);
    values[k] = static_cast<float>(step - 30) * 0.125f + static_cast<float>(seed) * 0.0625f;
  }
  return values;
}

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

namespace {

// The builder's "random" fill for seed: value i (from 1) is splitmix64 of seed + i * 0x9E3779B97F4A7C15,
// its top 24 bits scaled into [-1, 1).
Tensor RandomFill(uint64_t seed, size_t count) {
  Tensor values(count);
  for (size_t i = 0; i < count; ++i) {
    uint64_t z = seed + (i + 1) * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    values[i] = static_cast<float>(z >> 40) * (2.0f / 16777216.0f) - 1.0f;
  }
  return values;
}

// y[r][m] = bias[m] + sum_k x[r][k] * w[k * units + m]
Tensor Dense(const Tensor& x, int rows, int inputs, int units, uint64_t weight_seed, uint64_t bias_seed) {
  const Tensor w = RandomFill(weight_seed, static_cast<size_t>(inputs) * units);
  const Tensor bias = RandomFill(bias_seed, static_cast<size_t>(units));
  Tensor y(static_cast<size_t>(rows) * units);
  for (int r = 0; r < rows; ++r) {
    for (int m = 0; m < units; ++m) {
      float sum = bias[m];
      for (int k = 0; k < inputs; ++k)
        sum += x[static_cast<size_t>(r) * inputs + k] * w[static_cast<size_t>(k) * units + m];
      y[static_cast<size_t>(r) * units + m] = sum;
    }
  }
  return y;
}

}  // namespace

Tensor MlpReference(const Tensor& x, int batch_size) {
  Tensor hidden = Dense(x, batch_size, 16, 32, 1, 2);
  for (float& value : hidden) value = std::max(value, 0.0f);
  return Dense(hidden, batch_size, 32, 4, 3, 4);
}

Tensor SmoothedReference(const Tensor& in, int rows, int width) {
  Tensor out(static_cast<size_t>(rows) * (width - 2));
  for (int r = 0; r < rows; ++r) {
    const float* row = in.data() + static_cast<size_t>(r) * width;
    for (int k = 0; k < width - 2; ++k) {
      out[static_cast<size_t>(r) * (width - 2) + k] = 0.25f * row[k] + 0.5f * row[k + 1] + 0.25f * row[k + 2];
    }
  }
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
