// Runs queued stream work. Nothing runs when it is queued: work runs only when a caller needs it
// finished (a synchronization, a synchronous copy, a free), so code that forgets to synchronize
// sees stale memory.
//
// Ordering: each stream is in order. The legacy default stream waits for all earlier work of the
// device's blocking streams, and blocking streams wait for earlier legacy work; non-blocking
// streams wait for nothing. Host functions run on the thread that needs them done, without the
// emulator lock held.
//
// Faults: an operation that finds its memory gone when it runs is skipped and makes
// cudaErrorIllegalAddress the process's sticky fault; after a sticky fault nothing more runs.
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

// Queues the point where an event is recorded (stream not capturing) and returns its seq: the event
// completes when that item has run, and so what it waits for (earlier work of the stream, and of the
// streams the legacy-stream rules order before it). `stamp` is set when the item runs.
std::uint64_t enqueue_event_record(Emulator& emu, Stream& stream, std::shared_ptr<EventStamp> stamp);

// Queues a wait: the stream's later work waits for the items of `source` with seq < until.
void enqueue_wait(Emulator& emu, Stream& stream, std::shared_ptr<Stream> source, std::uint64_t until);

// True once the stream's item `seq` has run (it is neither queued nor running).
bool has_run(const Stream& stream, std::uint64_t seq);

// Runs the stream's items with seq < before (and whatever they wait for). Returns with the lock held
// and no such item queued or running.
void drain(Emulator& emu, Lock& lock, Stream& stream, std::uint64_t before);

// Runs all work queued so far on one device's streams (device < 0: every device), destroyed streams
// with work left included.
void drain_device(Emulator& emu, Lock& lock, int device);

// A stream whose queued or running work names memory in [base, base + size), or null.
const Stream* queued_user_of(Emulator& emu, std::uintptr_t base, std::size_t size);

// Runs (or waits for) the queued and running work that names memory in [base, base + size), with
// what it waits for, and nothing else.
void drain_users(Emulator& emu, Lock& lock, std::uintptr_t base, std::size_t size);

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_ENGINE_H_
