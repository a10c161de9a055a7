// What the emulated device executes: operations, stream queues, graphs.
#ifndef CUDAEMU_SRC_WORK_H_
#define CUDAEMU_SRC_WORK_H_

#include <cuda_runtime_api.h>

#include <chrono>
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
  // Copies: each side lay in a device or pinned allocation when the copy was issued.
  bool dst_allocated = false;
  bool src_allocated = false;
  cudaHostFn_t fn = nullptr;
  void* user_data = nullptr;
  // Pageable source bytes taken at the call, so the caller may reuse its buffer at once.
  std::shared_ptr<const std::vector<unsigned char>> staged;
  // Strict mode: the copy reads its pageable source when it runs; these are the bytes the source held
  // at the call, to report a caller that changed (or freed and reused) it before a synchronization.
  std::shared_ptr<const std::vector<unsigned char>> issued;
};

using OpList = std::vector<Op>;

struct Stream;

// When an event's record ran: the emulated device's clock is the host's steady clock at the moment the
// record's place in its stream's order was reached.
struct EventStamp {
  bool reached = false;
  std::chrono::steady_clock::time_point at;
};

// A queued unit: a single operation, a whole graph launch, or an event's part in stream order. `seq`
// orders work across streams.
struct WorkItem {
  enum class Kind {
    Work,         // copies, memsets, host functions, a graph launch
    EventRecord,  // where an event was recorded: it completes when this item has run
    Wait,         // later work waits for another stream's items: cudaStreamWaitEvent, or the previous
                  // launch of an executable graph launched into another stream
  } kind = Kind::Work;
  std::uint64_t seq = 0;
  std::shared_ptr<const OpList> ops;
  // Wait: the stream waited for, and the end (exclusive) of its items waited for.
  std::shared_ptr<Stream> waits_for;
  std::uint64_t waits_until = 0;
  // EventRecord: stamped when the item runs.
  std::shared_ptr<EventStamp> stamp;
};

enum class StreamKind { Legacy, Blocking, NonBlocking };

struct Capture {
  std::uint64_t id = 0;  // tells captures apart, so an event knows which one it was recorded in
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
  bool busy = false;                       // an item has been taken off the queue and is still running
  std::uint64_t busy_seq = 0;              // that item's seq
  std::shared_ptr<const OpList> busy_ops;  // and its operations
  Capture capture;

  bool capturing() const { return capture.status != cudaStreamCaptureStatusNone; }
};

// A graph belongs to the device of the stream it was captured on; its executable graphs too.
struct Graph {
  int device = 0;
  OpList nodes;
};

// Instantiation takes a snapshot: the graph may be destroyed or changed afterwards.
struct GraphExec {
  int device = 0;
  std::shared_ptr<const OpList> nodes;
  // The latest launch outside a capture: the next one, in whatever stream, is ordered behind it.
  std::shared_ptr<Stream> last_stream;
  std::uint64_t last_seq = 0;
};

// An event belongs to the device current at its creation. It holds what its latest record captured:
// nothing yet, a point in a stream's queue, or a place inside a capture.
struct Event {
  enum class State { Unrecorded, Queued, Captured };

  int device = 0;
  unsigned flags = 0;
  State state = State::Unrecorded;
  std::shared_ptr<Stream> stream;     // where it was last recorded (kept alive for it)
  std::uint64_t record_seq = 0;       // Queued: the seq of its EventRecord item
  std::shared_ptr<EventStamp> stamp;  // Queued: when that item ran
  std::uint64_t capture_id = 0;       // Captured: the capture it was recorded in
};

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_WORK_H_
