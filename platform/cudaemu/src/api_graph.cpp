// Exported graph calls. Graphs come only from stream capture.
#include <cuda_runtime_api.h>

#include <memory>

#include "access.h"
#include "api_call.h"
#include "capture.h"
#include "engine.h"

using cudaemu::ApiCall;
using cudaemu::as_arg;
using cudaemu::Lock;

namespace {

// The real runtime checks the nodes' memory when it instantiates: a node whose memory was freed since
// its capture (an allocation freed inside a Relaxed capture) makes cudaGraphInstantiate answer
// cudaErrorInvalidValue. Here that is a violation too. Staged pageable sources are the emulator's own.
cudaError_t check_nodes(cudaemu::Emulator& emu, const cudaemu::OpList& nodes) {
  for (const cudaemu::Op& node : nodes) {
    if (node.kind == cudaemu::Op::Kind::HostFn) continue;
    const cudaemu::AccessCheck check = node.kind == cudaemu::Op::Kind::Memset || node.staged
                                           ? cudaemu::check_memset(emu.memory, node.dst, node.count)
                                           : cudaemu::recheck_copy(emu.memory, node);
    if (check.error != cudaSuccess) {
      emu.note_violation("cudaGraphInstantiate: " + check.problem);
      return check.error;
    }
  }
  return cudaSuccess;
}

}  // namespace

extern "C" {

cudaError_t cudaGraphInstantiate(cudaGraphExec_t* pGraphExec, cudaGraph_t graph, unsigned long long flags) {
  ApiCall call("cudaGraphInstantiate", {0, as_arg(graph), static_cast<std::uintptr_t>(flags)});
  if (call.answered_early()) return call.early_result();
  constexpr unsigned long long kKnownFlags =
      cudaGraphInstantiateFlagAutoFreeOnLaunch | cudaGraphInstantiateFlagUpload |
      cudaGraphInstantiateFlagDeviceLaunch | cudaGraphInstantiateFlagUseNodePriority;
  if (pGraphExec == nullptr || graph == nullptr || (flags & ~kKnownFlags) != 0)
    return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  auto it = emu.graphs.find(graph);
  if (it == emu.graphs.end()) return call.finish(cudaErrorInvalidResourceHandle);
  const cudaError_t nodes = check_nodes(emu, it->second->nodes);
  if (nodes != cudaSuccess) return call.finish(nodes);
  auto exec = std::make_unique<cudaemu::GraphExec>();
  exec->device = it->second->device;
  exec->nodes = std::make_shared<const cudaemu::OpList>(it->second->nodes);
  auto handle = reinterpret_cast<cudaGraphExec_t>(exec.get());
  emu.execs.emplace(handle, std::move(exec));
  *pGraphExec = handle;
  call.set_arg(0, as_arg(handle));
  return call.finish(cudaSuccess);
}

cudaError_t cudaGraphLaunch(cudaGraphExec_t graphExec, cudaStream_t stream) {
  ApiCall call("cudaGraphLaunch", {as_arg(graphExec), as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  if (graphExec == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  auto it = emu.execs.find(graphExec);
  if (it == emu.execs.end()) return call.finish(cudaErrorInvalidResourceHandle);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<cudaemu::Stream> s = cudaemu::stream_for_use(emu, stream, true, &refused);
  if (!s) return call.finish(refused);
  // Device work: only into a stream of the current device, and only a graph of that device.
  if (emu.is_foreign(*s) || it->second->device != s->device)
    return call.finish(cudaErrorInvalidResourceHandle);
  std::shared_ptr<const cudaemu::OpList> nodes = it->second->nodes;
  if (s->capture.status != cudaStreamCaptureStatusNone) {
    std::uint64_t unused = 0;
    return call.finish(cudaemu::submit(emu, *s, *nodes, &unused));
  }
  // "Each launch is ordered behind both any previous work in stream and any previous launches of
  // graphExec": behind a launch into another stream that has not run, the launch waits for it.
  cudaemu::GraphExec& exec = *it->second;
  if (exec.last_stream && exec.last_stream != s && !cudaemu::has_run(*exec.last_stream, exec.last_seq))
    cudaemu::enqueue_wait(emu, *s, exec.last_stream, exec.last_seq + 1);
  // Queued as one item sharing the snapshot, so destroying the executable graph meanwhile is safe.
  exec.last_seq = cudaemu::enqueue(emu, *s, std::move(nodes));
  exec.last_stream = std::move(s);
  return call.finish(cudaSuccess);
}

cudaError_t cudaGraphDestroy(cudaGraph_t graph) {
  ApiCall call("cudaGraphDestroy", {as_arg(graph)});
  if (call.answered_early()) return call.early_result();
  if (graph == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  if (emu.graphs.erase(graph) == 0) return call.finish(cudaErrorInvalidResourceHandle);
  return call.finish(cudaSuccess);
}

cudaError_t cudaGraphExecDestroy(cudaGraphExec_t graphExec) {
  ApiCall call("cudaGraphExecDestroy", {as_arg(graphExec)});
  if (call.answered_early()) return call.early_result();
  if (graphExec == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  if (emu.execs.erase(graphExec) == 0) return call.finish(cudaErrorInvalidResourceHandle);
  return call.finish(cudaSuccess);
}

}  // extern "C"
