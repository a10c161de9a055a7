// NumPy .npy files (format 1.0 to 3.0, C order, little endian) for inputs and outputs.
#ifndef INFERLET_APPS_NPY_H_
#define INFERLET_APPS_NPY_H_

#include <cstddef>
#include <string>
#include <vector>

namespace inferlet_run {

// The element types a .npy file may hold here, by their descr as the data-type table writes them:
// float32 "<f4", float16 "<f2", int8 "|i1", int32 "<i4", int64 "<i8", bool "|b1", uint8 "|u1", and the
// raw bytes of the types numpy lacks ("<V2" for bfloat16, "<V1" for the 8-bit floats). uint8 is also
// the bytes of a tensor whose configured item size is not its data type's.
constexpr const char* kNpyBytes = "|u1";
int NpyItemSize(const std::string& descr);  // its digits: "<i8" 8

struct NpyArray {
  std::string descr = "<f4";
  std::vector<size_t> shape;
  std::string data;  // the elements, C order, little endian
};

// Throws ToolError (kExitInput) for a missing file, a malformed header, an unsupported element type,
// Fortran order, big-endian data or a body shorter than the shape says. The descr is answered as
// above: '|' for one-byte numbers, '<' for raw bytes ("|V2" read as "<V2") and wider numbers.
NpyArray ReadNpy(const std::string& path);
// Throws ToolError (kExitOutput) when the file cannot be written.
void WriteNpy(const std::string& path, const NpyArray& array);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_NPY_H_
