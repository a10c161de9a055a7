// Exported stream, host function and capture calls.
#include <cuda_runtime_api.h>

#include <memory>
#include <thread>

#include "api_call.h"
#include "capture.h"
#include "engine.h"

using cudaemu::ApiCall;
using cudaemu::as_arg;
using cudaemu::Lock;
using cudaemu::Stream;
using cudaemu::StreamKind;

namespace {

cudaError_t create_stream(ApiCall& call, cudaStream_t* pStream, StreamKind kind) {
  auto& emu = call.emu();
  Lock lock(emu.mu);
  if (cudaError_t refused = cudaemu::refuse_unsafe_call(emu)) return call.finish(refused);
  auto stream = std::make_shared<Stream>(emu.current_device(), kind);
  auto handle = reinterpret_cast<cudaStream_t>(stream.get());
  emu.streams.emplace(handle, std::move(stream));
  *pStream = handle;
  call.set_arg(0, as_arg(handle));
  return call.finish(cudaSuccess);
}

}  // namespace

extern "C" {

cudaError_t cudaStreamCreateWithFlags(cudaStream_t* pStream, unsigned int flags) {
  ApiCall call("cudaStreamCreateWithFlags", {0, flags});
  if (call.answered_early()) return call.early_result();
  if (pStream == nullptr || (flags & ~static_cast<unsigned>(cudaStreamNonBlocking)) != 0)
    return call.finish(cudaErrorInvalidValue);
  return create_stream(call, pStream,
                       (flags & cudaStreamNonBlocking) ? StreamKind::NonBlocking : StreamKind::Blocking);
}

cudaError_t cudaStreamCreate(cudaStream_t* pStream) {
  ApiCall call("cudaStreamCreate", {});
  if (call.answered_early()) return call.early_result();
  if (pStream == nullptr) return call.finish(cudaErrorInvalidValue);
  return create_stream(call, pStream, StreamKind::Blocking);
}

cudaError_t cudaStreamDestroy(cudaStream_t stream) {
  ApiCall call("cudaStreamDestroy", {as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  auto it = emu.streams.find(stream);
  if (cudaemu::is_default_stream_handle(stream) || it == emu.streams.end())
    return call.finish(cudaErrorInvalidResourceHandle);
  std::shared_ptr<Stream> doomed = it->second;
  // An unfinished capture dies with its stream; queued work still runs.
  doomed->capture = cudaemu::Capture{};
  if (emu.settings.strict) {
    // As CUDA documents: the call returns at once and the work runs later, when something waits for
    // it (a device synchronization, legacy-stream work for a blocking stream, a cudaFree of memory it
    // names). The stream object keeps the work, and whatever the emulator holds for it, until then.
    emu.streams.erase(it);
    if (!doomed->queue.empty() || doomed->busy) emu.retired.push_back(std::move(doomed));
    return call.finish(cudaSuccess);
  }
  cudaemu::drain(emu, lock, *doomed, cudaemu::kAllWork);
  emu.streams.erase(stream);
  return call.finish(cudaSuccess);
}

cudaError_t cudaStreamSynchronize(cudaStream_t stream) {
  ApiCall call("cudaStreamSynchronize", {as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<Stream> s = cudaemu::stream_for_use(emu, stream, true, &refused);
  if (!s) return call.finish(refused);
  if (s->capturing()) {
    cudaemu::invalidate(*s);
    return call.finish(cudaErrorStreamCaptureUnsupported);
  }
  if ((refused = cudaemu::refuse_unsafe_call(emu)) != cudaSuccess) return call.finish(refused);
  std::uint64_t until = emu.next_seq;
  // The legacy stream also waits for earlier work of blocking streams: an empty item carries that.
  if (s->kind == StreamKind::Legacy)
    until = cudaemu::enqueue(emu, *s, std::make_shared<const cudaemu::OpList>()) + 1;
  cudaemu::drain(emu, lock, *s, until);
  return call.finish(cudaSuccess);  // a fault the work hit answers through the sticky state
}

cudaError_t cudaStreamIsCapturing(cudaStream_t stream, enum cudaStreamCaptureStatus* pCaptureStatus) {
  ApiCall call("cudaStreamIsCapturing", {as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  if (pCaptureStatus == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<Stream> s = cudaemu::stream_for_use(emu, stream, false, &refused);
  if (!s) return call.finish(refused);
  *pCaptureStatus = s->capture.status;
  call.set_arg(1, static_cast<std::uintptr_t>(s->capture.status));
  return call.finish(cudaSuccess);
}

// A query like cudaStreamIsCapturing: 0, cudaStreamLegacy and cudaStreamPerThread answer the current
// device, and the legacy stream is refused (not invalidated) while a blocking stream of it captures.
cudaError_t cudaStreamGetDevice(cudaStream_t hStream, int* device) {
  ApiCall call("cudaStreamGetDevice", {as_arg(hStream)});
  if (call.answered_early()) return call.early_result();
  if (device == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<Stream> s = cudaemu::stream_for_use(emu, hStream, false, &refused);
  if (!s) return call.finish(refused);
  *device = s->device;
  call.set_arg(1, static_cast<std::uintptr_t>(s->device));
  return call.finish(cudaSuccess);
}

cudaError_t cudaLaunchHostFunc(cudaStream_t stream, cudaHostFn_t fn, void* userData) {
  ApiCall call("cudaLaunchHostFunc",
               {as_arg(stream), reinterpret_cast<std::uintptr_t>(fn), as_arg(userData)});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<Stream> s = cudaemu::stream_for_use(emu, stream, true, &refused);
  if (!s) return call.finish(refused);
  if (fn == nullptr) return call.finish(cudaErrorInvalidValue);
  // What stands for a kernel here: refused in a stream of another device, as a kernel launch is.
  if (emu.is_foreign(*s)) return call.finish(cudaErrorInvalidResourceHandle);
  cudaemu::Op op;
  op.kind = cudaemu::Op::Kind::HostFn;
  op.fn = fn;
  op.user_data = userData;
  std::uint64_t seq = 0;
  return call.finish(cudaemu::submit(emu, *s, {op}, &seq));
}

cudaError_t cudaStreamBeginCapture(cudaStream_t stream, enum cudaStreamCaptureMode mode) {
  ApiCall call("cudaStreamBeginCapture", {as_arg(stream), static_cast<std::uintptr_t>(mode)});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  std::shared_ptr<Stream> s = emu.find_stream(stream);
  if (!s) return call.finish(cudaErrorInvalidResourceHandle);
  if (s->kind == StreamKind::Legacy) return call.finish(cudaErrorStreamCaptureUnsupported);
  if (mode != cudaStreamCaptureModeGlobal && mode != cudaStreamCaptureModeThreadLocal &&
      mode != cudaStreamCaptureModeRelaxed)
    return call.finish(cudaErrorInvalidValue);
  if (s->capturing()) return call.finish(cudaErrorIllegalState);
  s->capture = cudaemu::Capture{};
  s->capture.id = emu.next_capture_id++;
  s->capture.status = cudaStreamCaptureStatusActive;
  s->capture.mode = mode;
  s->capture.owner = std::this_thread::get_id();
  return call.finish(cudaSuccess);
}

cudaError_t cudaStreamEndCapture(cudaStream_t stream, cudaGraph_t* pGraph) {
  ApiCall call("cudaStreamEndCapture", {as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  if (pGraph == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  std::shared_ptr<Stream> s = emu.find_stream(stream);
  if (!s) return call.finish(cudaErrorInvalidResourceHandle);
  if (!s->capturing()) return call.finish(cudaErrorIllegalState);
  if (s->capture.mode != cudaStreamCaptureModeRelaxed && s->capture.owner != std::this_thread::get_id())
    return call.finish(cudaErrorStreamCaptureWrongThread);
  cudaemu::Capture ended = std::move(s->capture);
  s->capture = cudaemu::Capture{};
  if (ended.status == cudaStreamCaptureStatusInvalidated) {
    *pGraph = nullptr;
    return call.finish(cudaErrorStreamCaptureInvalidated);
  }
  auto graph = std::make_unique<cudaemu::Graph>();
  graph->device = s->device;
  graph->nodes = std::move(ended.nodes);
  auto handle = reinterpret_cast<cudaGraph_t>(graph.get());
  emu.graphs.emplace(handle, std::move(graph));
  *pGraph = handle;
  call.set_arg(1, as_arg(handle));
  return call.finish(cudaSuccess);
}

}  // extern "C"
