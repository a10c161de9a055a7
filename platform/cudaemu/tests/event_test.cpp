// Events: what a record captures, waiting for it on the host and in another stream, their flags,
// handles, devices, captures, faults and trace rows.
#include <atomic>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

class EventTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
    ASSERT_EQ(cudaStreamCreateWithFlags(&other_, cudaStreamNonBlocking), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&pinned_, 64), cudaSuccess);
    ASSERT_EQ(cudaEventCreate(&event_), cudaSuccess);
  }
  unsigned char* pinned() { return static_cast<unsigned char*>(pinned_); }
  cudaStreamCaptureStatus status(cudaStream_t s) {
    auto st = static_cast<cudaStreamCaptureStatus>(77);
    EXPECT_EQ(cudaStreamIsCapturing(s, &st), cudaSuccess);
    return st;
  }
  // Ends the capture on s and answers EndCapture's result (the graph, if any, destroyed).
  cudaError_t end_capture(cudaStream_t s) {
    cudaGraph_t g = nullptr;
    cudaError_t end = cudaStreamEndCapture(s, &g);
    if (g != nullptr) {
      EXPECT_EQ(cudaGraphDestroy(g), cudaSuccess);
    }
    return end;
  }

  cudaStream_t stream_ = nullptr;  // blocking
  cudaStream_t other_ = nullptr;   // non-blocking: ordered against nothing but what it waits for
  void* pinned_ = nullptr;
  cudaEvent_t event_ = nullptr;
};

struct Log {
  std::vector<std::string> entries;
};
struct Mark {
  Log* log;
  const char* name;
};
void CUDART_CB record_mark(void* data) {
  auto* mark = static_cast<Mark*>(data);
  mark->log->entries.emplace_back(mark->name);
}

TEST_F(EventTest, SynchronizingRunsExactlyTheWorkTheRecordCaptured) {
  EXPECT_EQ(cudaEventQuery(event_), cudaSuccess) << "never recorded: an empty set of work";
  EXPECT_EQ(cudaEventSynchronize(event_), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 1, 64, stream_), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 2, 64, stream_), cudaSuccess);
  EXPECT_EQ(cudaemu_pending_work(), 2u) << "the record is no work of its own";

  EXPECT_EQ(cudaEventQuery(event_), cudaErrorNotReady);
  EXPECT_EQ(cudaEventQuery(event_), cudaErrorNotReady) << "asking runs nothing";
  EXPECT_EQ(pinned()[0], 0);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "not ready is not an error";

  ASSERT_EQ(cudaEventSynchronize(event_), cudaSuccess);
  EXPECT_EQ(pinned()[0], 1);
  EXPECT_EQ(cudaemu_pending_work(), 1u) << "later work of the stream stays queued";
  EXPECT_EQ(cudaEventQuery(event_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(pinned()[0], 2);
}

TEST_F(EventTest, ARecordOnTheLegacyStreamCapturesEarlierBlockingStreamWork) {
  ASSERT_EQ(cudaMemsetAsync(pinned_, 3, 64, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned(), 4, 1, other_), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, nullptr), cudaSuccess);
  ASSERT_EQ(cudaEventSynchronize(event_), cudaSuccess);
  EXPECT_EQ(pinned()[63], 3);
  EXPECT_EQ(pinned()[0], 3) << "the non-blocking stream's memset is not captured";
  EXPECT_EQ(cudaemu_pending_work(), 1u);
}

TEST_F(EventTest, AStreamWaitsForTheWorkCapturedWhenItWaitedNotForLaterRecords) {
  Log log;
  Mark a1{&log, "a1"}, a2{&log, "a2"}, b{&log, "b"};
  ASSERT_EQ(cudaLaunchHostFunc(stream_, record_mark, &a1), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);
  ASSERT_EQ(cudaStreamWaitEvent(other_, event_, cudaEventWaitDefault), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(stream_, record_mark, &a2), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);  // too late for the wait already issued
  ASSERT_EQ(cudaLaunchHostFunc(other_, record_mark, &b), cudaSuccess);
  EXPECT_EQ(cudaemu_pending_work(), 3u) << "neither the records nor the wait are work";

  ASSERT_EQ(cudaStreamSynchronize(other_), cudaSuccess);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"a1", "b"}));
  EXPECT_EQ(cudaEventQuery(event_), cudaErrorNotReady) << "the second record has not run";
  ASSERT_EQ(cudaEventSynchronize(event_), cudaSuccess);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"a1", "b", "a2"}));

  // Waiting for an event of the same stream, or one never recorded, queues nothing.
  cudaEvent_t fresh = nullptr;
  ASSERT_EQ(cudaEventCreateWithFlags(&fresh, cudaEventDisableTiming), cudaSuccess);
  ASSERT_EQ(cudaStreamWaitEvent(other_, fresh, 0), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(fresh, other_), cudaSuccess);
  ASSERT_EQ(cudaStreamWaitEvent(other_, fresh, 0), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(other_), cudaSuccess);
  EXPECT_EQ(log.entries.size(), 3u);
  EXPECT_EQ(cudaEventDestroy(fresh), cudaSuccess);
}

// Two streams each waiting for the other's earlier record, synchronized by two threads at once: the
// waits go only to earlier work, so neither thread waits for the other.
TEST_F(EventTest, CrossedWaitsFromTwoThreadsDoNotDeadlock) {
  cudaEvent_t second = nullptr;
  ASSERT_EQ(cudaEventCreate(&second), cudaSuccess);
  std::atomic<int> runs{0};
  auto count_run = [](void* data) { ++*static_cast<std::atomic<int>*>(data); };
  for (int round = 0; round < 50; ++round) {
    ASSERT_EQ(cudaLaunchHostFunc(stream_, count_run, &runs), cudaSuccess);
    ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);
    ASSERT_EQ(cudaLaunchHostFunc(other_, count_run, &runs), cudaSuccess);
    ASSERT_EQ(cudaEventRecord(second, other_), cudaSuccess);
    ASSERT_EQ(cudaStreamWaitEvent(stream_, second, 0), cudaSuccess);
    ASSERT_EQ(cudaStreamWaitEvent(other_, event_, 0), cudaSuccess);
  }
  ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);
  cudaError_t there = cudaErrorUnknown;
  std::thread t([&] { there = cudaStreamSynchronize(other_); });
  EXPECT_EQ(cudaEventSynchronize(event_), cudaSuccess);
  t.join();
  EXPECT_EQ(there, cudaSuccess);
  EXPECT_EQ(runs.load(), 100);
  EXPECT_EQ(cudaEventDestroy(second), cudaSuccess);
}

TEST_F(EventTest, FlagsAndHandles) {
  struct Case {
    unsigned flags;
    cudaError_t result;
  };
  const Case creates[] = {
      {cudaEventDefault, cudaSuccess},
      {cudaEventBlockingSync, cudaSuccess},
      {cudaEventDisableTiming, cudaSuccess},
      {cudaEventBlockingSync | cudaEventDisableTiming, cudaSuccess},
      {cudaEventInterprocess, cudaErrorInvalidValue},  // needs cudaEventDisableTiming
      {cudaEventInterprocess | cudaEventDisableTiming, cudaErrorNotSupported},
      {0x8, cudaErrorInvalidValue},
  };
  for (const Case& c : creates) {
    SCOPED_TRACE(c.flags);
    cudaEvent_t e = reinterpret_cast<cudaEvent_t>(0x1);
    EXPECT_EQ(cudaEventCreateWithFlags(&e, c.flags), c.result);
    if (c.result == cudaSuccess) {
      EXPECT_EQ(cudaEventDestroy(e), cudaSuccess);
    } else {
      EXPECT_EQ(e, reinterpret_cast<cudaEvent_t>(0x1)) << "nothing written";
    }
  }
  EXPECT_EQ(cudaEventCreate(nullptr), cudaErrorInvalidValue);
  EXPECT_EQ(cudaEventCreateWithFlags(nullptr, 0), cudaErrorInvalidValue);
  EXPECT_EQ(cudaEventRecordWithFlags(event_, stream_, 0x2), cudaErrorInvalidValue);
  EXPECT_EQ(cudaEventRecordWithFlags(event_, stream_, cudaEventRecordExternal), cudaSuccess)
      << "outside a capture the flag changes nothing";
  EXPECT_EQ(cudaStreamWaitEvent(other_, event_, 0x2), cudaErrorInvalidValue);
  EXPECT_EQ(cudaStreamWaitEvent(other_, event_, cudaEventWaitExternal), cudaSuccess);
  EXPECT_EQ(cudaEventRecord(event_, reinterpret_cast<cudaStream_t>(0x99)), cudaErrorInvalidResourceHandle);

  cudaEvent_t gone = nullptr;
  ASSERT_EQ(cudaEventCreate(&gone), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(gone, stream_), cudaSuccess);
  EXPECT_EQ(cudaemu_live_events(), 2u);
  EXPECT_EQ(cudaEventDestroy(gone), cudaSuccess) << "before it completed: allowed";
  EXPECT_EQ(cudaemu_live_events(), 1u);
  for (cudaEvent_t bad : {gone, static_cast<cudaEvent_t>(nullptr)}) {
    SCOPED_TRACE(bad == nullptr ? "null" : "destroyed");
    EXPECT_EQ(cudaEventRecord(bad, stream_), cudaErrorInvalidResourceHandle);
    EXPECT_EQ(cudaEventQuery(bad), cudaErrorInvalidResourceHandle);
    EXPECT_EQ(cudaEventSynchronize(bad), cudaErrorInvalidResourceHandle);
    EXPECT_EQ(cudaStreamWaitEvent(stream_, bad, 0), cudaErrorInvalidResourceHandle);
    EXPECT_EQ(cudaEventDestroy(bad), cudaErrorInvalidResourceHandle);
  }
  EXPECT_EQ(cudaStreamSynchronize(stream_), cudaSuccess) << "the destroyed event's record ran harmlessly";
  cudaemu_reset();
  EXPECT_EQ(cudaemu_live_events(), 0u);
  EXPECT_EQ(cudaEventQuery(event_), cudaErrorInvalidResourceHandle) << "the reset released it";
}

TEST_F(EventTest, EventsBelongToTheDeviceCurrentAtTheirCreation) {
  cudaemu_reset();
  cudaemu_set_device_count(2);
  cudaStream_t s0 = nullptr, s1 = nullptr;
  cudaEvent_t e1 = nullptr;
  void* pinned = nullptr;
  ASSERT_EQ(cudaMallocHost(&pinned, 8), cudaSuccess);
  ASSERT_EQ(cudaStreamCreate(&s0), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaStreamCreate(&s1), cudaSuccess);
  ASSERT_EQ(cudaEventCreate(&e1), cudaSuccess);
  int current = -1;
  std::thread([&] { cudaGetDevice(&current); }).join();
  EXPECT_EQ(current, 0) << "the current device is per thread";

  EXPECT_EQ(cudaEventRecord(e1, s0), cudaErrorInvalidResourceHandle) << "a stream of another device";
  ASSERT_EQ(cudaMemsetAsync(pinned, 5, 8, s1), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(e1, s1), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(e1, nullptr), cudaSuccess) << "stream 0 is device 1's legacy stream here";
  ASSERT_EQ(cudaEventRecord(e1, s1), cudaSuccess);
  EXPECT_EQ(cudaStreamWaitEvent(s0, e1, 0), cudaErrorInvalidResourceHandle) << "s0 is not this device's";

  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  EXPECT_EQ(cudaEventRecord(e1, s1), cudaErrorInvalidResourceHandle) << "from another current device";
  EXPECT_EQ(cudaEventRecord(e1, nullptr), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaemu_sticky_error(), cudaSuccess);
  // Another device's event may be waited for, queried and synchronized.
  ASSERT_EQ(cudaStreamWaitEvent(s0, e1, 0), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(static_cast<unsigned char*>(pinned) + 1, 6, 1, s0), cudaSuccess);
  EXPECT_EQ(cudaEventQuery(e1), cudaErrorNotReady);
  ASSERT_EQ(cudaStreamSynchronize(s0), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(pinned)[0], 5) << "device 1's work ran first";
  EXPECT_EQ(static_cast<unsigned char*>(pinned)[1], 6);
  EXPECT_EQ(cudaEventQuery(e1), cudaSuccess);
  EXPECT_EQ(cudaEventDestroy(e1), cudaSuccess);
}

// One stream per capture: within it records and waits are ordering no-ops; an event recorded there
// answers cudaErrorCapturedEvent on the host; dependencies across the capture's boundary are refused
// and invalidate it.
TEST_F(EventTest, InsideACapture) {
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 7, 64, stream_), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);
  EXPECT_EQ(cudaEventQuery(event_), cudaErrorCapturedEvent);
  EXPECT_EQ(cudaEventSynchronize(event_), cudaErrorCapturedEvent);
  ASSERT_EQ(cudaStreamWaitEvent(stream_, event_, 0), cudaSuccess) << "the same capture";
  EXPECT_EQ(cudaEventRecordWithFlags(event_, stream_, cudaEventRecordExternal), cudaErrorNotSupported);
  EXPECT_EQ(cudaStreamWaitEvent(stream_, event_, cudaEventWaitExternal), cudaErrorNotSupported);
  EXPECT_EQ(status(stream_), cudaStreamCaptureStatusActive) << "none of these invalidates it";
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  EXPECT_EQ(cudaEventQuery(event_), cudaErrorCapturedEvent) << "still last recorded in a capture";
  EXPECT_EQ(cudaStreamWaitEvent(other_, event_, 0), cudaErrorCapturedEvent);
  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);
  ASSERT_EQ(cudaEventSynchronize(event_), cudaSuccess) << "recorded again outside the capture";
  EXPECT_EQ(pinned()[63], 7);
  EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

TEST_F(EventTest, DependenciesAcrossACapturesBoundaryInvalidateIt) {
  cudaStream_t third = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&third, cudaStreamNonBlocking), cudaSuccess);
  cudaEvent_t captured = nullptr;
  ASSERT_EQ(cudaEventCreate(&captured), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, other_), cudaSuccess);  // outside any capture

  // Waiting in a capture for uncaptured work.
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_EQ(cudaStreamWaitEvent(stream_, event_, 0), cudaErrorStreamCaptureIsolation);
  EXPECT_EQ(status(stream_), cudaStreamCaptureStatusInvalidated);
  EXPECT_EQ(cudaEventRecord(captured, stream_), cudaErrorStreamCaptureInvalidated);
  EXPECT_EQ(end_capture(stream_), cudaErrorStreamCaptureInvalidated);

  // Waiting in one capture for another's event merges them: both invalidated.
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(third, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(captured, third), cudaSuccess);
  EXPECT_EQ(cudaStreamWaitEvent(stream_, captured, 0), cudaErrorStreamCaptureMerge);
  EXPECT_EQ(status(stream_), cudaStreamCaptureStatusInvalidated);
  EXPECT_EQ(status(third), cudaStreamCaptureStatusInvalidated);
  EXPECT_EQ(end_capture(stream_), cudaErrorStreamCaptureInvalidated);
  EXPECT_EQ(end_capture(third), cudaErrorStreamCaptureInvalidated);

  // A stream outside the capture waiting for its event would join it (a fork): not modelled.
  ASSERT_EQ(cudaStreamBeginCapture(third, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(captured, third), cudaSuccess);
  EXPECT_EQ(cudaStreamWaitEvent(other_, captured, 0), cudaErrorStreamCaptureUnsupported);
  EXPECT_EQ(status(third), cudaStreamCaptureStatusInvalidated);
  EXPECT_EQ(end_capture(third), cudaErrorStreamCaptureInvalidated);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  EXPECT_EQ(cudaEventDestroy(captured), cudaSuccess);
}

TEST_F(EventTest, HostWaitsAndCreationFollowTheCaptureModeRule) {
  ASSERT_EQ(cudaEventRecord(event_, other_), cudaSuccess);
  struct Case {
    cudaStreamCaptureMode mode;
    cudaError_t call, end;
  };
  const Case cases[] = {
      {cudaStreamCaptureModeGlobal, cudaErrorStreamCaptureUnsupported, cudaErrorStreamCaptureInvalidated},
      {cudaStreamCaptureModeThreadLocal, cudaErrorStreamCaptureUnsupported,
       cudaErrorStreamCaptureInvalidated},
      {cudaStreamCaptureModeRelaxed, cudaSuccess, cudaSuccess},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_EQ(cudaStreamBeginCapture(stream_, c.mode), cudaSuccess);
    EXPECT_EQ(cudaEventSynchronize(event_), c.call);
    EXPECT_EQ(end_capture(stream_), c.end);
    ASSERT_EQ(cudaStreamBeginCapture(stream_, c.mode), cudaSuccess);
    EXPECT_EQ(cudaEventQuery(event_), c.call);
    EXPECT_EQ(end_capture(stream_), c.end);
    cudaEvent_t made = nullptr;
    ASSERT_EQ(cudaStreamBeginCapture(stream_, c.mode), cudaSuccess);
    EXPECT_EQ(cudaEventCreate(&made), c.call);
    EXPECT_EQ(end_capture(stream_), c.end);
    if (made != nullptr) {
      EXPECT_EQ(cudaEventDestroy(made), cudaSuccess);
    }
  }
  // The legacy stream while a blocking stream captures.
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_EQ(cudaEventRecord(event_, nullptr), cudaErrorStreamCaptureImplicit);
  EXPECT_EQ(end_capture(stream_), cudaErrorStreamCaptureInvalidated);
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_EQ(cudaStreamWaitEvent(nullptr, event_, 0), cudaErrorStreamCaptureImplicit);
  EXPECT_EQ(end_capture(stream_), cudaErrorStreamCaptureInvalidated);
}

TEST_F(EventTest, FaultsAndStrictMode) {
  // Work that faults when an event synchronization runs it: the call answers the sticky fault.
  void* scratch = nullptr;
  ASSERT_EQ(cudaMalloc(&scratch, 64), cudaSuccess);
  cudaGraph_t g = nullptr;
  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, scratch, 64, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  ASSERT_EQ(cudaStreamEndCapture(stream_, &g), cudaSuccess);
  ASSERT_EQ(cudaGraphInstantiate(&exec, g, 0), cudaSuccess);
  ASSERT_EQ(cudaFree(scratch), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(event_, stream_), cudaSuccess);
  EXPECT_EQ(cudaEventSynchronize(event_), cudaErrorIllegalAddress);
  cudaEvent_t e = reinterpret_cast<cudaEvent_t>(0x1);
  EXPECT_EQ(cudaEventCreate(&e), cudaErrorIllegalAddress);
  EXPECT_EQ(e, reinterpret_cast<cudaEvent_t>(0x1));
  EXPECT_EQ(cudaEventRecord(event_, stream_), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaEventQuery(event_), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaStreamWaitEvent(other_, event_, 0), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaEventDestroy(event_), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaemu_live_events(), 1u) << "the destroy did nothing";

  // Strict mode: a destroyed stream's work runs when an event recorded there is waited for.
  cudaemu_reset();
  cudaemu_set_strict(1);
  cudaStream_t s = nullptr;
  void* p = nullptr;
  ASSERT_EQ(cudaMallocHost(&p, 8), cudaSuccess);
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  ASSERT_EQ(cudaEventCreate(&e), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(p, 9, 8, s), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(e, s), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  EXPECT_EQ(cudaemu_pending_work(), 1u);
  EXPECT_EQ(cudaEventQuery(e), cudaErrorNotReady);
  ASSERT_EQ(cudaEventSynchronize(e), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(p)[7], 9);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
}

TEST_F(EventTest, TraceRows) {
  cudaemu_trace_clear();
  cudaEvent_t e = nullptr;
  ASSERT_EQ(cudaEventCreateWithFlags(&e, cudaEventDisableTiming), cudaSuccess);
  ASSERT_EQ(cudaEventRecordWithFlags(e, stream_, cudaEventRecordExternal), cudaSuccess);
  ASSERT_EQ(cudaStreamWaitEvent(other_, e, cudaEventWaitExternal), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(e, other_), cudaSuccess);
  EXPECT_EQ(cudaEventQuery(e), cudaErrorNotReady);
  ASSERT_EQ(cudaEventSynchronize(e), cudaSuccess);
  ASSERT_EQ(cudaEventDestroy(e), cudaSuccess);
  const uintptr_t ev = addr(e);
  struct Row {
    const char* api;
    std::vector<uintptr_t> args;
    cudaError_t result;
  };
  const Row rows[] = {
      {"cudaEventCreateWithFlags", {ev, cudaEventDisableTiming, 0, 0, 0}, cudaSuccess},
      {"cudaEventRecordWithFlags", {ev, addr(stream_), cudaEventRecordExternal, 0, 0}, cudaSuccess},
      {"cudaStreamWaitEvent", {addr(other_), ev, cudaEventWaitExternal, 0, 0}, cudaSuccess},
      {"cudaEventRecord", {ev, addr(other_), 0, 0, 0}, cudaSuccess},
      {"cudaEventQuery", {ev, 0, 0, 0, 0}, cudaErrorNotReady},
      {"cudaEventSynchronize", {ev, 0, 0, 0, 0}, cudaSuccess},
      {"cudaEventDestroy", {ev, 0, 0, 0, 0}, cudaSuccess},
  };
  ASSERT_EQ(cudaemu_trace_size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    cudaemu_trace_entry entry;
    ASSERT_EQ(cudaemu_trace_get(i, &entry), 1);
    EXPECT_STREQ(entry.api, rows[i].api);
    EXPECT_EQ(std::vector<uintptr_t>(entry.args, entry.args + 5), rows[i].args) << rows[i].api;
    EXPECT_EQ(entry.result, rows[i].result) << rows[i].api;
    EXPECT_EQ(cudaemu_call_count(rows[i].api), 1u);
  }
  cudaEvent_t plain = nullptr;
  ASSERT_EQ(cudaEventCreate(&plain), cudaSuccess);
  EXPECT_EQ(trace_of("cudaEventCreate").at(0).args[0], addr(plain));
  EXPECT_EQ(cudaEventDestroy(plain), cudaSuccess);
}

}  // namespace
