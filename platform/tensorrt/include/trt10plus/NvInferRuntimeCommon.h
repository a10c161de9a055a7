// Stand-in TensorRT 10.13 / 11.1: the common declarations of the runtime headers.
#ifndef TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_COMMON_H_
#define TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_COMMON_H_

#define NV_INFER_INTERNAL_INCLUDE 1
#include "NvInferRuntimeBase.h"
#undef NV_INFER_INTERNAL_INCLUDE

#endif  // TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_COMMON_H_
