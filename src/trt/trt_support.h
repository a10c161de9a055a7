// The part of the TensorRT seam (trt_binding.h) that every user of TensorRT's API in this tree needs,
// bindings or not: releasing TensorRT's objects, the byte size of its element types, its format names.
#ifndef INFERLET_TRT_SUPPORT_H_
#define INFERLET_TRT_SUPPORT_H_

#include <NvInfer.h>

#include <memory>
#include <string>

// Releases TensorRT objects: through destroy() up to TensorRT 8, the one release call both TensorRT 7
// (protected destructors) and TensorRT 8 accept; by delete from TensorRT 10 on, which has no destroy().
struct TrtDestroyer {
  template <typename T>
  void operator()(T* obj) const {
#if NV_TENSORRT_MAJOR >= 10
    delete obj;
#else
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (obj) obj->destroy();
#pragma GCC diagnostic pop
#endif
  }
};

template <typename T>
using TrtUniquePtr = std::unique_ptr<T, TrtDestroyer>;

// Bytes per element of a binding's data type. Every other type takes one byte: kINT8, kBOOL, kUINT8
// and kFP8, and the 4-bit kINT4 and kFP4 of TensorRT 10 on, whose elements a byte-sized item size
// cannot describe more closely (so a buffer sized from the configuration holds them).
inline int elementSize(nvinfer1::DataType type) {
  switch (type) {
    case nvinfer1::DataType::kFLOAT:
    case nvinfer1::DataType::kINT32:
      return 4;
    case nvinfer1::DataType::kHALF:
      return 2;
#if NV_TENSORRT_MAJOR >= 10
    case nvinfer1::DataType::kBF16:
      return 2;
    case nvinfer1::DataType::kINT64:
      return 8;
#endif
    default:
      return 1;
  }
}

// TensorRT's own name of a format, as its headers spell the enumerator; the number for a value these
// headers do not know.
inline std::string formatName(nvinfer1::TensorFormat format) {
  switch (format) {
    case nvinfer1::TensorFormat::kLINEAR:
      return "kLINEAR";
    case nvinfer1::TensorFormat::kCHW2:
      return "kCHW2";
    case nvinfer1::TensorFormat::kHWC8:
      return "kHWC8";
    case nvinfer1::TensorFormat::kCHW4:
      return "kCHW4";
    case nvinfer1::TensorFormat::kCHW16:
      return "kCHW16";
    case nvinfer1::TensorFormat::kCHW32:
      return "kCHW32";
    case nvinfer1::TensorFormat::kDHWC8:
      return "kDHWC8";
    case nvinfer1::TensorFormat::kCDHW32:
      return "kCDHW32";
    case nvinfer1::TensorFormat::kHWC:
      return "kHWC";
    case nvinfer1::TensorFormat::kDLA_LINEAR:
      return "kDLA_LINEAR";
    case nvinfer1::TensorFormat::kDLA_HWC4:
      return "kDLA_HWC4";
#if NV_TENSORRT_MAJOR >= 8  // kHWC16 came with 8.0
    case nvinfer1::TensorFormat::kHWC16:
      return "kHWC16";
#endif
#if NV_TENSORRT_MAJOR >= 10
    case nvinfer1::TensorFormat::kDHWC:
      return "kDHWC";
#endif
  }
  return std::to_string(static_cast<int>(format));
}

#endif  // INFERLET_TRT_SUPPORT_H_
