// Stream capture rules: which calls a capture forbids, invalidation, recording instead of running.
#ifndef CUDAEMU_SRC_CAPTURE_H_
#define CUDAEMU_SRC_CAPTURE_H_

#include <cuda_runtime_api.h>

#include <cstdint>
#include <memory>

#include "emulator.h"

namespace cudaemu {

// A potentially unsafe call (allocating, freeing, creating a stream, synchronizing a stream that is
// not capturing) is refused for the calling thread when it has a capture of its own begun in Global
// or ThreadLocal mode, or when another thread has one begun in Global mode. The refused call answers
// cudaErrorStreamCaptureUnsupported and those captures are invalidated.
cudaError_t refuse_unsafe_call(Emulator& emu);

// Using the legacy default stream while a blocking stream of the device captures answers
// cudaErrorStreamCaptureImplicit; `invalidate` says whether those captures are invalidated too.
cudaError_t refuse_legacy_use(Emulator& emu, int device, bool invalidate);

// The stream a call uses, refused as such a call is: an unknown handle answers
// cudaErrorInvalidResourceHandle, the legacy stream what refuse_legacy_use says. Null, with *refused
// set, when the call must answer that.
std::shared_ptr<Stream> stream_for_use(Emulator& emu, cudaStream_t handle, bool invalidate,
                                       cudaError_t* refused);

// Invalidates every capture on the device; true when there was one (device synchronization).
bool invalidate_device_captures(Emulator& emu, int device);

void invalidate(Stream& stream);

// Work for a stream: recorded while it captures, queued otherwise (*seq set). An invalidated capture
// answers cudaErrorStreamCaptureInvalidated.
cudaError_t submit(Emulator& emu, Stream& stream, const OpList& ops, std::uint64_t* seq);

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_CAPTURE_H_
