#include "layers.h"

#include <algorithm>
#include <cstring>

namespace trt_standin {
namespace {

template <typename T, typename Op>
void elementwise(const void* x, const void* y, void* out, int64_t n, Op op) {
  const auto* a = static_cast<const T*>(x);
  const auto* b = static_cast<const T*>(y);
  auto* r = static_cast<T*>(out);
  for (int64_t i = 0; i < n; ++i) r[i] = op(a[i], b[i]);
}

// int64 wraps around on overflow, as the GPU's integer arithmetic does (no undefined behaviour here).
int64_t wrapped(uint64_t v) { return static_cast<int64_t>(v); }

void elementwise_int64(LayerOp op, const void* x, const void* y, void* out, int64_t n) {
  using U = uint64_t;
  switch (op) {
    case LayerOp::kAdd:
      return elementwise<int64_t>(x, y, out, n, [](int64_t a, int64_t b) { return wrapped(U(a) + U(b)); });
    case LayerOp::kSub:
      return elementwise<int64_t>(x, y, out, n, [](int64_t a, int64_t b) { return wrapped(U(a) - U(b)); });
    case LayerOp::kMul:
      return elementwise<int64_t>(x, y, out, n, [](int64_t a, int64_t b) { return wrapped(U(a) * U(b)); });
    default:
      return elementwise<int64_t>(x, y, out, n, [](int64_t a, int64_t b) { return std::max(a, b); });
  }
}

// out[r, m] = bias[m] + sum_k x[r, k] * w[k, m]
void dense(const float* x, const Layer& l, int64_t rows, int64_t features, float* out) {
  const int64_t units = l.units;
  for (int64_t r = 0; r < rows; ++r) {
    const float* xr = x + r * features;
    float* yr = out + r * units;
    std::copy(l.bias.begin(), l.bias.end(), yr);
    for (int64_t k = 0; k < features; ++k) {
      const float* wk = l.weights.data() + k * units;
      for (int64_t m = 0; m < units; ++m) yr[m] += xr[k] * wk[m];
    }
  }
}

// Valid cross-correlation along the last axis: out[r, k] = bias + sum_t w[t] * x[r, k + t]
void conv1d(const float* x, const Layer& l, int64_t rows, int64_t length, float* out) {
  const int64_t taps = static_cast<int64_t>(l.weights.size());
  const int64_t out_length = length - taps + 1;
  const float bias = l.bias.empty() ? 0.0f : l.bias[0];
  for (int64_t r = 0; r < rows; ++r) {
    const float* xr = x + r * length;
    float* yr = out + r * out_length;
    for (int64_t k = 0; k < out_length; ++k) {
      float acc = bias;
      for (int64_t t = 0; t < taps; ++t) acc += l.weights[t] * xr[k + t];
      yr[k] = acc;
    }
  }
}

// The elements > 0 in order, then zeros up to n; returns how many were kept.
int64_t keep_positive(const float* x, int64_t n, float* out) {
  int64_t kept = 0;
  for (int64_t i = 0; i < n; ++i) {
    if (x[i] > 0.0f) out[kept++] = x[i];
  }
  std::fill(out + kept, out + n, 0.0f);
  return kept;
}

void run_layer(const Graph& graph, std::size_t index, const std::vector<Shape>& shapes,
               const std::vector<void*>& buffers) {
  const Layer& l = graph.network.layers[index];
  const std::vector<int>& in = graph.layer_inputs[index];
  const int out_id = graph.layer_output_tensor(static_cast<int>(index));
  const Shape& in_shape = shapes[in[0]];
  const int64_t n = volume(in_shape);
  const auto* x = static_cast<const float*>(buffers[in[0]]);
  const void* y = in.size() > 1 ? buffers[in[1]] : nullptr;
  auto* out = static_cast<float*>(buffers[out_id]);
  const int64_t last = in_shape.empty() ? 1 : in_shape.back();
  const int64_t rows = last > 0 ? n / last : 0;

  if (layer_op_arity(l.op) == 2 && graph.tensor_types[in[0]] == ElementType::kInt64) {
    return elementwise_int64(l.op, x, y, out, n);
  }
  switch (l.op) {
    case LayerOp::kAdd:
      return elementwise<float>(x, y, out, n, [](float a, float b) { return a + b; });
    case LayerOp::kSub:
      return elementwise<float>(x, y, out, n, [](float a, float b) { return a - b; });
    case LayerOp::kMul:
      return elementwise<float>(x, y, out, n, [](float a, float b) { return a * b; });
    case LayerOp::kMax:
      return elementwise<float>(x, y, out, n, [](float a, float b) { return std::max(a, b); });
    case LayerOp::kRelu:
      for (int64_t i = 0; i < n; ++i) out[i] = x[i] > 0.0f ? x[i] : 0.0f;
      return;
    case LayerOp::kScale:
    case LayerOp::kScaleInPlace:  // into staging; the enqueue copies it to the shared device memory
    case LayerOp::kPlugin:        // a and b are the plugin creator's, set when the engine was deserialized
      for (int64_t i = 0; i < n; ++i) out[i] = l.a * x[i] + l.b;
      return;
    case LayerOp::kDense:
      return dense(x, l, rows, last, out);
    case LayerOp::kConv1d:
      return conv1d(x, l, rows, last, out);
    case LayerOp::kKeepPositive:  // run_graph's own: it records the count
      return;
    case LayerOp::kReshape:  // the same elements in other extents
    case LayerOp::kIdentity: {
      const std::size_t bytes = tensor_bytes(graph.tensor_types[in[0]], n);
      if (bytes != 0) std::memcpy(buffers[out_id], buffers[in[0]], bytes);
      return;
    }
  }
}

}  // namespace

void run_graph(const Graph& graph, const std::vector<Shape>& shapes, const std::vector<void*>& buffers,
               std::vector<int64_t>* produced) {
  if (produced != nullptr) produced->assign(graph.tensor_names.size(), -1);
  for (std::size_t i = 0; i < graph.network.layers.size(); ++i) {
    if (graph.network.layers[i].op != LayerOp::kKeepPositive) {
      run_layer(graph, i, shapes, buffers);
      continue;
    }
    const int in = graph.layer_inputs[i][0];
    const int out = graph.layer_output_tensor(static_cast<int>(i));
    const int64_t kept = keep_positive(static_cast<const float*>(buffers[in]), volume(shapes[in]),
                                       static_cast<float*>(buffers[out]));
    if (produced != nullptr) (*produced)[out] = kept;
  }
}

}  // namespace trt_standin
