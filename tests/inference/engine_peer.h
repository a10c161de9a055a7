// Read access to trt_engine_core's internals for the inference tests (the class names this peer as a
// friend), plus a way to call prepare() on its own.
#ifndef INFERLET_TESTS_INFERENCE_ENGINE_PEER_H_
#define INFERLET_TESTS_INFERENCE_ENGINE_PEER_H_

#include <vector>

#include "engine_infer.h"

class trt_engine_core_peer {
 public:
  static const std::vector<void*>& Bindings(const trt_engine_core& core) { return core.mBindings; }
  static const std::vector<S_net_info>& NetInfos(const trt_engine_core& core) { return core.mNetInfos; }
  static cudaGraphExec_t GraphExec(const trt_engine_core& core) { return core.mGraphExec; }
  static cudaStream_t Stream(const trt_engine_core& core) { return core.mStream; }
  static int Prepare(trt_engine_core& core, int profile, int batch_size) {
    return core.prepare(profile, batch_size);
  }
};

#endif  // INFERLET_TESTS_INFERENCE_ENGINE_PEER_H_
