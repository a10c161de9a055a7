// Runs queued stream work. Nothing runs when it is queued: work runs only when a caller needs it
// finished (a synchronization, a synchronous copy, a free), so code that forgets to synchronize
// sees stale memory.
//
// Ordering: each stream is in order. The legacy default stream waits for all earlier work of the
// device's blocking streams, and blocking streams wait for earlier legacy work; non-blocking
// streams wait for nothing. Host functions run on the thread that needs them done, without the
// emulator lock held.
#ifndef CUDAEMU_SRC_ENGINE_H_
#define CUDAEMU_SRC_ENGINE_H_

#include <cstdint>
#include <limits>
#include <memory>

#include "emulator.h"

namespace cudaemu {

constexpr std::uint64_t kAllWork = std::numeric_limits<std::uint64_t>::max();

// Queues ops on a stream (not capturing) and returns the item's seq.
std::uint64_t enqueue(Emulator& emu, Stream& stream, std::shared_ptr<const OpList> ops);

// Runs the stream's items with seq < before (and whatever they wait for). Returns with the lock held
// and no such item queued or running.
void drain(Emulator& emu, Lock& lock, Stream& stream, std::uint64_t before);

// Runs all work queued so far on one device's streams (device < 0: every device).
void drain_device(Emulator& emu, Lock& lock, int device);

// The fault an earlier item hit, cleared once reported.
cudaError_t take_fault(Stream& stream);

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_ENGINE_H_
