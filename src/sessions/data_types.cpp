#include "data_types.h"

#include <iterator>

namespace sessions {
namespace {

constexpr size_t kSize = sizeof(inferlet_data_type_info);

// Index = the DataType's value. TensorRT's FP8 is E4M3 without infinities, E8M0 the exponent-only
// scale type; numpy has neither, nor bfloat16, so their .npy form is raw bytes of their size. The 4-bit
// types pack two elements a byte, which no .npy descr says.
constexpr inferlet_data_type_info kTypes[] = {
    {kSize, "kFLOAT", "float32", "<f4", 'f', 32},
    {kSize, "kHALF", "float16", "<f2", 'f', 16},
    {kSize, "kINT8", "int8", "|i1", 'i', 8},
    {kSize, "kINT32", "int32", "<i4", 'i', 32},
    {kSize, "kBOOL", "bool", "|b1", 'b', 8},
    {kSize, "kUINT8", "uint8", "|u1", 'u', 8},
    {kSize, "kFP8", "float8_e4m3fn", "<V1", 'f', 8},
    {kSize, "kBF16", "bfloat16", "<V2", 'f', 16},
    {kSize, "kINT64", "int64", "<i8", 'i', 64},
    {kSize, "kINT4", "", "", 'i', 4},
    {kSize, "kFP4", "", "", 'f', 4},
    {kSize, "kE8M0", "float8_e8m0fnu", "<V1", 'f', 8},
};

}  // namespace

const inferlet_data_type_info* dataTypeInfo(int32_t dtype) {
  if (dtype < 0 || dtype >= static_cast<int32_t>(std::size(kTypes))) return nullptr;
  return &kTypes[dtype];
}

}  // namespace sessions
