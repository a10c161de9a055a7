// cudaEventElapsedTime: the time between two records as their stream's work ran, and each refusal the
// documentation names (and those chosen where it is silent).
#include <chrono>
#include <thread>

#include "test_support.h"

namespace {

class ElapsedTimeTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    ASSERT_EQ(cudaStreamCreateWithFlags(&stream_, cudaStreamNonBlocking), cudaSuccess);
    ASSERT_EQ(cudaEventCreate(&start_), cudaSuccess);
    ASSERT_EQ(cudaEventCreate(&end_), cudaSuccess);
  }
  cudaStream_t stream_ = nullptr;
  cudaEvent_t start_ = nullptr, end_ = nullptr;
};

void CUDART_CB Sleep20ms(void*) { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

TEST_F(ElapsedTimeTest, MeasuresTheWorkBetweenTheRecordsWhenItRuns) {
  ASSERT_EQ(cudaEventRecord(start_, stream_), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(stream_, Sleep20ms, nullptr), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(end_, stream_), cudaSuccess);
  float ms = -1;
  EXPECT_EQ(cudaEventElapsedTime(&ms, start_, end_), cudaErrorNotReady) << "nothing has run";
  EXPECT_EQ(ms, -1) << "nothing written";
  EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "not ready is not an error";
  EXPECT_EQ(cudaemu_pending_work(), 1u) << "asking runs nothing";
  // The host waits long before it synchronizes: that time is not the work's.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);
  const double waited_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
  ASSERT_EQ(cudaEventElapsedTime(&ms, start_, end_), cudaSuccess);
  EXPECT_GE(ms, 20.0f);
  EXPECT_LE(ms, waited_ms + 0.01) << "within the synchronization that ran it";
  float back = 0;
  ASSERT_EQ(cudaEventElapsedTime(&back, end_, start_), cudaSuccess);
  EXPECT_FLOAT_EQ(back, -ms);
  ASSERT_EQ(cudaEventElapsedTime(&back, start_, start_), cudaSuccess);
  EXPECT_EQ(back, 0.0f);

  // Recorded again: the latest record counts, and until it has run the pair is not ready.
  ASSERT_EQ(cudaEventRecord(end_, stream_), cudaSuccess);
  EXPECT_EQ(cudaEventElapsedTime(&ms, start_, end_), cudaErrorNotReady);
  ASSERT_EQ(cudaEventSynchronize(end_), cudaSuccess);
  ASSERT_EQ(cudaEventElapsedTime(&back, start_, end_), cudaSuccess);
  EXPECT_GE(back, ms);
  EXPECT_EQ(cudaemu_call_count("cudaEventElapsedTime"), 6u);
  EXPECT_EQ(trace_of("cudaEventElapsedTime").at(0).args[0], addr(start_));
  EXPECT_EQ(trace_of("cudaEventElapsedTime").at(0).args[1], addr(end_));
}

TEST_F(ElapsedTimeTest, Refusals) {
  cudaEvent_t untimed = nullptr, unrecorded = nullptr, captured = nullptr, gone = nullptr;
  ASSERT_EQ(cudaEventCreateWithFlags(&untimed, cudaEventDisableTiming), cudaSuccess);
  ASSERT_EQ(cudaEventCreate(&unrecorded), cudaSuccess);
  ASSERT_EQ(cudaEventCreate(&captured), cudaSuccess);
  ASSERT_EQ(cudaEventCreate(&gone), cudaSuccess);
  ASSERT_EQ(cudaEventDestroy(gone), cudaSuccess);
  for (cudaEvent_t e : {start_, end_, untimed}) ASSERT_EQ(cudaEventRecord(e, stream_), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(captured, stream_), cudaSuccess);
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_, &graph), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_), cudaSuccess);

  struct Case {
    const char* what;
    cudaEvent_t start, end;
    cudaError_t result;
  };
  const Case cases[] = {
      {"never recorded", start_, unrecorded, cudaErrorInvalidResourceHandle},
      {"never recorded, first", unrecorded, end_, cudaErrorInvalidResourceHandle},
      {"made with cudaEventDisableTiming", untimed, end_, cudaErrorInvalidResourceHandle},
      {"made with cudaEventDisableTiming, last", start_, untimed, cudaErrorInvalidResourceHandle},
      {"null", nullptr, end_, cudaErrorInvalidResourceHandle},
      {"destroyed", start_, gone, cudaErrorInvalidResourceHandle},
      {"last recorded in a capture", start_, captured, cudaErrorCapturedEvent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    float ms = -1;
    EXPECT_EQ(cudaEventElapsedTime(&ms, c.start, c.end), c.result);
    EXPECT_EQ(ms, -1);
  }
  EXPECT_EQ(cudaEventElapsedTime(nullptr, start_, end_), cudaErrorInvalidValue);
  float ms = -1;
  EXPECT_EQ(cudaEventElapsedTime(&ms, start_, end_), cudaSuccess);
  EXPECT_GE(ms, 0.0f);

  // During a capture, under the mode rule: refused in the global mode, which invalidates it.
  cudaStream_t capturing = nullptr;
  ASSERT_EQ(cudaStreamCreate(&capturing), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(capturing, cudaStreamCaptureModeGlobal), cudaSuccess);
  EXPECT_EQ(cudaEventElapsedTime(&ms, start_, end_), cudaErrorStreamCaptureUnsupported);
  EXPECT_EQ(cudaStreamEndCapture(capturing, &graph), cudaErrorStreamCaptureInvalidated);

  // Events of two devices share no clock.
  cudaemu_reset();
  cudaemu_set_device_count(2);
  cudaEvent_t zero = nullptr, one = nullptr;
  ASSERT_EQ(cudaEventCreate(&zero), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(zero, nullptr), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaEventCreate(&one), cudaSuccess);
  ASSERT_EQ(cudaEventRecord(one, nullptr), cudaSuccess);
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(cudaEventElapsedTime(&ms, zero, one), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaEventElapsedTime(&ms, zero, zero), cudaSuccess);
}

}  // namespace
