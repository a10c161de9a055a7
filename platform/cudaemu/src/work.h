// What the emulated device executes: operations, stream queues, graphs.
#ifndef CUDAEMU_SRC_WORK_H_
#define CUDAEMU_SRC_WORK_H_

#include <cuda_runtime_api.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

namespace cudaemu {

// One copy, memset or host function: queued on a stream or recorded as a graph node.
struct Op {
  enum class Kind { Copy, Memset, HostFn } kind = Kind::Copy;
  void* dst = nullptr;
  const void* src = nullptr;
  std::size_t count = 0;
  cudaMemcpyKind direction = cudaMemcpyDefault;
  int value = 0;
  cudaHostFn_t fn = nullptr;
  void* user_data = nullptr;
  // Pageable source bytes taken at the call, so the caller may reuse its buffer at once.
  std::shared_ptr<const std::vector<unsigned char>> staged;
};

using OpList = std::vector<Op>;

// A queued unit: a single operation or a whole graph launch. `seq` orders work across streams.
struct WorkItem {
  std::uint64_t seq = 0;
  std::shared_ptr<const OpList> ops;
};

enum class StreamKind { Legacy, Blocking, NonBlocking };

struct Capture {
  cudaStreamCaptureStatus status = cudaStreamCaptureStatusNone;
  cudaStreamCaptureMode mode = cudaStreamCaptureModeGlobal;
  std::thread::id owner;
  OpList nodes;
};

struct Stream {
  Stream(int device_, StreamKind kind_) : device(device_), kind(kind_) {}

  int device;
  StreamKind kind;
  std::deque<WorkItem> queue;
  bool busy = false;                // an item has been taken off the queue and is still running
  std::uint64_t busy_seq = 0;       // that item's seq
  cudaError_t fault = cudaSuccess;  // reported once by the next synchronizing call
  Capture capture;

  bool capturing() const { return capture.status != cudaStreamCaptureStatusNone; }
};

struct Graph {
  OpList nodes;
};

// Instantiation takes a snapshot: the graph may be destroyed or changed afterwards.
struct GraphExec {
  std::shared_ptr<const OpList> nodes;
};

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_WORK_H_
