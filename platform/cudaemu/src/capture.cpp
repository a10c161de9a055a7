#include "capture.h"

#include <thread>

#include "engine.h"

namespace cudaemu {

void invalidate(Stream& stream) {
  if (!stream.capturing()) return;
  stream.capture.status = cudaStreamCaptureStatusInvalidated;
  stream.capture.nodes.clear();
}

cudaError_t refuse_unsafe_call(Emulator& emu) {
  std::thread::id self = std::this_thread::get_id();
  bool refused = false;
  for (auto& entry : emu.streams) {
    Stream& s = *entry.second;
    if (!s.capturing()) continue;
    bool own = s.capture.owner == self;
    if ((own && s.capture.mode != cudaStreamCaptureModeRelaxed) ||
        (!own && s.capture.mode == cudaStreamCaptureModeGlobal)) {
      invalidate(s);
      refused = true;
    }
  }
  return refused ? cudaErrorStreamCaptureUnsupported : cudaSuccess;
}

cudaError_t refuse_legacy_use(Emulator& emu, int device, bool invalidate_captures) {
  bool refused = false;
  for (auto& entry : emu.streams) {
    Stream& s = *entry.second;
    if (s.device != device || s.kind != StreamKind::Blocking || !s.capturing()) continue;
    if (invalidate_captures) invalidate(s);
    refused = true;
  }
  return refused ? cudaErrorStreamCaptureImplicit : cudaSuccess;
}

std::shared_ptr<Stream> stream_for_use(Emulator& emu, cudaStream_t handle, bool invalidate,
                                       cudaError_t* refused) {
  std::shared_ptr<Stream> s = emu.find_stream(handle);
  *refused = cudaErrorInvalidResourceHandle;
  if (!s) return nullptr;
  *refused = s->kind == StreamKind::Legacy ? refuse_legacy_use(emu, s->device, invalidate) : cudaSuccess;
  return *refused == cudaSuccess ? s : nullptr;
}

bool invalidate_device_captures(Emulator& emu, int device) {
  bool any = false;
  for (auto& entry : emu.streams) {
    Stream& s = *entry.second;
    if (s.device != device || !s.capturing()) continue;
    invalidate(s);
    any = true;
  }
  return any;
}

cudaError_t submit(Emulator& emu, Stream& stream, const OpList& ops, std::uint64_t* seq) {
  switch (stream.capture.status) {
    case cudaStreamCaptureStatusActive:
      stream.capture.nodes.insert(stream.capture.nodes.end(), ops.begin(), ops.end());
      return cudaSuccess;
    case cudaStreamCaptureStatusInvalidated:
      return cudaErrorStreamCaptureInvalidated;
    default:
      *seq = enqueue(emu, stream, std::make_shared<const OpList>(ops));
      return cudaSuccess;
  }
}

}  // namespace cudaemu
