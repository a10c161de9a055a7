#include "data_types.h"

#include <fmt/format.h>

#include <cmath>
#include <cstring>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

// The table says what a type is; how its bytes mean a number follows from its numpy name (the float
// formats) or from its kind and size.
Encoding EncodingOf(const inferlet_data_type_info& info) {
  const std::string numpy = info.numpy_name;
  if (info.bits % 8 != 0 || numpy.empty()) return Encoding::kNone;
  switch (info.kind) {
    case 'f':
      if (numpy == "float32") return Encoding::kFloat32;
      if (numpy == "float16") return Encoding::kFloat16;
      if (numpy == "bfloat16") return Encoding::kBFloat16;
      if (numpy == "float8_e4m3fn") return Encoding::kFp8E4M3;
      if (numpy == "float8_e8m0fnu") return Encoding::kE8M0;
      return Encoding::kNone;
    case 'i':
      return info.bits == 8 || info.bits == 32 || info.bits == 64 ? Encoding::kSigned : Encoding::kNone;
    case 'u':
      return info.bits == 8 ? Encoding::kUnsigned : Encoding::kNone;
    case 'b':
      return info.bits == 8 ? Encoding::kBool : Encoding::kNone;
  }
  return Encoding::kNone;
}

template <typename T>
T Load(const void* data, size_t i) {
  T value;
  std::memcpy(&value, static_cast<const char*>(data) + i * sizeof(T), sizeof(T));
  return value;
}

template <typename T>
void Store(char* at, T value) {
  std::memcpy(at, &value, sizeof(T));
}

float BitsToFloat(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof(f));
  return f;
}

uint32_t FloatToBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof(bits));
  return bits;
}

double SignedValue(const void* data, size_t i, int bits) {
  switch (bits) {
    case 8:
      return Load<int8_t>(data, i);
    case 32:
      return Load<int32_t>(data, i);
    default:
      return static_cast<double>(Load<int64_t>(data, i));
  }
}

void StoreSigned(char* at, int bits, int value) {
  switch (bits) {
    case 8:
      return Store<int8_t>(at, static_cast<int8_t>(value));
    case 32:
      return Store<int32_t>(at, value);
    default:
      return Store<int64_t>(at, value);
  }
}

// A float in [-1, 1) from the top 24 bits of a word.
float UnitFloat(std::mt19937& rng) {
  return static_cast<float>(rng() >> 8) * (1.0f / 16777216.0f) * 2.0f - 1.0f;
}

// The exponent byte of the power of two at or below |value|.
uint8_t FloatToE8M0(float value) {
  if (value == 0) return 0;
  int exponent = 0;
  std::frexp(std::fabs(value), &exponent);  // |value| = m * 2^exponent, m in [0.5, 1)
  return static_cast<uint8_t>(std::max(exponent - 1 + 127, 0));
}

}  // namespace

DataTypes DataTypes::Describe(const inferlet_loader::SessionsLibrary& library) {
  DataTypes table;
  constexpr int32_t kMostTypes = 256;  // TensorRT numbers its types in a byte
  for (int32_t value = 0; value < kMostTypes; ++value) {
    inferlet_data_type_info info;
    inferlet_data_type_info_init(&info);
    if (!library.Take(library.api().describe_data_type(value, &info)).empty()) break;
    table.types_.push_back(
        DataType{value, info.name, info.numpy_name, info.npy_descr, info.bits, EncodingOf(info)});
  }
  return table;
}

const DataType& DataTypes::Of(int value) const {
  if (value < 0 || value >= static_cast<int>(types_.size()))
    throw ToolError{kExitInput, fmt::format("unknown data type {}", value)};
  return types_[static_cast<size_t>(value)];
}

const DataType& DataTypes::Bytes() const {
  for (const DataType& t : types_)
    if (t.encoding == Encoding::kUnsigned && t.bits == 8) return t;
  throw ToolError{kExitLibrary, "the sessions library describes no uint8 data type"};
}

double ElementValue(const DataType& type, const void* data, size_t i) {
  switch (type.encoding) {
    case Encoding::kFloat32:
      return Load<float>(data, i);
    case Encoding::kFloat16:
      return HalfToFloat(Load<uint16_t>(data, i));
    case Encoding::kBFloat16:
      return BitsToFloat(static_cast<uint32_t>(Load<uint16_t>(data, i)) << 16);
    case Encoding::kFp8E4M3:
      return Fp8E4M3ToFloat(Load<uint8_t>(data, i));
    case Encoding::kE8M0: {
      const uint8_t bits = Load<uint8_t>(data, i);
      return bits == 0xff ? NAN : std::ldexp(1.0, bits - 127);
    }
    case Encoding::kSigned:
      return SignedValue(data, i, type.bits);
    case Encoding::kUnsigned:
      return Load<uint8_t>(data, i);
    case Encoding::kBool:
      return Load<uint8_t>(data, i) != 0;
    case Encoding::kNone:
      break;
  }
  return 0;
}

void StoreRandom(const DataType& type, char* at, std::mt19937& rng) {
  switch (type.encoding) {
    case Encoding::kFloat32:
      return Store<float>(at, UnitFloat(rng));
    case Encoding::kFloat16:
      return Store<uint16_t>(at, FloatToHalf(UnitFloat(rng)));
    case Encoding::kBFloat16:
      return Store<uint16_t>(at, static_cast<uint16_t>(FloatToBits(UnitFloat(rng)) >> 16));
    case Encoding::kFp8E4M3:
      return Store<uint8_t>(at, FloatToFp8E4M3(UnitFloat(rng)));
    case Encoding::kE8M0:
      return Store<uint8_t>(at, FloatToE8M0(UnitFloat(rng)));
    case Encoding::kSigned:
      return StoreSigned(at, type.bits, static_cast<int>(rng() % 256) - 128);
    case Encoding::kUnsigned:
      return Store<uint8_t>(at, static_cast<uint8_t>(rng() % 256));
    case Encoding::kBool:
      return Store<uint8_t>(at, static_cast<uint8_t>(rng() & 1));
    case Encoding::kNone:
      break;
  }
}

uint16_t FloatToHalf(float value) {
  const uint32_t f = FloatToBits(value);
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
  return BitsToFloat(FloatToBits(magnitude) | (bits & 0x8000u) << 16);
}

uint8_t FloatToFp8E4M3(float value) {
  const uint8_t sign = std::signbit(value) ? 0x80 : 0;
  const float magnitude = std::fabs(value);
  int exponent = 0;
  const float m = std::frexp(magnitude, &exponent);      // magnitude = m * 2^exponent, m in [0.5, 1)
  if (magnitude == 0 || exponent - 1 < -9) return sign;  // below the smallest subnormal, 2^-9
  if (exponent - 1 < -6)                                 // subnormal: mantissa * 2^-9
    return static_cast<uint8_t>(sign | static_cast<uint8_t>(std::ldexp(magnitude, 9)));
  const uint8_t fraction = static_cast<uint8_t>(std::ldexp(m * 2 - 1, 3));  // 3 bits, truncated
  return static_cast<uint8_t>(sign | (exponent - 1 + 7) << 3 | fraction);
}

float Fp8E4M3ToFloat(uint8_t bits) {
  const int exponent = (bits >> 3) & 0xf;
  const int mantissa = bits & 0x7;
  float magnitude;
  if (exponent == 0xf && mantissa == 0x7)
    magnitude = NAN;
  else if (exponent == 0)
    magnitude = std::ldexp(static_cast<float>(mantissa), -9);
  else
    magnitude = std::ldexp(static_cast<float>(8 + mantissa), exponent - 7 - 3);
  return (bits & 0x80) ? -magnitude : magnitude;
}

}  // namespace inferlet_run
