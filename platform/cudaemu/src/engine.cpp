#include "engine.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "access.h"
#include "thread_state.h"

namespace cudaemu {
namespace {

// Performs a copy or memset, checking again the memory it names: it may have been freed since the
// work was queued or recorded in a graph.
bool apply(Emulator& emu, const Op& op) {
  // A staged source is the emulator's own copy; only the destination needs checking then.
  AccessCheck check = op.kind == Op::Kind::Memset || op.staged ? check_memset(emu.memory, op.dst, op.count)
                                                               : recheck_copy(emu.memory, op);
  if (check.error != cudaSuccess) {
    emu.note_violation("during execution: " + check.problem);
    return false;
  }
  if (op.count == 0) return true;
  if (op.issued && std::memcmp(op.src, op.issued->data(), op.count) != 0) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "during execution: pageable copy source %p (%zu bytes) changed between the call and the "
                  "copy (reused before a synchronization)",
                  op.src, op.count);
    emu.note_violation(text);
  }
  if (op.kind == Op::Kind::Memset)
    std::memset(op.dst, op.value, op.count);
  else
    std::memmove(op.dst, op.staged ? op.staged->data() : op.src, op.count);
  return true;
}

void run_ops(Emulator& emu, Lock& lock, const OpList& ops) {
  for (const Op& op : ops) {
    // After a sticky fault the device runs nothing more; host functions are not called either.
    if (emu.sticky_fault() != cudaSuccess) return;
    if (op.kind == Op::Kind::HostFn) {
      lock.unlock();
      {
        HostFunctionScope scope;
        op.fn(op.user_data);
      }
      lock.lock();
    } else if (!apply(emu, op)) {
      emu.note_fault(cudaErrorIllegalAddress);
      continue;
    }
    ++emu.executed;
  }
}

void wait_for_predecessors(Emulator& emu, Lock& lock, const Stream& stream, std::uint64_t seq) {
  if (stream.kind == StreamKind::NonBlocking) return;
  if (stream.kind == StreamKind::Blocking) {
    std::shared_ptr<Stream> legacy = emu.legacy[static_cast<std::size_t>(stream.device)];
    drain(emu, lock, *legacy, seq);
    return;
  }
  // Destroyed blocking streams whose work has not run yet are waited for too.
  std::vector<std::shared_ptr<Stream>> blocking;
  for (const auto& other : emu.all_streams())
    if (other->kind == StreamKind::Blocking && other->device == stream.device) blocking.push_back(other);
  for (const auto& other : blocking) drain(emu, lock, *other, seq);
}

void run_head(Emulator& emu, Lock& lock, Stream& stream) {
  WorkItem item = std::move(stream.queue.front());
  stream.queue.pop_front();
  stream.busy = true;
  stream.busy_seq = item.seq;
  stream.busy_ops = item.ops;
  // Waits only ever go to smaller seqs, so two threads cannot wait on each other.
  wait_for_predecessors(emu, lock, stream, item.seq);
  if (item.kind == WorkItem::Kind::Wait) drain(emu, lock, *item.waits_for, item.waits_until);
  run_ops(emu, lock, *item.ops);
  if (item.stamp) {
    item.stamp->at = std::chrono::steady_clock::now();
    item.stamp->reached = true;
  }
  stream.busy = false;
  stream.busy_ops.reset();
  emu.cv.notify_all();
}

}  // namespace

std::uint64_t enqueue(Emulator& emu, Stream& stream, std::shared_ptr<const OpList> ops) {
  std::uint64_t seq = emu.next_seq++;
  WorkItem item;
  item.seq = seq;
  item.ops = std::move(ops);
  stream.queue.push_back(std::move(item));
  return seq;
}

namespace {

// What an event's stream item runs: nothing; it only takes its place in the order.
const std::shared_ptr<const OpList>& no_ops() {
  static const std::shared_ptr<const OpList> nothing = std::make_shared<const OpList>();
  return nothing;
}

}  // namespace

std::uint64_t enqueue_event_record(Emulator& emu, Stream& stream, std::shared_ptr<EventStamp> stamp) {
  std::uint64_t seq = enqueue(emu, stream, no_ops());
  stream.queue.back().kind = WorkItem::Kind::EventRecord;
  stream.queue.back().stamp = std::move(stamp);
  return seq;
}

void enqueue_wait(Emulator& emu, Stream& stream, std::shared_ptr<Stream> source, std::uint64_t until) {
  enqueue(emu, stream, no_ops());
  WorkItem& wait = stream.queue.back();
  wait.kind = WorkItem::Kind::Wait;
  wait.waits_for = std::move(source);
  wait.waits_until = until;
}

bool has_run(const Stream& stream, std::uint64_t seq) {
  if (stream.busy && stream.busy_seq <= seq) return false;
  return stream.queue.empty() || stream.queue.front().seq > seq;
}

void drain(Emulator& emu, Lock& lock, Stream& stream, std::uint64_t before) {
  for (;;) {
    if (stream.busy) {
      // Everything still queued comes after the running item.
      if (stream.busy_seq >= before) return;
      emu.cv.wait(lock);
      continue;
    }
    if (stream.queue.empty() || stream.queue.front().seq >= before) return;
    run_head(emu, lock, stream);
  }
}

void drain_device(Emulator& emu, Lock& lock, int device) {
  std::uint64_t before = emu.next_seq;
  for (const auto& stream : emu.all_streams())
    if (device < 0 || stream->device == device) drain(emu, lock, *stream, before);
  emu.prune_retired();
}

namespace {

bool names(const Op& op, std::uintptr_t base, std::size_t size) {
  if (op.kind == Op::Kind::HostFn) return false;
  auto inside = [&](const void* p) {
    auto addr = reinterpret_cast<std::uintptr_t>(p);
    return p != nullptr && addr >= base && addr - base < size;
  };
  return inside(op.dst) || (op.kind == Op::Kind::Copy && !op.staged && inside(op.src));
}

bool names_any(const OpList& ops, std::uintptr_t base, std::size_t size) {
  for (const Op& op : ops)
    if (names(op, base, size)) return true;
  return false;
}

// One past the seq of the stream's last queued or running item that names the range; 0 when none.
std::uint64_t last_use(const Stream& stream, std::uintptr_t base, std::size_t size) {
  for (auto it = stream.queue.rbegin(); it != stream.queue.rend(); ++it)
    if (names_any(*it->ops, base, size)) return it->seq + 1;
  if (stream.busy && stream.busy_ops && names_any(*stream.busy_ops, base, size)) return stream.busy_seq + 1;
  return 0;
}

}  // namespace

const Stream* queued_user_of(Emulator& emu, std::uintptr_t base, std::size_t size) {
  for (const auto& stream : emu.all_streams())
    if (last_use(*stream, base, size) != 0) return stream.get();
  return nullptr;
}

void drain_users(Emulator& emu, Lock& lock, std::uintptr_t base, std::size_t size) {
  for (;;) {
    std::shared_ptr<Stream> user;
    std::uint64_t until = 0;
    for (const auto& stream : emu.all_streams()) {
      until = last_use(*stream, base, size);
      if (until != 0) {
        user = stream;
        break;
      }
    }
    if (!user) break;
    drain(emu, lock, *user, until);
  }
  emu.prune_retired();
}

}  // namespace cudaemu
