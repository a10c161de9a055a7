// Read access to trt_engine_core's private state for the library's own tests (the class names this
// peer as a friend), plus a way to call prepare() on its own.
#ifndef INFERLET_TESTS_ENGINE_PEER_H_
#define INFERLET_TESTS_ENGINE_PEER_H_

#include <cuda_runtime_api.h>

#include <vector>

#include "engine_infer.h"

class trt_engine_core_peer {
 public:
  static const std::vector<S_net_info>& NetInfos(const trt_engine_core& core) { return core.mNetInfos; }
  static const std::vector<void*>& Bindings(const trt_engine_core& core) { return core.mBindings; }
  static cudaStream_t Stream(const trt_engine_core& core) { return core.mStream; }
  static cudaGraphExec_t GraphExec(const trt_engine_core& core) { return core.mGraphExec; }
  static bool HasEngine(const trt_engine_core& core) { return core.mEngine != nullptr; }
  static bool HasContext(const trt_engine_core& core) { return core.mContext != nullptr; }
  static int Prepare(trt_engine_core& core, int profile, int batch_size) {
    return core.prepare(profile, batch_size);
  }
};

#endif  // INFERLET_TESTS_ENGINE_PEER_H_
