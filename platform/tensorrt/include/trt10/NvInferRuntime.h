// Stand-in TensorRT 10.13.3: NvInferRuntime.h of the named-tensor generation (include/trt10plus), for this
// version.
#ifndef TRT_STANDIN_10_NV_INFER_RUNTIME_H_
#define TRT_STANDIN_10_NV_INFER_RUNTIME_H_

// The version comes first: the shared declarations depend on it.
// clang-format off
#include "NvInferVersion.h"
#include "../trt10plus/NvInferRuntime.h"
// clang-format on

#endif  // TRT_STANDIN_10_NV_INFER_RUNTIME_H_
