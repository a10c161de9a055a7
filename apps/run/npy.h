// NumPy .npy files (format 1.0 to 3.0, C order, little endian) for inputs and outputs.
#ifndef INFERLET_APPS_NPY_H_
#define INFERLET_APPS_NPY_H_

#include <cstddef>
#include <string>
#include <vector>

#include "engine_desc.h"

namespace inferlet_run {

// Element kinds a .npy file may hold here: the engine's data types, plus raw bytes for tensors whose
// configured item size does not match their data type.
enum class NpyKind { kFloat32, kFloat16, kInt8, kInt32, kBool, kUint8 };

NpyKind NpyKindOf(DType type);
const char* NpyDescr(NpyKind kind);  // "<f4", "<f2", "|i1", "<i4", "|b1", "|u1"
int NpyItemSize(NpyKind kind);

struct NpyArray {
  NpyKind kind = NpyKind::kFloat32;
  std::vector<size_t> shape;
  std::string data;  // the elements, C order, little endian
};

// Throws ToolError (kExitInput) for a missing file, a malformed header, an unsupported element type,
// Fortran order, big-endian data or a body shorter than the shape says.
NpyArray ReadNpy(const std::string& path);
// Throws ToolError (kExitOutput) when the file cannot be written.
void WriteNpy(const std::string& path, const NpyArray& array);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_NPY_H_
