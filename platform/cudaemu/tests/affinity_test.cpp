// Device affinity: streams, allocations and graphs belong to the device that was current when they
// were made. Copies may go to a stream of another device; device work (host functions, memsets,
// graph launches: what stands for kernels here) may not.
#include <cstring>
#include <vector>

#include "test_support.h"

namespace {

class AffinityTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    cudaemu_set_device_count(2);
    ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
    ASSERT_EQ(cudaStreamCreate(&s1_), cudaSuccess);
    ASSERT_EQ(cudaMalloc(&dev1_, 64), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&pinned_, 64), cudaSuccess);
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
    ASSERT_EQ(cudaStreamCreate(&s0_), cudaSuccess);
  }
  unsigned char* pinned() { return static_cast<unsigned char*>(pinned_); }

  cudaStream_t s0_ = nullptr;  // device 0
  cudaStream_t s1_ = nullptr;  // device 1
  void* dev1_ = nullptr;       // device 1
  void* pinned_ = nullptr;
};

void CUDART_CB bump(void* data) { ++*static_cast<int*>(data); }

TEST_F(AffinityTest, CopiesMayGoToAnotherDevicesStream) {
  std::vector<unsigned char> in(64, 3);
  ASSERT_EQ(cudaMemcpyAsync(dev1_, in.data(), 64, cudaMemcpyHostToDevice, s1_), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, dev1_, 64, cudaMemcpyDeviceToHost, s1_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(s1_), cudaSuccess) << "synchronizing another device's stream is allowed";
  EXPECT_EQ(pinned()[63], 3);
  unsigned char back[64] = {};
  ASSERT_EQ(cudaMemcpyAsync(back, dev1_, 64, cudaMemcpyDeviceToHost, s1_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(s1_), cudaSuccess);
  EXPECT_EQ(back[0], 3);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(AffinityTest, HostFunctionsOnlyIntoTheCurrentDevicesStreams) {
  int calls = 0;
  EXPECT_EQ(cudaLaunchHostFunc(s1_, bump, &calls), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaemu_pending_work(), 0u) << "nothing queued";
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaemu_sticky_error(), cudaSuccess) << "not a device fault";
  ASSERT_EQ(cudaLaunchHostFunc(s0_, bump, &calls), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  EXPECT_EQ(cudaLaunchHostFunc(s0_, bump, &calls), cudaErrorInvalidResourceHandle);
  ASSERT_EQ(cudaLaunchHostFunc(s1_, bump, &calls), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(nullptr, bump, &calls), cudaSuccess) << "stream 0 is the current device's";
  ASSERT_EQ(cudaStreamSynchronize(s0_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(s1_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(nullptr), cudaSuccess);
  EXPECT_EQ(calls, 3);
}

TEST_F(AffinityTest, MemsetsOnlyIntoTheCurrentDevicesStreams) {
  EXPECT_EQ(cudaMemsetAsync(dev1_, 1, 64, s1_), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaMemsetAsync(pinned_, 1, 64, s1_), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev1_, 1, 64, s1_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(s1_), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev1_)[0], 1);
}

TEST_F(AffinityTest, WorkIssuedToACapturingStreamOfAnotherDevice) {
  ASSERT_EQ(cudaStreamBeginCapture(s1_, cudaStreamCaptureModeRelaxed), cudaSuccess)
      << "beginning a capture is not device work";
  int calls = 0;
  EXPECT_EQ(cudaLaunchHostFunc(s1_, bump, &calls), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaMemcpyAsync(pinned_, dev1_, 64, cudaMemcpyDeviceToHost, s1_), cudaSuccess);
  cudaGraph_t g = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(s1_, &g), cudaSuccess) << "a refused call does not invalidate the capture";
  EXPECT_EQ(cudaGraphDestroy(g), cudaSuccess);
}

TEST_F(AffinityTest, GraphsBelongToTheirCaptureStreamsDevice) {
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  int calls = 0;
  ASSERT_EQ(cudaStreamBeginCapture(s1_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(s1_, bump, &calls), cudaSuccess);
  cudaGraph_t g = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(s1_, &g), cudaSuccess);
  cudaGraphExec_t e = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&e, g, 0), cudaSuccess);
  cudaStream_t other1 = nullptr;
  ASSERT_EQ(cudaStreamCreate(&other1), cudaSuccess);

  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  EXPECT_EQ(cudaGraphLaunch(e, s1_), cudaErrorInvalidResourceHandle) << "into another device's stream";
  EXPECT_EQ(cudaGraphLaunch(e, s0_), cudaErrorInvalidResourceHandle) << "a graph of another device";
  EXPECT_EQ(cudaGraphLaunch(e, nullptr), cudaErrorInvalidResourceHandle) << "device 0's legacy stream";
  EXPECT_EQ(cudaemu_pending_work(), 0u);

  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(e, s1_), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(e, other1), cudaSuccess) << "any stream of the graph's device";
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(cudaGraphExecDestroy(e), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(g), cudaSuccess);
}

TEST_F(AffinityTest, DeviceSynchronizationRunsOnlyItsDevicesWork) {
  ASSERT_EQ(cudaMemsetAsync(pinned_, 5, 1, s0_), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned(), 6, 1, s1_), cudaSuccess);
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(pinned()[0], 6);
  EXPECT_EQ(cudaemu_pending_work(), 1u) << "device 0's memset is still queued";
  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(pinned()[0], 5);
}

TEST_F(AffinityTest, ReleasingFromAnotherDeviceIsAllowed) {
  EXPECT_EQ(cudaFree(dev1_), cudaSuccess);
  EXPECT_EQ(cudaStreamDestroy(s1_), cudaSuccess);
  EXPECT_EQ(cudaemu_live_device_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_streams(), 1u);
}

// The device a stream or context belongs to is learnt the way the real runtime offers: the current
// device when it is made (what the TensorRT stand-in records at context creation).
TEST_F(AffinityTest, TheCurrentDeviceIsWhatCudaGetDeviceAnswers) {
  int device = -1;
  ASSERT_EQ(cudaGetDevice(&device), cudaSuccess);
  EXPECT_EQ(device, 0);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaGetDevice(&device), cudaSuccess);
  EXPECT_EQ(device, 1);
}

}  // namespace

namespace {

// cudaStreamGetDevice answers the device a stream was made on, whichever device is current; the
// special handles name the current device's legacy stream. Each call traces the device it wrote.
TEST_F(AffinityTest, StreamGetDeviceAnswersTheStreamsDevice) {
  struct Case {
    const char* what;
    cudaStream_t stream;
    int current;
    cudaError_t result;
    int device;  // written; -7 when nothing is
  };
  cudaStream_t destroyed = nullptr;
  ASSERT_EQ(cudaStreamCreate(&destroyed), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(destroyed), cudaSuccess);
  const Case cases[] = {
      {"device 0's stream, 0 current", s0_, 0, cudaSuccess, 0},
      {"device 1's stream, 0 current", s1_, 0, cudaSuccess, 1},
      {"device 0's stream, 1 current", s0_, 1, cudaSuccess, 0},
      {"0, 1 current", nullptr, 1, cudaSuccess, 1},
      {"cudaStreamLegacy, 1 current", cudaStreamLegacy, 1, cudaSuccess, 1},
      {"cudaStreamPerThread, 0 current", cudaStreamPerThread, 0, cudaSuccess, 0},
      {"a destroyed stream", destroyed, 0, cudaErrorInvalidResourceHandle, -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(cudaSetDevice(c.current), cudaSuccess);
    cudaemu_trace_clear();
    int device = -7;
    EXPECT_EQ(cudaStreamGetDevice(c.stream, &device), c.result);
    EXPECT_EQ(device, c.device);
    ASSERT_EQ(cudaemu_trace_size(), 1u);
    cudaemu_trace_entry entry{};
    ASSERT_EQ(cudaemu_trace_get(0, &entry), 1);
    EXPECT_STREQ(entry.api, "cudaStreamGetDevice");
    EXPECT_EQ(entry.args[1], c.result == cudaSuccess ? static_cast<uintptr_t>(c.device) : 0u);
  }
  EXPECT_EQ(cudaStreamGetDevice(s0_, nullptr), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_call_count("cudaStreamGetDevice"), 8u);
}

// A query of the legacy stream while a blocking stream of its device captures is refused as
// cudaStreamIsCapturing's is, and leaves the capture alone.
TEST_F(AffinityTest, StreamGetDeviceOfTheLegacyStreamDuringACapture) {
  ASSERT_EQ(cudaStreamBeginCapture(s0_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  int device = -7;
  EXPECT_EQ(cudaStreamGetDevice(nullptr, &device), cudaErrorStreamCaptureImplicit);
  EXPECT_EQ(device, -7);
  EXPECT_EQ(cudaStreamGetDevice(s0_, &device), cudaSuccess);
  EXPECT_EQ(device, 0);
  cudaStreamCaptureStatus status = cudaStreamCaptureStatusNone;
  ASSERT_EQ(cudaStreamIsCapturing(s0_, &status), cudaSuccess);
  EXPECT_EQ(status, cudaStreamCaptureStatusActive);
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(s0_, &graph), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

}  // namespace
