// Where each scalar of a tensor lies in the layout of a format, and the conversions between that
// layout and the dense row-major tensors the layers compute on.
//
// An element is one vector of V scalars (V the format's vector width). The layout is a row-major
// grid of elements over the tensor's axes, the vectorized axis C counted in vectors (ceil(C/V));
// vector-major formats keep C in place, channel-last formats move it after the last axis. Lanes
// past C are padding.
#ifndef TRT_STANDIN_CORE_LAYOUT_H_
#define TRT_STANDIN_CORE_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "network.h"
#include "tensor_format.h"

namespace trt_standin {

// Per axis of dims, in elements (dense row-major strides for kLINEAR). An extent below 0 (not known
// yet) counts as 0.
std::vector<int64_t> element_strides(TensorFormat format, const Shape& dims);

// Scalars the layout holds, padding included.
int64_t layout_scalars(TensorFormat format, const Shape& dims);

// laid_out holds layout_scalars(format, dims) scalars of element_bytes each; padding is written as
// zeros. Plain host code, so both may run inside a CUDA host function.
void dense_to_layout(TensorFormat format, const Shape& dims, std::size_t element_bytes, const void* dense,
                     void* laid_out);
void layout_to_dense(TensorFormat format, const Shape& dims, std::size_t element_bytes, const void* laid_out,
                     void* dense);

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_LAYOUT_H_
