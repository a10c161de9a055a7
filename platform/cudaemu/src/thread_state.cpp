#include "thread_state.h"

#include <atomic>
#include <cstdint>

namespace cudaemu {
namespace {

std::atomic<std::uint64_t> generation{1};
std::atomic<unsigned> next_thread_number{1};

struct Slot {
  std::uint64_t generation = 0;
  ThreadState state;
};

}  // namespace

ThreadState& this_thread() {
  thread_local Slot slot;
  std::uint64_t now = generation.load(std::memory_order_acquire);
  if (slot.generation != now) {
    if (slot.state.number == 0) slot.state.number = next_thread_number.fetch_add(1);
    slot.state.device = 0;
    slot.state.last_error = cudaSuccess;
    slot.generation = now;
  }
  return slot.state;
}

void forget_thread_states() { generation.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace cudaemu
