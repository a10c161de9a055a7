// Stand-in TensorRT 7.2.3: the main header, which brings in the runtime API.
#ifndef TRT_STANDIN_7_NV_INFER_H_
#define TRT_STANDIN_7_NV_INFER_H_

#include "NvInferRuntime.h"

#endif  // TRT_STANDIN_7_NV_INFER_H_
