// Host computation of the layers, in float32 (identity copies bytes of any type).
#ifndef TRT_STANDIN_CORE_LAYERS_H_
#define TRT_STANDIN_CORE_LAYERS_H_

#include <vector>

#include "graph.h"

namespace trt_standin {

// Runs every layer in order. shapes comes from infer_shapes; buffers[t] holds tensor t and is large
// enough for shapes[t]. Calls nothing but plain host code, so it may run inside a CUDA host function.
// A data-dependent tensor t gets its elements first and zeros up to its upper bound; when produced is
// given, (*produced)[t] is then the number of elements computed (-1 for the other tensors).
void run_graph(const Graph& graph, const std::vector<Shape>& shapes, const std::vector<void*>& buffers,
               std::vector<int64_t>* produced = nullptr);

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_LAYERS_H_
