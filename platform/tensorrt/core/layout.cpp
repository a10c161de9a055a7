#include "layout.h"

#include <cstring>

namespace trt_standin {
namespace {

int64_t known(int32_t extent) { return extent < 0 ? 0 : extent; }

// The element grid of a format over dims.
struct Grid {
  int channel = -1;   // the vectorized (or moved) axis; -1 for a dense layout
  int64_t width = 1;  // scalars per element
  std::vector<int64_t> strides;
  int64_t elements = 1;
};

Grid grid_of(TensorFormat format, const Shape& dims) {
  const int rank = static_cast<int>(dims.size());
  const FormatTraits* traits = format_traits(format);
  Grid g;
  g.channel = channel_axis(format, rank);
  if (traits == nullptr || g.channel < 0) g.channel = -1;
  if (g.channel >= 0) g.width = traits->vector_width;

  std::vector<int> order;  // axes from outermost to innermost
  for (int a = 0; a < rank; ++a) {
    if (a != g.channel || traits->placement != VectorPlacement::kChannelLast) order.push_back(a);
  }
  if (g.channel >= 0 && traits->placement == VectorPlacement::kChannelLast) order.push_back(g.channel);

  g.strides.assign(rank, 0);
  for (int k = rank - 1; k >= 0; --k) {
    const int a = order[k];
    g.strides[a] = g.elements;
    const int64_t extent = known(dims[a]);
    g.elements *= a == g.channel ? (extent + g.width - 1) / g.width : extent;
  }
  return g;
}

// Copies every scalar of the dense tensor to or from its place in the layout.
void convert(TensorFormat format, const Shape& dims, std::size_t element_bytes, const unsigned char* from,
             unsigned char* to, bool to_layout) {
  const Grid g = grid_of(format, dims);
  const int rank = static_cast<int>(dims.size());
  int64_t total = 1;
  for (int32_t d : dims) total *= known(d);
  if (to_layout) std::memset(to, 0, static_cast<std::size_t>(g.elements * g.width) * element_bytes);
  std::vector<int64_t> index(rank, 0);
  for (int64_t n = 0; n < total; ++n) {
    int64_t element = 0;
    for (int a = 0; a < rank; ++a) element += (a == g.channel ? index[a] / g.width : index[a]) * g.strides[a];
    const int64_t scalar = element * g.width + (g.channel >= 0 ? index[g.channel] % g.width : 0);
    const std::size_t dense_at = static_cast<std::size_t>(n) * element_bytes;
    const std::size_t layout_at = static_cast<std::size_t>(scalar) * element_bytes;
    if (to_layout) {
      std::memcpy(to + layout_at, from + dense_at, element_bytes);
    } else {
      std::memcpy(to + dense_at, from + layout_at, element_bytes);
    }
    for (int a = rank - 1; a >= 0; --a) {
      if (++index[a] < dims[a]) break;
      index[a] = 0;
    }
  }
}

}  // namespace

std::vector<int64_t> element_strides(TensorFormat format, const Shape& dims) {
  return grid_of(format, dims).strides;
}

int64_t layout_scalars(TensorFormat format, const Shape& dims) {
  const Grid g = grid_of(format, dims);
  return g.elements * g.width;
}

void dense_to_layout(TensorFormat format, const Shape& dims, std::size_t element_bytes, const void* dense,
                     void* laid_out) {
  convert(format, dims, element_bytes, static_cast<const unsigned char*>(dense),
          static_cast<unsigned char*>(laid_out), true);
}

void layout_to_dense(TensorFormat format, const Shape& dims, std::size_t element_bytes, const void* laid_out,
                     void* dense) {
  convert(format, dims, element_bytes, static_cast<const unsigned char*>(laid_out),
          static_cast<unsigned char*>(dense), false);
}

}  // namespace trt_standin
