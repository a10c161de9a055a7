// cudaGraphInstantiate in the form the toolkit in use declares, for both interfaces of the library:
// CUDA 12 dropped the error-node and log arguments of the older five-argument call.
#ifndef INFERLET_CUDA_GRAPH_H_
#define INFERLET_CUDA_GRAPH_H_

#include <cuda_runtime_api.h>

inline cudaError_t instantiateGraph(cudaGraphExec_t* exec, cudaGraph_t graph) {
#if CUDART_VERSION >= 12000
  return cudaGraphInstantiate(exec, graph, 0);
#else
  return cudaGraphInstantiate(exec, graph, nullptr, nullptr, 0);
#endif
}

#endif  // INFERLET_CUDA_GRAPH_H_
