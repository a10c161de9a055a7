// Stand-in TensorRT 7.2.3: version numbers of the runtime these headers belong to.
#ifndef TRT_STANDIN_7_NV_INFER_VERSION_H_
#define TRT_STANDIN_7_NV_INFER_VERSION_H_

#define NV_TENSORRT_MAJOR 7
#define NV_TENSORRT_MINOR 2
#define NV_TENSORRT_PATCH 3
#define NV_TENSORRT_BUILD 4

#define NV_TENSORRT_SONAME_MAJOR 7
#define NV_TENSORRT_SONAME_MINOR 2
#define NV_TENSORRT_SONAME_PATCH 3

#endif  // TRT_STANDIN_7_NV_INFER_VERSION_H_
