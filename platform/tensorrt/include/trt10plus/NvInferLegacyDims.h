// Stand-in TensorRT 10.13 / 11.1: the fixed-rank Dims helpers.
#ifndef TRT_STANDIN_10PLUS_NV_INFER_LEGACY_DIMS_H_
#define TRT_STANDIN_10PLUS_NV_INFER_LEGACY_DIMS_H_

#include "NvInferRuntimeCommon.h"

namespace nvinfer1 {

class Dims2 : public Dims {
 public:
  Dims2() : Dims2(0, 0) {}
  Dims2(int64_t d0, int64_t d1) {
    nbDims = 2;
    d[0] = d0;
    d[1] = d1;
    for (int32_t i = nbDims; i < Dims::MAX_DIMS; ++i) d[i] = 0;
  }
};

class DimsHW : public Dims2 {
 public:
  DimsHW() : Dims2() {}
  DimsHW(int64_t height, int64_t width) : Dims2(height, width) {}
  int64_t& h() { return d[0]; }
  int64_t h() const { return d[0]; }
  int64_t& w() { return d[1]; }
  int64_t w() const { return d[1]; }
};

class Dims3 : public Dims2 {
 public:
  Dims3() : Dims3(0, 0, 0) {}
  Dims3(int64_t d0, int64_t d1, int64_t d2) : Dims2(d0, d1) {
    nbDims = 3;
    d[2] = d2;
  }
};

class Dims4 : public Dims3 {
 public:
  Dims4() : Dims4(0, 0, 0, 0) {}
  Dims4(int64_t d0, int64_t d1, int64_t d2, int64_t d3) : Dims3(d0, d1, d2) {
    nbDims = 4;
    d[3] = d3;
  }
};

}  // namespace nvinfer1

#endif  // TRT_STANDIN_10PLUS_NV_INFER_LEGACY_DIMS_H_
