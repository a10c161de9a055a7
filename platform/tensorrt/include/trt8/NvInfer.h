// Stand-in TensorRT 8.0.1: the main header, which brings in the runtime API.
#ifndef TRT_STANDIN_8_NV_INFER_H_
#define TRT_STANDIN_8_NV_INFER_H_

#include "NvInferRuntime.h"

#endif  // TRT_STANDIN_8_NV_INFER_H_
