// Stand-in TensorRT 10.13 / 11.1: the main header, which brings in the runtime API.
#ifndef TRT_STANDIN_10PLUS_NV_INFER_H_
#define TRT_STANDIN_10PLUS_NV_INFER_H_

#include "NvInferLegacyDims.h"
#include "NvInferRuntime.h"

#endif  // TRT_STANDIN_10PLUS_NV_INFER_H_
