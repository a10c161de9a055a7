// Stream ordering, deferred execution, host functions and the legacy default stream.
#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

class StreamTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    ASSERT_EQ(cudaStreamCreate(&stream_), cudaSuccess);
    ASSERT_EQ(cudaMalloc(&dev_, 256), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&pinned_, 256), cudaSuccess);
  }
  unsigned char* pinned() { return static_cast<unsigned char*>(pinned_); }

  cudaStream_t stream_ = nullptr;
  void* dev_ = nullptr;
  void* pinned_ = nullptr;
};

struct Log {
  std::vector<std::string> entries;
  const unsigned char* watched = nullptr;  // first byte recorded when a host function runs
};

struct Mark {
  Log* log;
  const char* name;
};

void CUDART_CB record(void* data) {
  auto* mark = static_cast<Mark*>(data);
  std::string entry = mark->name;
  if (mark->log->watched) entry += "=" + std::to_string(*mark->log->watched);
  mark->log->entries.push_back(entry);
}

TEST_F(StreamTest, QueuedWorkRunsOnlyAtSynchronization) {
  ASSERT_EQ(cudaMemsetAsync(dev_, 5, 256, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, dev_, 256, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  EXPECT_EQ(pinned()[0], 0) << "pinned results are not there before the stream is synchronized";
  EXPECT_EQ(cudaemu_pending_work(), 2u);
  EXPECT_EQ(cudaemu_work_executed(), 0u);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(pinned()[0], 5);
  EXPECT_EQ(pinned()[255], 5);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  EXPECT_EQ(cudaemu_work_executed(), 2u);
}

TEST_F(StreamTest, PinnedSourceIsReadWhenTheCopyRuns) {
  std::memset(pinned_, 1, 256);
  ASSERT_EQ(cudaMemcpyAsync(dev_, pinned_, 256, cudaMemcpyHostToDevice, stream_), cudaSuccess);
  std::memset(pinned_, 2, 256);  // reused too early: a missing synchronization
  unsigned char back[256] = {};
  ASSERT_EQ(cudaMemcpyAsync(back, dev_, 256, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  EXPECT_EQ(back[0], 2) << "the device saw the overwritten pinned buffer";
}

TEST_F(StreamTest, PageableSourceIsConsumedByTheCall) {
  std::vector<unsigned char> pageable(256, 1);
  ASSERT_EQ(cudaMemcpyAsync(dev_, pageable.data(), 256, cudaMemcpyHostToDevice, stream_), cudaSuccess);
  std::fill(pageable.begin(), pageable.end(), 2);
  EXPECT_EQ(cudaemu_pending_work(), 1u) << "the copy itself is still queued";
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 1);
}

TEST_F(StreamTest, PageableDestinationIsCompleteOnReturn) {
  ASSERT_EQ(cudaMemsetAsync(dev_, 9, 256, stream_), cudaSuccess);
  unsigned char back[256] = {};
  ASSERT_EQ(cudaMemcpyAsync(back, dev_, 256, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  EXPECT_EQ(back[0], 9) << "earlier work of the stream ran first";
  EXPECT_EQ(back[255], 9);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
}

TEST_F(StreamTest, HostFunctionsRunInStreamOrder) {
  Log log;
  log.watched = pinned();
  Mark first{&log, "first"};
  Mark second{&log, "second"};
  ASSERT_EQ(cudaLaunchHostFunc(stream_, record, &first), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 3, 1, stream_), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(stream_, record, &second), cudaSuccess);
  EXPECT_TRUE(log.entries.empty());
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(log.entries, (std::vector<std::string>{"first=0", "second=3"}));
  EXPECT_EQ(cudaLaunchHostFunc(stream_, nullptr, nullptr), cudaErrorInvalidValue);
}

void CUDART_CB call_runtime(void* data) {
  auto* results = static_cast<std::vector<cudaError_t>*>(data);
  void* p = nullptr;
  results->push_back(cudaMalloc(&p, 16));
  results->push_back(cudaStreamSynchronize(nullptr));
  results->push_back(cudaGetLastError());
}

TEST_F(StreamTest, CudaCallsInsideHostFunctionsAreNotPermitted) {
  std::vector<cudaError_t> results;
  ASSERT_EQ(cudaLaunchHostFunc(stream_, call_runtime, &results), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(results,
            (std::vector<cudaError_t>{cudaErrorNotPermitted, cudaErrorNotPermitted, cudaErrorNotPermitted}));
  EXPECT_EQ(cudaemu_live_allocations(), 2u) << "only the fixture's buffers";
  void* p = nullptr;
  EXPECT_EQ(cudaMalloc(&p, 16), cudaSuccess) << "outside the host function calls work again";
}

TEST_F(StreamTest, LegacyStreamOrdersBlockingStreams) {
  // cudaMemset goes to the legacy stream; a blocking stream's later work waits for it.
  ASSERT_EQ(cudaMemset(dev_, 4, 256), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 0) << "cudaMemset does not complete on return";
  ASSERT_EQ(cudaMemcpyAsync(pinned_, dev_, 256, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(pinned()[0], 4);

  // And legacy work waits for the blocking stream's earlier work.
  ASSERT_EQ(cudaMemsetAsync(dev_, 6, 256, stream_), cudaSuccess);
  unsigned char back[4] = {};
  ASSERT_EQ(cudaMemcpy(back, dev_, 4, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(back[0], 6);
}

TEST_F(StreamTest, SynchronizingTheLegacyStreamWaitsForBlockingStreams) {
  cudaStream_t nb = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&nb, cudaStreamNonBlocking), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 1, 1, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned(), 2, 1, nb), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(nullptr), cudaSuccess);
  EXPECT_EQ(pinned()[0], 1);
  EXPECT_EQ(cudaemu_pending_work(), 1u) << "the non-blocking stream's memset is still queued";
  ASSERT_EQ(cudaStreamDestroy(nb), cudaSuccess);
  EXPECT_EQ(pinned()[0], 2);
}

TEST_F(StreamTest, NonBlockingStreamDoesNotWaitForLegacyWork) {
  cudaStream_t nb = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&nb, cudaStreamNonBlocking), cudaSuccess);
  ASSERT_EQ(cudaMemset(dev_, 4, 256), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, dev_, 256, cudaMemcpyDeviceToHost, nb), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(nb), cudaSuccess);
  EXPECT_EQ(pinned()[0], 0) << "unordered against the legacy stream, so the memset has not run";
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(dev_)[0], 4);
  EXPECT_EQ(cudaStreamDestroy(nb), cudaSuccess);
}

TEST_F(StreamTest, IndependentStreamsRunOnlyWhatIsSynchronized) {
  cudaStream_t other = nullptr;
  ASSERT_EQ(cudaStreamCreate(&other), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 1, 1, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned(), 2, 1, other), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(other), cudaSuccess);
  EXPECT_EQ(pinned()[0], 2);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  EXPECT_EQ(pinned()[0], 1);
}

TEST_F(StreamTest, DestroyRunsPendingWork) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  EXPECT_EQ(cudaemu_live_streams(), 2u);
  ASSERT_EQ(cudaMemsetAsync(pinned_, 8, 4, s), cudaSuccess);
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  EXPECT_EQ(pinned()[3], 8);
  EXPECT_EQ(cudaemu_live_streams(), 1u);
  EXPECT_EQ(cudaStreamDestroy(s), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaStreamSynchronize(s), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaMemsetAsync(pinned_, 0, 4, s), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaStreamDestroy(nullptr), cudaErrorInvalidResourceHandle);
}

TEST_F(StreamTest, CreateArguments) {
  cudaStream_t s = nullptr;
  EXPECT_EQ(cudaStreamCreate(nullptr), cudaErrorInvalidValue);
  EXPECT_EQ(cudaStreamCreateWithFlags(&s, 0x80), cudaErrorInvalidValue);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(cudaemu_live_streams(), 1u);
}

TEST_F(StreamTest, FreeWaitsForQueuedWork) {
  void* scratch = nullptr;
  ASSERT_EQ(cudaMalloc(&scratch, 256), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(scratch, 7, 256, stream_), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(pinned_, scratch, 256, cudaMemcpyDeviceToHost, stream_), cudaSuccess);
  ASSERT_EQ(cudaFree(scratch), cudaSuccess);
  EXPECT_EQ(pinned()[0], 7) << "cudaFree synchronizes before releasing";
  EXPECT_EQ(cudaemu_violations(), 0u);
}

}  // namespace
