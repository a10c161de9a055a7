// Stream capture: recording, replay, graphs, and the calls a capture forbids.
#include <cstring>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

class CaptureTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
    ASSERT_EQ(cudaMalloc(&dev_, 64), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&staging_, 64), cudaSuccess);
  }
  cudaStreamCaptureStatus status(cudaStream_t s) {
    auto st = static_cast<cudaStreamCaptureStatus>(77);
    EXPECT_EQ(cudaStreamIsCapturing(s, &st), cudaSuccess);
    return st;
  }
  // Begins a capture, makes `call`, and ends it; returns EndCapture's answer.
  template <class F>
  cudaError_t capture_around(cudaStreamCaptureMode mode, F call, cudaError_t* call_result) {
    EXPECT_EQ(cudaStreamBeginCapture(stream_, mode), cudaSuccess);
    *call_result = call();
    cudaGraph_t g = reinterpret_cast<cudaGraph_t>(0x1);
    cudaError_t end = cudaStreamEndCapture(stream_, &g);
    if (end == cudaSuccess) {
      EXPECT_EQ(cudaGraphDestroy(g), cudaSuccess);
    } else {
      EXPECT_EQ(g, nullptr);
    }
    return end;
  }
  unsigned char* staging() { return static_cast<unsigned char*>(staging_); }

  cudaStream_t stream_ = nullptr;
  void* dev_ = nullptr;
  void* staging_ = nullptr;
};

void CUDART_CB add_one(void* data) {
  auto* bytes = static_cast<unsigned char*>(data);
  for (int i = 0; i < 64; ++i) ++bytes[i];
}

// What the TensorRT stand-in does on the caller's stream: device -> pinned staging, host compute,
// staging -> device.
void enqueue_round_trip(cudaStream_t s, void* dev, void* staging) {
  ASSERT_EQ(cudaMemcpyAsync(staging, dev, 64, cudaMemcpyDeviceToHost, s), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(s, add_one, staging), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(dev, staging, 64, cudaMemcpyHostToDevice, s), cudaSuccess);
}

TEST_F(CaptureTest, CapturedWorkIsRecordedAndReplayedInOrder) {
  ASSERT_EQ(cudaMemset(dev_, 10, 64), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_EQ(status(stream_), cudaStreamCaptureStatusActive);
  enqueue_round_trip(stream_, dev_, staging_);
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  EXPECT_EQ(status(stream_), cudaStreamCaptureStatusNone);
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 10) << "capture records, it does not run";
  EXPECT_EQ(staging()[0], 0);

  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess) << "the executable graph keeps its own copy";
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_EQ(cudaemu_live_graph_execs(), 1u);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 10) << "launches are queued like any stream work";
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 13);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[63], 13);
  EXPECT_EQ(cudaemu_work_executed(), 1u + 3u * 3u);
  ASSERT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
}

TEST_F(CaptureTest, ExecDestroyedWhileLaunchIsQueued) {
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeGlobal), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 3, 64, stream_), cudaSuccess);
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
  ASSERT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 3);
}

TEST_F(CaptureTest, EmptyCaptureGivesALaunchableGraph) {
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeGlobal), cudaSuccess);
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  ASSERT_NE(graph, nullptr);
  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
  EXPECT_EQ(cudaGraphLaunch(exec, stream_), cudaSuccess);
  EXPECT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

TEST_F(CaptureTest, PreCaptureWorkStillRunsAfterwards) {
  ASSERT_EQ(cudaMemsetAsync(dev_, 1, 64, stream_), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 2, 64, stream_), cudaSuccess);
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 1);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

TEST_F(CaptureTest, SynchronizingTheCapturingStreamInvalidatesIt) {
  for (auto mode :
       {cudaStreamCaptureModeGlobal, cudaStreamCaptureModeThreadLocal, cudaStreamCaptureModeRelaxed}) {
    SCOPED_TRACE(mode);
    cudaError_t sync = cudaSuccess;
    cudaError_t end = capture_around(
        mode, [&] { return cudaStreamSynchronize(stream_); }, &sync);
    EXPECT_EQ(sync, cudaErrorStreamCaptureUnsupported);
    EXPECT_EQ(end, cudaErrorStreamCaptureInvalidated);
    EXPECT_EQ(status(stream_), cudaStreamCaptureStatusNone);
  }
}

TEST_F(CaptureTest, WorkOnAnInvalidatedCaptureIsRefused) {
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeGlobal), cudaSuccess);
  EXPECT_EQ(cudaDeviceSynchronize(), cudaErrorStreamCaptureUnsupported);
  EXPECT_EQ(status(stream_), cudaStreamCaptureStatusInvalidated);
  EXPECT_EQ(cudaMemsetAsync(dev_, 0, 64, stream_), cudaErrorStreamCaptureInvalidated);
  cudaGraph_t graph = reinterpret_cast<cudaGraph_t>(0x1);
  EXPECT_EQ(cudaStreamEndCapture(stream_, &graph), cudaErrorStreamCaptureInvalidated);
  EXPECT_EQ(graph, nullptr);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
}

TEST_F(CaptureTest, UnsafeCallsDependOnTheCaptureMode) {
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
    void* p = nullptr;
    cudaError_t result = cudaSuccess;
    EXPECT_EQ(capture_around(
                  c.mode, [&] { return cudaMalloc(&p, 16); }, &result),
              c.end);
    EXPECT_EQ(result, c.call);
    if (p) {
      EXPECT_EQ(cudaFree(p), cudaSuccess);
    }
    cudaStream_t other = nullptr;
    EXPECT_EQ(capture_around(
                  c.mode, [&] { return cudaStreamCreate(&other); }, &result),
              c.end);
    EXPECT_EQ(result, c.call);
    if (other) {
      EXPECT_EQ(cudaStreamDestroy(other), cudaSuccess);
    }
    EXPECT_EQ(capture_around(
                  c.mode, [&] { return cudaFreeHost(staging_); }, &result),
              c.end);
    EXPECT_EQ(result, c.call);
    if (result == cudaSuccess) {
      ASSERT_EQ(cudaMallocHost(&staging_, 64), cudaSuccess);
    }
  }
  EXPECT_EQ(cudaemu_live_allocations(), 2u);
}

TEST_F(CaptureTest, LegacyStreamUseWhileABlockingStreamCaptures) {
  cudaError_t result = cudaSuccess;
  EXPECT_EQ(capture_around(
                cudaStreamCaptureModeRelaxed, [&] { return cudaMemset(dev_, 0, 64); }, &result),
            cudaErrorStreamCaptureInvalidated);
  EXPECT_EQ(result, cudaErrorStreamCaptureImplicit);

  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  cudaStreamCaptureStatus st = cudaStreamCaptureStatusNone;
  EXPECT_EQ(cudaStreamIsCapturing(nullptr, &st), cudaErrorStreamCaptureImplicit);
  EXPECT_EQ(status(stream_), cudaStreamCaptureStatusActive) << "asking does not invalidate";
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);

  // A non-blocking stream does not tie the legacy stream to its capture.
  cudaStream_t nb = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&nb, cudaStreamNonBlocking), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(nb, cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_EQ(cudaMemset(dev_, 0, 64), cudaSuccess);
  ASSERT_EQ(cudaStreamEndCapture(nb, &graph), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

TEST_F(CaptureTest, BookkeepingErrors) {
  cudaGraph_t graph = nullptr;
  EXPECT_EQ(cudaStreamEndCapture(stream_, &graph), cudaErrorIllegalState);
  EXPECT_EQ(cudaStreamEndCapture(nullptr, &graph), cudaErrorIllegalState);
  EXPECT_EQ(cudaStreamBeginCapture(nullptr, cudaStreamCaptureModeGlobal), cudaErrorStreamCaptureUnsupported);
  EXPECT_EQ(cudaStreamBeginCapture(stream_, static_cast<cudaStreamCaptureMode>(7)), cudaErrorInvalidValue);
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaErrorIllegalState);
  EXPECT_EQ(cudaStreamEndCapture(stream_, nullptr), cudaErrorInvalidValue);
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  cudaGraphExec_t exec = nullptr;
  EXPECT_EQ(cudaGraphInstantiate(&exec, nullptr, 0), cudaErrorInvalidValue);
  EXPECT_EQ(cudaGraphInstantiate(nullptr, graph, 0), cudaErrorInvalidValue);
  EXPECT_EQ(cudaGraphLaunch(nullptr, stream_), cudaErrorInvalidValue);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
}

TEST_F(CaptureTest, OtherThreads) {
  // A Global capture on this thread makes another thread's unsafe call fail and invalidates it.
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeGlobal), cudaSuccess);
  cudaError_t malloc_elsewhere = cudaSuccess;
  cudaError_t end_elsewhere = cudaSuccess;
  std::thread([&] {
    void* p = nullptr;
    malloc_elsewhere = cudaMalloc(&p, 16);
    cudaGraph_t g = nullptr;
    end_elsewhere = cudaStreamEndCapture(stream_, &g);
  }).join();
  EXPECT_EQ(malloc_elsewhere, cudaErrorStreamCaptureUnsupported);
  EXPECT_EQ(end_elsewhere, cudaErrorStreamCaptureWrongThread);
  cudaGraph_t graph = nullptr;
  EXPECT_EQ(cudaStreamEndCapture(stream_, &graph), cudaErrorStreamCaptureInvalidated);

  // ThreadLocal and Relaxed captures leave other threads alone; Relaxed may end anywhere.
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  std::thread([&] {
    void* p = nullptr;
    malloc_elsewhere = cudaMalloc(&p, 16);
    cudaFree(p);
    end_elsewhere = cudaStreamEndCapture(stream_, &graph);
  }).join();
  EXPECT_EQ(malloc_elsewhere, cudaSuccess);
  EXPECT_EQ(end_elsewhere, cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

TEST_F(CaptureTest, GraphLaunchInsideACaptureIsRecorded) {
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 5, 64, stream_), cudaSuccess);
  cudaGraph_t inner = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &inner), cudaSuccess);
  cudaGraphExec_t inner_exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&inner_exec, inner, 0), cudaSuccess);

  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(inner_exec, stream_), cudaSuccess);
  enqueue_round_trip(stream_, dev_, staging_);
  cudaGraph_t outer = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &outer), cudaSuccess);
  cudaGraphExec_t outer_exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&outer_exec, outer, 0), cudaSuccess);
  EXPECT_EQ(cudaemu_work_executed(), 0u);
  ASSERT_EQ(cudaGraphLaunch(outer_exec, stream_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 6);
  for (auto g : {inner, outer}) EXPECT_EQ(cudaGraphDestroy(g), cudaSuccess);
  for (auto e : {inner_exec, outer_exec}) EXPECT_EQ(cudaGraphExecDestroy(e), cudaSuccess);
}

TEST_F(CaptureTest, DestroyingACapturingStreamDropsTheCapture) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(s, cudaStreamCaptureModeGlobal), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 1, 64, s), cudaSuccess);
  EXPECT_EQ(cudaStreamDestroy(s), cudaSuccess);
  void* p = nullptr;
  EXPECT_EQ(cudaMalloc(&p, 8), cudaSuccess) << "no capture left to forbid it";
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 0);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
}

}  // namespace
