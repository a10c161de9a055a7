#include "tensor_data.h"

#include <cmath>
#include <cstring>

namespace inferlet_run {

namespace {

// Built from the generator's raw words rather than <random>'s distributions, whose results differ
// between standard libraries; the same seed then gives the same inputs everywhere.
float UnitFloat(std::mt19937& rng) { return static_cast<float>(rng() >> 8) * (1.0f / 16777216.0f); }

template <typename T>
void Store(std::string& out, size_t i, T value) {
  std::memcpy(&out[i * sizeof(T)], &value, sizeof(T));
}

template <typename T>
T Load(const unsigned char* data, size_t i) {
  T value;
  std::memcpy(&value, data + i * sizeof(T), sizeof(T));
  return value;
}

}  // namespace

uint16_t FloatToHalf(float value) {
  uint32_t f;
  std::memcpy(&f, &value, sizeof(f));
  const uint32_t sign = (f >> 16) & 0x8000u;
  const int32_t exponent = static_cast<int32_t>((f >> 23) & 0xff) - 127 + 15;
  uint32_t mantissa = f & 0x7fffffu;
  if (((f >> 23) & 0xff) == 0xff) return static_cast<uint16_t>(sign | 0x7c00u | (mantissa ? 0x200u : 0));
  if (exponent >= 31) return static_cast<uint16_t>(sign | 0x7c00u);
  if (exponent <= 0) {
    if (exponent < -10) return static_cast<uint16_t>(sign);
    mantissa |= 0x800000u;
    const int shift = 14 - exponent;
    uint32_t half = mantissa >> shift;
    const uint32_t rest = mantissa & ((1u << shift) - 1);
    const uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (half & 1))) ++half;
    return static_cast<uint16_t>(sign | half);
  }
  uint32_t half = sign | static_cast<uint32_t>(exponent) << 10 | mantissa >> 13;
  const uint32_t rest = mantissa & 0x1fffu;
  if (rest > 0x1000u || (rest == 0x1000u && (half & 1))) ++half;  // may carry into the exponent: right
  return static_cast<uint16_t>(half);
}

float HalfToFloat(uint16_t bits) {
  const uint32_t sign = (bits & 0x8000u) << 16;
  const uint32_t exponent = (bits >> 10) & 0x1f;
  const uint32_t mantissa = bits & 0x3ffu;
  float magnitude;
  if (exponent == 0) {
    magnitude = std::ldexp(static_cast<float>(mantissa), -24);
  } else if (exponent == 31) {
    magnitude = mantissa ? NAN : INFINITY;
  } else {
    magnitude = std::ldexp(static_cast<float>(mantissa | 0x400u), static_cast<int>(exponent) - 25);
  }
  uint32_t f;
  std::memcpy(&f, &magnitude, sizeof(f));
  f |= sign;
  float result;
  std::memcpy(&result, &f, sizeof(result));
  return result;
}

std::string MakeData(DType type, bool typed, size_t bytes, FillMode mode, std::mt19937& rng) {
  std::string data(bytes, '\0');
  if (mode == FillMode::kZeros) return data;
  if (!typed) {
    for (char& c : data) c = static_cast<char>(rng() & 0xff);
    return data;
  }
  const size_t count = bytes / DTypeSize(type);
  for (size_t i = 0; i < count; ++i) {
    switch (type) {
      case DType::kFloat:
        Store<float>(data, i, UnitFloat(rng) * 2.0f - 1.0f);
        break;
      case DType::kHalf:
        Store<uint16_t>(data, i, FloatToHalf(UnitFloat(rng) * 2.0f - 1.0f));
        break;
      case DType::kInt8:
        Store<int8_t>(data, i, static_cast<int8_t>(static_cast<int>(rng() % 256) - 128));
        break;
      case DType::kInt32:
        Store<int32_t>(data, i, static_cast<int32_t>(rng() % 256) - 128);
        break;
      case DType::kBool:
        Store<uint8_t>(data, i, static_cast<uint8_t>(rng() & 1));
        break;
    }
  }
  return data;
}

std::string MakeInputData(DType type, bool typed, size_t bytes, FillMode mode, unsigned seed,
                          const std::string& name) {
  const uint64_t h = ComputeChecksum(name.data(), name.size(), DType::kInt8, false).fnv1a;
  std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(h),
                         static_cast<uint32_t>(h >> 32)};
  std::mt19937 rng(sequence);
  return MakeData(type, typed, bytes, mode, rng);
}

Checksum ComputeChecksum(const void* data, size_t bytes, DType type, bool typed) {
  Checksum c;
  const auto* p = static_cast<const unsigned char*>(data);
  c.fnv1a = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < bytes; ++i) {
    c.fnv1a ^= p[i];
    c.fnv1a *= 0x100000001b3ull;
  }
  if (!typed) {
    for (size_t i = 0; i < bytes; ++i) c.sum += p[i];
    return c;
  }
  const size_t count = bytes / DTypeSize(type);
  for (size_t i = 0; i < count; ++i) {
    switch (type) {
      case DType::kFloat:
        c.sum += Load<float>(p, i);
        break;
      case DType::kHalf:
        c.sum += HalfToFloat(Load<uint16_t>(p, i));
        break;
      case DType::kInt8:
        c.sum += Load<int8_t>(p, i);
        break;
      case DType::kInt32:
        c.sum += Load<int32_t>(p, i);
        break;
      case DType::kBool:
        c.sum += Load<uint8_t>(p, i) != 0;
        break;
    }
  }
  return c;
}

}  // namespace inferlet_run
