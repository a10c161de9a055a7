// Strict mode: TensorRT configures a context (plugins' configurePlugin, its layers' resources) on the
// host at each enqueue, captured ones included, for the input shapes and profile of that enqueue, and
// nothing promises that a graph captured for others still computes right after that. A replay of a
// graph captured for another configuration than the context's last enqueue is counted
// ("stale_graph_replays") and writes every output as 0xFF bytes (NaN in float) instead of computing.
#ifndef TRT_STANDIN_RUNTIME_STALE_REPLAY_H_
#define TRT_STANDIN_RUNTIME_STALE_REPLAY_H_

#include "context.h"

namespace trt_standin {

// True when launch is such a replay; its outputs are then written as above.
bool stale_replay(const ExecutionContext::Launch& launch);

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_STALE_REPLAY_H_
