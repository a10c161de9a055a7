// Stand-in TensorRT 8.0.1: version numbers of the runtime these headers belong to.
#ifndef TRT_STANDIN_8_NV_INFER_VERSION_H_
#define TRT_STANDIN_8_NV_INFER_VERSION_H_

#define NV_TENSORRT_MAJOR 8
#define NV_TENSORRT_MINOR 0
#define NV_TENSORRT_PATCH 1
#define NV_TENSORRT_BUILD 6

#define NV_TENSORRT_SONAME_MAJOR 8
#define NV_TENSORRT_SONAME_MINOR 0
#define NV_TENSORRT_SONAME_PATCH 1

#endif  // TRT_STANDIN_8_NV_INFER_VERSION_H_
