#include "tensor_format.h"

namespace trt_standin {
namespace {

using P = VectorPlacement;

// The descriptions are this runtime's own; each ends with the format's name in parentheses.
constexpr FormatTraits kFormats[kTensorFormatCount] = {
    {"kLINEAR", "dense row-major, the last axis varying fastest (kLINEAR)", 1, 0, P::kNone, false, 7},
    {"kCHW2",
     "vector-major, 2 channels per vector: C replaced by ceil(C/2) vectors, their lanes innermost (kCHW2)", 2,
     2, P::kVectorMajor, false, 7},
    {"kHWC8", "channel-last, 8 channels per vector: C moved innermost, padded to a multiple of 8 (kHWC8)", 8,
     2, P::kChannelLast, false, 7},
    {"kCHW4",
     "vector-major, 4 channels per vector: C replaced by ceil(C/4) vectors, their lanes innermost (kCHW4)", 4,
     2, P::kVectorMajor, false, 7},
    {"kCHW16",
     "vector-major, 16 channels per vector: C replaced by ceil(C/16) vectors, their lanes innermost (kCHW16)",
     16, 2, P::kVectorMajor, false, 7},
    {"kCHW32",
     "vector-major, 32 channels per vector: C replaced by ceil(C/32) vectors, their lanes innermost (kCHW32)",
     32, 2, P::kVectorMajor, false, 7},
    {"kDHWC8",
     "channel-last over depth, height and width, 8 channels per vector: C moved innermost, padded to a "
     "multiple "
     "of 8 (kDHWC8)",
     8, 3, P::kChannelLast, false, 7},
    {"kCDHW32",
     "vector-major over depth, height and width, 32 channels per vector: C replaced by ceil(C/32) vectors, "
     "their "
     "lanes innermost (kCDHW32)",
     32, 3, P::kVectorMajor, false, 7},
    {"kHWC", "channel-last, one channel per element: C moved innermost, unpadded (kHWC)", 1, 2,
     P::kChannelLast, false, 7},
    {"kDLA_LINEAR", "a DLA layout, which this runtime does not model (kDLA_LINEAR)", 1, 0, P::kNone, true, 7},
    {"kDLA_HWC4", "a DLA layout, which this runtime does not model (kDLA_HWC4)", 4, 2, P::kChannelLast, true,
     7},
    {"kHWC16", "channel-last, 16 channels per vector: C moved innermost, padded to a multiple of 16 (kHWC16)",
     16, 2, P::kChannelLast, false, 8},
    {"kDHWC",
     "channel-last over depth, height and width, one channel per element: C moved innermost, unpadded "
     "(kDHWC)",
     1, 3, P::kChannelLast, false, 10},
};

constexpr const char* kLocationNames[kTensorLocationCount] = {"device", "host"};

}  // namespace

const FormatTraits* format_traits(TensorFormat format) {
  const int index = static_cast<int>(format);
  return index < kTensorFormatCount ? &kFormats[index] : nullptr;
}

bool format_from_name(const std::string& name, TensorFormat* format) {
  for (int i = 0; i < kTensorFormatCount; ++i) {
    if (name == kFormats[i].name) {
      *format = static_cast<TensorFormat>(i);
      return true;
    }
  }
  return false;
}

int channel_axis(TensorFormat format, int rank) {
  const FormatTraits* traits = format_traits(format);
  if (traits == nullptr || traits->placement == P::kNone) return -1;
  return rank - 1 - traits->spatial_rank;
}

int32_t reported_vectorized_dim(TensorFormat format, int rank) {
  const FormatTraits* traits = format_traits(format);
  if (traits == nullptr || traits->vector_width == 1) return -1;
  return channel_axis(format, rank);
}

int minimum_rank(TensorFormat format) {
  const FormatTraits* traits = format_traits(format);
  return traits == nullptr || traits->placement == P::kNone ? 0 : traits->spatial_rank + 1;
}

const char* location_name(TensorLocation location) {
  const int index = static_cast<int>(location);
  return index < kTensorLocationCount ? kLocationNames[index] : "unknown";
}

bool location_from_name(const std::string& name, TensorLocation* location) {
  for (int i = 0; i < kTensorLocationCount; ++i) {
    if (name == kLocationNames[i]) {
      *location = static_cast<TensorLocation>(i);
      return true;
    }
  }
  return false;
}

}  // namespace trt_standin
