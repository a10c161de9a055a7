#include "engine.h"

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
  AccessCheck check = op.kind == Op::Kind::Memset || op.staged
                          ? check_memset(emu.memory, op.dst, op.count)
                          : check_copy(emu.memory, op.dst, op.src, op.count, op.direction);
  if (check.error != cudaSuccess) {
    emu.note_violation("during execution: " + check.problem);
    return false;
  }
  if (op.count == 0) return true;
  if (op.kind == Op::Kind::Memset)
    std::memset(op.dst, op.value, op.count);
  else
    std::memmove(op.dst, op.staged ? op.staged->data() : op.src, op.count);
  return true;
}

void run_ops(Emulator& emu, Lock& lock, Stream& stream, const OpList& ops) {
  for (const Op& op : ops) {
    if (op.kind == Op::Kind::HostFn) {
      lock.unlock();
      {
        HostFunctionScope scope;
        op.fn(op.user_data);
      }
      lock.lock();
    } else if (!apply(emu, op)) {
      stream.fault = cudaErrorIllegalAddress;
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
  std::vector<std::shared_ptr<Stream>> blocking;
  for (const auto& entry : emu.streams)
    if (entry.second->kind == StreamKind::Blocking && entry.second->device == stream.device)
      blocking.push_back(entry.second);
  for (const auto& other : blocking) drain(emu, lock, *other, seq);
}

void run_head(Emulator& emu, Lock& lock, Stream& stream) {
  WorkItem item = std::move(stream.queue.front());
  stream.queue.pop_front();
  stream.busy = true;
  stream.busy_seq = item.seq;
  // Waits only ever go to smaller seqs, so two threads cannot wait on each other.
  wait_for_predecessors(emu, lock, stream, item.seq);
  run_ops(emu, lock, stream, *item.ops);
  stream.busy = false;
  emu.cv.notify_all();
}

}  // namespace

std::uint64_t enqueue(Emulator& emu, Stream& stream, std::shared_ptr<const OpList> ops) {
  std::uint64_t seq = emu.next_seq++;
  stream.queue.push_back(WorkItem{seq, std::move(ops)});
  return seq;
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
  std::vector<std::shared_ptr<Stream>> all(emu.legacy.begin(), emu.legacy.end());
  for (const auto& entry : emu.streams) all.push_back(entry.second);
  for (const auto& stream : all)
    if (device < 0 || stream->device == device) drain(emu, lock, *stream, before);
}

cudaError_t take_fault(Stream& stream) {
  cudaError_t fault = stream.fault;
  stream.fault = cudaSuccess;
  return fault;
}

}  // namespace cudaemu
