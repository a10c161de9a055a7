#include "retired.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace trt_standin {
namespace retired {
namespace {

struct Entry {
  std::shared_ptr<const PendingWork> pending;
  std::unique_ptr<Retirable> state;
};

struct Registry {
  std::mutex mutex;
  std::vector<Entry> entries;

  // At process exit nothing is freed: the work may never have run, or the device may be gone.
  ~Registry() {
    for (Entry& e : entries) e.state->forget_device_memory();
  }

  // The entries whose work has run, taken out of the registry.
  std::vector<Entry> take_finished() {
    std::lock_guard<std::mutex> lock(mutex);
    auto finished = std::stable_partition(entries.begin(), entries.end(),
                                          [](const Entry& e) { return e.pending->outstanding() > 0; });
    std::vector<Entry> done(std::make_move_iterator(finished), std::make_move_iterator(entries.end()));
    entries.erase(finished, entries.end());
    return done;
  }
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

void keep(std::shared_ptr<const PendingWork> pending, std::unique_ptr<Retirable> state) noexcept {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  try {
    r.entries.reserve(r.entries.size() + 1);
  } catch (const std::bad_alloc&) {
    // Leaked rather than freed under the work that still reads it.
    static_cast<void>(state.release());
    return;
  }
  r.entries.push_back(Entry{std::move(pending), std::move(state)});
}

void sweep() {
  // Destroyed outside the lock: freeing may run queued work.
  std::vector<Entry> finished = registry().take_finished();
}

void forget_device_memory() {
  Registry& r = registry();
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    for (Entry& e : r.entries) e.state->forget_device_memory();
  }
  std::vector<Entry> finished = r.take_finished();
}

}  // namespace retired
}  // namespace trt_standin
