// The one emulated device set of the process, shared by every component that links libcudaemu.so.
#ifndef CUDAEMU_SRC_EMULATOR_H_
#define CUDAEMU_SRC_EMULATOR_H_

#include <cuda_runtime_api.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "accounting.h"
#include "config.h"
#include "memory.h"
#include "work.h"

namespace cudaemu {

using Lock = std::unique_lock<std::mutex>;

struct Settings {
  std::atomic<int> device_count{1};
  std::atomic<bool> driver_present{true};
  std::atomic<std::size_t> memory_capacity{std::size_t{16} << 30};
  std::atomic<bool> report_at_exit{false};
  std::atomic<bool> strict{false};  // worst-case ordering: what CUDA may do later happens later
};

class Emulator {
 public:
  // Never destroyed, so components releasing resources late in process exit still find it.
  static Emulator& instance();

  Settings settings;
  Accounting accounting;
  std::atomic<std::uint64_t> violations{0};
  std::atomic<std::uint64_t> executed{0};
  // The sticky fault of the process (cudaSuccess when none): once set, every runtime call answers it.
  std::atomic<int> sticky{cudaSuccess};

  // Everything below is guarded by mu.
  std::mutex mu;
  std::condition_variable cv;  // a stream stopped being busy
  MemoryRegistry memory;
  std::vector<std::shared_ptr<Stream>> legacy;  // the default stream of each device
  std::unordered_map<cudaStream_t, std::shared_ptr<Stream>> streams;
  // Strict mode: destroyed streams whose queued work has not run yet (the handle is already gone).
  std::vector<std::shared_ptr<Stream>> retired;
  // Strict mode: memory freed while queued work named it, kept mapped so its addresses are not
  // handed out again before that work has run.
  std::vector<std::unique_ptr<Mapping>> quarantine;
  std::unordered_map<cudaGraph_t, std::unique_ptr<Graph>> graphs;
  std::unordered_map<cudaGraphExec_t, std::unique_ptr<GraphExec>> execs;
  std::unordered_map<cudaEvent_t, std::unique_ptr<Event>> events;
  std::uint64_t next_seq = 1;
  std::uint64_t next_capture_id = 1;
  std::string last_violation;

  // The calling thread's device, falling back to 0 when the device count shrank below it.
  int current_device() const;
  // The stream a handle names (0, cudaStreamLegacy and cudaStreamPerThread: the current device's
  // default stream), or null for an unknown handle.
  std::shared_ptr<Stream> find_stream(cudaStream_t handle);
  // Device work (host functions, memsets, graph launches) may go only to streams of the calling
  // thread's current device; copies may go to any stream.
  bool is_foreign(const Stream& stream) const { return stream.device != current_device(); }
  void set_device_count(int count);

  void note_violation(std::string what);
  // Makes `code` the process's sticky fault when it is one of the sticky codes and none is set yet.
  void note_fault(cudaError_t code);
  cudaError_t sticky_fault() const { return static_cast<cudaError_t>(sticky.load()); }

  // Every stream with work that may still run: default streams, live streams, retired streams.
  std::vector<std::shared_ptr<Stream>> all_streams() const;
  // Drops retired streams that have nothing left to run.
  void prune_retired();

  // Back to the configuration in the environment, with no resources and no history.
  void reset();

 private:
  Emulator();
  void apply(const Config& config);
};

bool is_default_stream_handle(cudaStream_t handle);

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_EMULATOR_H_
