// The memory formats and locations an engine's inputs and outputs may have, and what each format
// means for the layout: vector width, the axis it vectorizes, where the vectors go.
#ifndef TRT_STANDIN_CORE_TENSOR_FORMAT_H_
#define TRT_STANDIN_CORE_TENSOR_FORMAT_H_

#include <cstdint>
#include <string>

namespace trt_standin {

// Numbered as nvinfer1::TensorFormat.
enum class TensorFormat : uint8_t {
  kLinear = 0,
  kCHW2 = 1,
  kHWC8 = 2,
  kCHW4 = 3,
  kCHW16 = 4,
  kCHW32 = 5,
  kDHWC8 = 6,
  kCDHW32 = 7,
  kHWC = 8,
  kDlaLinear = 9,
  kDlaHWC4 = 10,
  kHWC16 = 11,
  kDHWC = 12,
};
constexpr int kTensorFormatCount = 13;

// Numbered as nvinfer1::TensorLocation.
enum class TensorLocation : uint8_t { kDevice = 0, kHost = 1 };
constexpr int kTensorLocationCount = 2;

// Where a format puts the channel vectors of its vectorized axis C.
enum class VectorPlacement : uint8_t {
  kNone,         // kLINEAR: dense row-major
  kVectorMajor,  // C becomes ceil(C/V) in place, an axis of V scalars is appended
  kChannelLast,  // C moves after the last axis, padded to ceil(C/V)*V
};

struct FormatTraits {
  const char* name;         // "kCHW4"
  const char* description;  // what getBindingFormatDesc / getTensorFormatDesc answer
  int32_t vector_width;     // V: scalars per element
  int spatial_rank;         // 2 (C of [..., C, H, W]), 3 (C of [..., C, D, H, W]), 0 for kLINEAR
  VectorPlacement placement;
  bool dla;             // a DLA format: refused, DLA is not modelled
  int32_t first_major;  // the first TensorRT major that has the format
};

// Null for a value outside the enumeration.
const FormatTraits* format_traits(TensorFormat format);
bool format_from_name(const std::string& name, TensorFormat* format);

// The axis the format vectorizes for a tensor of rank `rank`: rank-3 or rank-4, -1 for kLINEAR.
// Channel-last formats with V = 1 (kHWC, kDHWC) move this axis too, though they report no
// vectorized dimension.
int channel_axis(TensorFormat format, int rank);
// What the engine reports as the vectorized dimension: -1 where an element is one scalar.
int32_t reported_vectorized_dim(TensorFormat format, int rank);
// The least rank the format applies to (3 for 2-D formats, 4 for 3-D ones, 0 for kLINEAR).
int minimum_rank(TensorFormat format);

const char* location_name(TensorLocation location);  // "device", "host"
bool location_from_name(const std::string& name, TensorLocation* location);

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_TENSOR_FORMAT_H_
