// TensorRT's data types as inferlet-run uses them. What each one is -- its TensorRT and numpy names,
// its .npy descr, its size -- comes from the one table the sessions library answers
// (inferlet_describe_data_type); this file adds only how its elements read as numbers and how random
// ones are made.
#ifndef INFERLET_APPS_DATA_TYPES_H_
#define INFERLET_APPS_DATA_TYPES_H_

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sessions_loader.h"

namespace inferlet_run {

// How the bytes of an element mean a number.
enum class Encoding {
  kNone,  // inferlet-run cannot serve the type (the 4-bit ones)
  kFloat32,
  kFloat16,
  kBFloat16,  // the top half of a float32
  kFp8E4M3,   // 1 sign, 4 exponent (bias 7), 3 mantissa bits; no infinities, S.1111.111 is NaN
  kE8M0,      // 2^(byte - 127), no sign, no zero; 0xff is NaN
  kSigned,
  kUnsigned,
  kBool,
};

struct DataType {
  int value = -1;          // numbered as TensorRT's DataType
  std::string trt_name;    // "kBF16"
  std::string numpy_name;  // "bfloat16"; empty for the 4-bit types
  std::string npy_descr;   // "<V2"; empty for the 4-bit types
  int bits = 0;            // per element
  Encoding encoding = Encoding::kNone;

  // Bytes of one element; 0 for the 4-bit types.
  int Size() const { return bits % 8 == 0 ? bits / 8 : 0; }
  bool Servable() const { return encoding != Encoding::kNone; }
  // As reports name it: numpy's name, TensorRT's where numpy has none.
  const std::string& ReportName() const { return numpy_name.empty() ? trt_name : numpy_name; }
};

// The table of one sessions library.
class DataTypes {
 public:
  DataTypes() = default;
  // Every type the library describes, from 0 up.
  static DataTypes Describe(const inferlet_loader::SessionsLibrary& library);
  // The type numbered `value`; throws ToolError (input) for one the table lacks.
  const DataType& Of(int value) const;
  // What a tensor whose configured item size is not its type's holds: bytes (uint8).
  const DataType& Bytes() const;
  const std::vector<DataType>& all() const { return types_; }

 private:
  std::vector<DataType> types_;
};

// Element i of data as a number; the float formats are decoded exactly.
double ElementValue(const DataType& type, const void* data, size_t i);

// One random element at `at`, from rng's raw words (never <random>'s distributions, whose results
// differ between standard libraries). Floats: u in [-1, 1) from 24 random bits, stored as float32,
// as float16 rounded to nearest even, as bfloat16 truncated to the top 16 bits of the float32, as fp8
// e4m3fn truncated toward zero, and as e8m0 the power of two at or below |u| (e8m0 has no sign and
// no zero: 0 gives 2^-127). Integers: uniform over the type's range up to [-128, 127] (uint8 over
// [0, 255]); booleans 0 or 1.
void StoreRandom(const DataType& type, char* at, std::mt19937& rng);

uint16_t FloatToHalf(float value);
float HalfToFloat(uint16_t bits);
uint8_t FloatToFp8E4M3(float value);  // truncated toward zero; |value| < 448
float Fp8E4M3ToFloat(uint8_t bits);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_DATA_TYPES_H_
