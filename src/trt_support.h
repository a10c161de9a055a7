// What every user of TensorRT's API in this tree needs alike: releasing its objects and the byte size
// of its element types. Header-only, so that the tools and benchmarks share it without the library.
#ifndef INFERLET_TRT_SUPPORT_H_
#define INFERLET_TRT_SUPPORT_H_

#include <NvInfer.h>

#include <memory>

// Releases TensorRT objects through destroy(), the one release call both TensorRT 7 (protected
// destructors) and TensorRT 8 accept.
struct TrtDestroyer {
  template <typename T>
  void operator()(T* obj) const {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (obj) obj->destroy();
#pragma GCC diagnostic pop
  }
};

template <typename T>
using TrtUniquePtr = std::unique_ptr<T, TrtDestroyer>;

// Bytes per element of a binding's data type. Every type of TensorRT 7 and 8 other than these
// (kINT8, kBOOL, and kUINT8 and kFP8 from 8.5 on) takes one byte.
inline int elementSize(nvinfer1::DataType type) {
  switch (type) {
    case nvinfer1::DataType::kFLOAT:
    case nvinfer1::DataType::kINT32:
      return 4;
    case nvinfer1::DataType::kHALF:
      return 2;
    default:
      return 1;
  }
}

#endif  // INFERLET_TRT_SUPPORT_H_
