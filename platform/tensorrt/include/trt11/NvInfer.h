// Stand-in TensorRT 11.1.0: NvInfer.h of the named-tensor generation (include/trt10plus), for this version.
#ifndef TRT_STANDIN_11_NV_INFER_H_
#define TRT_STANDIN_11_NV_INFER_H_

// The version comes first: the shared declarations depend on it.
// clang-format off
#include "NvInferVersion.h"
#include "../trt10plus/NvInfer.h"
// clang-format on

#endif  // TRT_STANDIN_11_NV_INFER_H_
