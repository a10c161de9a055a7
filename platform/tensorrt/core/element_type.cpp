#include "element_type.h"

namespace trt_standin {
namespace {

constexpr ElementTraits kTypes[kElementTypeCount] = {
    {"float", "kFLOAT", 32, 7}, {"half", "kHALF", 16, 7},  {"int8", "kINT8", 8, 7},
    {"int32", "kINT32", 32, 7}, {"bool", "kBOOL", 8, 7},   {"uint8", "kUINT8", 8, 10},
    {"fp8", "kFP8", 8, 10},     {"bf16", "kBF16", 16, 10}, {"int64", "kINT64", 64, 10},
    {"int4", "kINT4", 4, 10},   {"fp4", "kFP4", 4, 10},    {"e8m0", "kE8M0", 8, 10},
};

}  // namespace

const ElementTraits* element_traits(ElementType type) {
  const int index = static_cast<int>(type);
  return index < kElementTypeCount ? &kTypes[index] : nullptr;
}

const char* element_type_name(ElementType type) { return kTypes[static_cast<int>(type)].name; }

bool element_type_from_name(const std::string& name, ElementType* type) {
  for (int i = 0; i < kElementTypeCount; ++i) {
    if (name == kTypes[i].name) {
      *type = static_cast<ElementType>(i);
      return true;
    }
  }
  return false;
}

std::string element_type_names() {
  std::string names;
  for (int i = 0; i < kElementTypeCount; ++i) {
    if (i > 0) names += i + 1 == kElementTypeCount ? " or " : ", ";
    names += kTypes[i].name;
  }
  return names;
}

int element_bits(ElementType type) { return kTypes[static_cast<int>(type)].bits; }

bool is_packed(ElementType type) { return element_bits(type) < 8; }

std::size_t element_size(ElementType type) { return static_cast<std::size_t>(element_bits(type) / 8); }

std::size_t tensor_bytes(ElementType type, int64_t count) {
  const auto elements = static_cast<std::size_t>(count < 0 ? 0 : count);
  return (elements * static_cast<std::size_t>(element_bits(type)) + 7) / 8;
}

}  // namespace trt_standin
