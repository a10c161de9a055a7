// The data types of tensors: their names in a network description, their width in bits and the first
// TensorRT major that has them. 4-bit types pack two elements a byte, so a tensor's bytes come from
// tensor_bytes, never from an element count times a byte size.
#ifndef TRT_STANDIN_CORE_ELEMENT_TYPE_H_
#define TRT_STANDIN_CORE_ELEMENT_TYPE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace trt_standin {

// Numbered as nvinfer1::DataType.
enum class ElementType : uint8_t {
  kFloat = 0,
  kHalf = 1,
  kInt8 = 2,
  kInt32 = 3,
  kBool = 4,
  kUint8 = 5,
  kFp8 = 6,
  kBf16 = 7,
  kInt64 = 8,
  kInt4 = 9,
  kFp4 = 10,
  kE8M0 = 11,
};
constexpr int kElementTypeCount = 12;

struct ElementTraits {
  const char* name;        // the description's spelling: "float", "bf16", ...
  const char* enumerator;  // nvinfer1::DataType's: "kFLOAT", "kBF16", ...
  int bits;                // per element
  int first_major;         // the first TensorRT major that has the type
};

// Null for a value outside the enumeration.
const ElementTraits* element_traits(ElementType type);
const char* element_type_name(ElementType type);  // the description's spelling
bool element_type_from_name(const std::string& name, ElementType* type);
// Every name a description may use, for messages: "float, half, ... or e8m0".
std::string element_type_names();

int element_bits(ElementType type);
bool is_packed(ElementType type);  // fewer than 8 bits an element
// Bytes of one element of a byte-sized type; 4-bit tensors are kLINEAR only and never go through
// per-element byte copies.
std::size_t element_size(ElementType type);
// Bytes of count elements: two 4-bit elements share a byte, the last one alone in its byte's low half.
std::size_t tensor_bytes(ElementType type, int64_t count);

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_ELEMENT_TYPE_H_
