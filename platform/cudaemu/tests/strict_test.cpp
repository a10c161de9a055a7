// Strict mode (cudaemu_set_strict, CUDAEMU_STRICT=1): whatever the real runtime may do later happens
// later, and freeing memory that queued work still names is reported.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

class StrictTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    cudaemu_set_strict(1);
    ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
    ASSERT_EQ(cudaMalloc(&dev_, 256), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&pinned_, 256), cudaSuccess);
  }
  unsigned char* dev() { return static_cast<unsigned char*>(dev_); }
  unsigned char* pinned() { return static_cast<unsigned char*>(pinned_); }

  cudaStream_t stream_ = nullptr;
  void* dev_ = nullptr;
  void* pinned_ = nullptr;
};

void CUDART_CB bump(void* data) { ++*static_cast<int*>(data); }

TEST(StrictSwitch, ResetGoesBackToTheEnvironment) {
  const char* env = std::getenv("CUDAEMU_STRICT");
  const int configured = env != nullptr && std::string(env) == "1" ? 1 : 0;
  cudaemu_reset();
  EXPECT_EQ(cudaemu_strict(), configured);
  cudaemu_set_strict(1 - configured);
  EXPECT_EQ(cudaemu_strict(), 1 - configured);
  cudaemu_reset();
  EXPECT_EQ(cudaemu_strict(), configured);
}

TEST_F(StrictTest, PageableDestinationCompletesOnlyAtASynchronization) {
  ASSERT_EQ(cudaMemsetAsync(dev_, 9, 256, stream_), cudaSuccess);
  std::vector<unsigned char> back(256, 0);
  ASSERT_EQ(cudaMemcpyAsync(back.data(), dev_, 256, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  EXPECT_EQ(back[0], 0) << "not complete on return";
  EXPECT_EQ(cudaemu_pending_work(), 2u);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(back[0], 9);
  EXPECT_EQ(back[255], 9);
}

TEST_F(StrictTest, PageableSourceIsReadWhenTheCopyRuns) {
  std::vector<unsigned char> in(256, 1);
  ASSERT_EQ(cudaMemcpyAsync(dev_, in.data(), 256, cudaMemcpyHostToDevice, stream_), cudaSuccess);
  EXPECT_EQ(cudaemu_pending_work(), 1u);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(dev()[255], 1);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(StrictTest, APageableSourceReusedBeforeTheCopyRanIsReported) {
  std::vector<unsigned char> in(256, 1);
  ASSERT_EQ(cudaMemcpyAsync(dev_, in.data(), 256, cudaMemcpyHostToDevice, stream_), cudaSuccess);
  in[100] = 2;  // reused before a synchronization: on a GPU the copy may see either byte
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess) << "a caller's race, not a device fault";
  EXPECT_EQ(dev()[100], 2) << "the copy read the buffer when it ran";
  EXPECT_EQ(cudaemu_violations(), 1u);
  EXPECT_NE(last_violation().find("pageable copy source"), std::string::npos) << last_violation();
  EXPECT_EQ(cudaemu_sticky_error(), cudaSuccess);
}

TEST_F(StrictTest, HostToHostCopiesStillCompleteOnReturn) {
  std::vector<unsigned char> a(16, 4), b(16, 0);
  ASSERT_EQ(cudaMemcpyAsync(b.data(), a.data(), 16, cudaMemcpyHostToHost, stream_), cudaSuccess);
  EXPECT_EQ(b[15], 4);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, a.data(), 16, cudaMemcpyDefault, stream_), cudaSuccess);
  EXPECT_EQ(pinned()[15], 4);
}

TEST_F(StrictTest, SynchronousCopiesReturnAsEarlyAsCudaAllows) {
  // Device to host: complete on return.
  ASSERT_EQ(cudaMemset(dev_, 3, 256), cudaSuccess);
  unsigned char back[4] = {};
  ASSERT_EQ(cudaMemcpy(back, dev_, 4, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(back[0], 3);
  // Pageable host to device: the source is staged, the device write may still be pending.
  std::vector<unsigned char> in(256, 5);
  ASSERT_EQ(cudaMemcpy(dev_, in.data(), 256, cudaMemcpyHostToDevice), cudaSuccess);
  std::fill(in.begin(), in.end(), 6);
  EXPECT_EQ(dev()[0], 3) << "device write still queued";
  // Device to device: no host synchronization.
  void* other = nullptr;
  ASSERT_EQ(cudaMalloc(&other, 256), cudaSuccess);
  ASSERT_EQ(cudaMemcpy(other, dev_, 256, cudaMemcpyDeviceToDevice), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(other)[0], 0);
  EXPECT_EQ(cudaemu_pending_work(), 2u);
  ASSERT_EQ(cudaMemcpy(back, other, 4, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(back[0], 5) << "in order on the legacy stream, with the staged bytes";
  // Pinned host to device: synchronous.
  std::memset(pinned_, 7, 256);
  ASSERT_EQ(cudaMemcpy(dev_, pinned_, 256, cudaMemcpyHostToDevice), cudaSuccess);
  EXPECT_EQ(dev()[0], 7);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
}

TEST_F(StrictTest, StreamDestroyReturnsBeforeTheWorkRan) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&s, cudaStreamNonBlocking), cudaSuccess);
  int calls = 0;
  ASSERT_EQ(cudaMemsetAsync(pinned_, 8, 4, s), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(s, bump, &calls), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(pinned()[3], 0);
  EXPECT_EQ(cudaemu_live_streams(), 1u) << "the handle is gone";
  EXPECT_EQ(cudaemu_pending_work(), 2u) << "its work is not";
  EXPECT_EQ(cudaStreamSynchronize(s), cudaErrorInvalidResourceHandle);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(calls, 0) << "synchronizing another stream does not wait for it";
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(pinned()[3], 8);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
}

TEST_F(StrictTest, LegacyStreamWaitsForADestroyedBlockingStream) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 4, 256, s), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  unsigned char back[4] = {};
  ASSERT_EQ(cudaMemcpy(back, dev_, 4, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(back[0], 4);
}

TEST_F(StrictTest, ADestroyedStreamKeepsWhatItsWorkNeeds) {
  // A graph launch queued on a stream that is then destroyed, with its graph and executable graph:
  // the launch still runs the recorded nodes, later.
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(s, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 2, 256, s), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, dev_, 256, cudaMemcpyDeviceToHost, s), cudaSuccess);
  cudaGraph_t g = nullptr;
  cudaGraphExec_t e = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(s, &g), cudaSuccess);
  ASSERT_EQ(cudaGraphInstantiate(&e, g, 0), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(e, s), cudaSuccess);
  ASSERT_EQ(cudaGraphExecDestroy(e), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(g), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  EXPECT_EQ(pinned()[0], 0);
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(pinned()[255], 2);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(StrictTest, FreeWaitsOnlyForTheWorkThatNamesTheMemory) {
  cudaStream_t other = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&other, cudaStreamNonBlocking), cudaSuccess);
  void* scratch = nullptr;
  ASSERT_EQ(cudaMalloc(&scratch, 64), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(scratch, 7, 64, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, scratch, 64, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 1, 256, stream_), cudaSuccess);  // later, and not naming it
  ASSERT_EQ(cudaMemsetAsync(dev_, 2, 256, other), cudaSuccess);
  ASSERT_EQ(cudaFree(scratch), cudaSuccess);
  EXPECT_EQ(pinned()[63], 7) << "the work naming the memory ran before the free";
  EXPECT_EQ(cudaemu_pending_work(), 2u) << "the rest stays queued";
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(StrictTest, FreeWaitsForADestroyedStreamsWorkThatNamesTheMemory) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  void* scratch = nullptr;
  ASSERT_EQ(cudaMalloc(&scratch, 64), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(scratch, 3, 64, s), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, scratch, 64, cudaMemcpyDeviceToHost, s), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  ASSERT_EQ(cudaFree(scratch), cudaSuccess);
  EXPECT_EQ(pinned()[0], 3);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(StrictTest, FreeingPinnedMemoryThatQueuedWorkNamesIsReported) {
  void* scratch = nullptr;
  ASSERT_EQ(cudaMallocHost(&scratch, 64), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(static_cast<char*>(scratch) + 16, 1, 8, stream_), cudaSuccess);
  ASSERT_EQ(cudaFreeHost(scratch), cudaSuccess);
  EXPECT_EQ(cudaemu_violations(), 1u);
  EXPECT_NE(last_violation().find("freed while queued work"), std::string::npos) << last_violation();
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 1u) << "the free itself happened";
  EXPECT_EQ(cudaemu_pending_work(), 1u) << "cudaFreeHost does not synchronize";
  // The memory is not handed out again while the work may still use it.
  void* next = nullptr;
  ASSERT_EQ(cudaMallocHost(&next, 64), cudaSuccess);
  EXPECT_NE(next, scratch);
  // When the work runs it finds the memory gone: a sticky device fault.
  EXPECT_EQ(cudaStreamSynchronize(stream_), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaemu_violations(), 2u);
  EXPECT_EQ(cudaemu_sticky_error(), cudaErrorIllegalAddress);
}

// A copy into freed pinned memory: the address stays mapped (quarantined), but the copy finds its
// destination gone instead of writing into it.
TEST_F(StrictTest, ACopyIntoPinnedMemoryFreedBeforeItRanFaults) {
  void* scratch = nullptr;
  ASSERT_EQ(cudaMallocHost(&scratch, 64), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(dev_, 5, 64, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(scratch, dev_, 64, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  ASSERT_EQ(cudaFreeHost(scratch), cudaSuccess);
  EXPECT_EQ(cudaemu_violations(), 1u);
  EXPECT_EQ(cudaStreamSynchronize(stream_), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaemu_violations(), 2u);
  EXPECT_NE(last_violation().find("freed since"), std::string::npos) << last_violation();
  EXPECT_EQ(static_cast<unsigned char*>(scratch)[0], 0) << "nothing written into the quarantined memory";
}

TEST_F(StrictTest, FreeingPinnedMemoryNamedByADestroyedStreamsWorkIsReported) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, dev_, 256, cudaMemcpyDeviceToHost, s), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  ASSERT_EQ(cudaFreeHost(pinned_), cudaSuccess);
  EXPECT_EQ(cudaemu_violations(), 1u);
  EXPECT_NE(last_violation().find("cudaFreeHost"), std::string::npos) << last_violation();
}

TEST_F(StrictTest, FreeingMemoryNamedByRunningWorkIsReported) {
  // A graph: a host function that waits, then a memset. While another thread runs it and sits in the
  // host function, the memset's memory is freed.
  struct Gate {
    std::atomic<bool> entered{false};
    std::atomic<bool> open{false};
  } gate;
  auto wait = [](void* data) {
    auto* g = static_cast<Gate*>(data);
    g->entered = true;
    while (!g->open) std::this_thread::yield();
  };
  cudaGraph_t g = nullptr;
  cudaGraphExec_t e = nullptr;
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(stream_, wait, &gate), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 1, 256, stream_), cudaSuccess);
  ASSERT_EQ(cudaStreamEndCapture(stream_, &g), cudaSuccess);
  ASSERT_EQ(cudaGraphInstantiate(&e, g, 0), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(e, stream_), cudaSuccess);
  cudaError_t synced = cudaSuccess;
  std::thread runner([&] { synced = cudaStreamSynchronize(stream_); });
  while (!gate.entered) std::this_thread::yield();
  EXPECT_EQ(cudaemu_pending_work(), 0u) << "the launch is running, not queued";
  EXPECT_EQ(cudaFreeHost(pinned_), cudaSuccess);
  EXPECT_EQ(cudaemu_violations(), 1u);
  gate.open = true;
  runner.join();
  EXPECT_EQ(synced, cudaErrorIllegalAddress);
}

TEST_F(StrictTest, ResetDropsTheWorkOfDestroyedStreams) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  int calls = 0;
  ASSERT_EQ(cudaLaunchHostFunc(s, bump, &calls), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  cudaemu_reset();
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  EXPECT_EQ(calls, 0);
}

}  // namespace
