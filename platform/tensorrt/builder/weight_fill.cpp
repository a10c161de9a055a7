#include "weight_fill.h"

namespace trt_standin {

std::vector<float> random_weights(uint64_t seed, std::size_t count) {
  std::vector<float> values(count);
  uint64_t state = seed;
  for (float& v : values) {
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    v = static_cast<float>(z >> 40) * (2.0f / 16777216.0f) - 1.0f;
  }
  return values;
}

}  // namespace trt_standin
