// Sticky faults: the codes driver_types.h documents as leaving the process unusable answer every
// later runtime call, whether a call was made to answer one or queued work hit one.
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using StickyTest = EmulatorTest;

// The codes whose driver_types.h comment says the process must be terminated and relaunched.
const std::set<int> kSticky = {
    cudaErrorContained,          cudaErrorIllegalAddress,
    cudaErrorLaunchTimeout,      cudaErrorAssert,
    cudaErrorHardwareStackError, cudaErrorIllegalInstruction,
    cudaErrorMisalignedAddress,  cudaErrorInvalidAddressSpace,
    cudaErrorInvalidPc,          cudaErrorLaunchFailure,
    cudaErrorTensorMemoryLeak,   cudaErrorMpsClientTerminated,
    cudaErrorExternalDevice,
};

// Every code the runtime names.
std::vector<cudaError_t> known_codes() {
  std::vector<cudaError_t> codes;
  for (int c = 1; c < 1000; ++c)
    if (std::string(cudaGetErrorName(static_cast<cudaError_t>(c))) != "unrecognized error code")
      codes.push_back(static_cast<cudaError_t>(c));
  return codes;
}

TEST_F(StickyTest, ExactlyTheDocumentedCodesStick) {
  std::set<int> sticky;
  for (cudaError_t code : known_codes()) {
    cudaemu_reset();
    ASSERT_EQ(cudaemu_fail_call("cudaStreamCreate", 1, code), 0);
    cudaStream_t s = nullptr;
    ASSERT_EQ(cudaStreamCreate(&s), code);
    void* p = nullptr;
    cudaError_t next = cudaMalloc(&p, 16);
    if (next == code) {
      sticky.insert(code);
      EXPECT_EQ(cudaemu_sticky_error(), code);
    } else {
      EXPECT_EQ(next, cudaSuccess) << cudaGetErrorName(code);
      EXPECT_EQ(cudaemu_sticky_error(), cudaSuccess) << cudaGetErrorName(code);
    }
  }
  EXPECT_EQ(sticky, kSticky);
}

TEST_F(StickyTest, EveryLaterCallAnswersTheFaultAndDoesNothing) {
  cudaemu_set_device_count(2);
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  void* dev = nullptr;
  ASSERT_EQ(cudaMalloc(&dev, 64), cudaSuccess);
  ASSERT_EQ(cudaemu_fail_call("cudaStreamSynchronize", 1, cudaErrorLaunchFailure), 0);
  EXPECT_EQ(cudaStreamSynchronize(s), cudaErrorLaunchFailure);

  const cudaError_t f = cudaErrorLaunchFailure;
  int n = -7;
  EXPECT_EQ(cudaGetDeviceCount(&n), f);
  EXPECT_EQ(n, -7) << "outputs stay untouched";
  int d = -7;
  EXPECT_EQ(cudaGetDevice(&d), f);
  EXPECT_EQ(d, -7);
  EXPECT_EQ(cudaSetDevice(1), f);
  void* p = reinterpret_cast<void*>(0x42);
  EXPECT_EQ(cudaMalloc(&p, 16), f);
  EXPECT_EQ(p, reinterpret_cast<void*>(0x42));
  EXPECT_EQ(cudaMallocHost(&p, 16), f);
  EXPECT_EQ(cudaMemset(dev, 1, 64), f);
  EXPECT_EQ(cudaMemsetAsync(dev, 1, 64, s), f);
  unsigned char host[64] = {};
  EXPECT_EQ(cudaMemcpy(host, dev, 64, cudaMemcpyDeviceToHost), f);
  EXPECT_EQ(cudaMemcpyAsync(dev, host, 64, cudaMemcpyHostToDevice, s), f);
  EXPECT_EQ(cudaLaunchHostFunc(
                s, [](void*) {}, nullptr),
            f);
  EXPECT_EQ(cudaStreamBeginCapture(s, cudaStreamCaptureModeRelaxed), f);
  cudaStreamCaptureStatus status = cudaStreamCaptureStatusActive;
  EXPECT_EQ(cudaStreamIsCapturing(s, &status), f);
  EXPECT_EQ(status, cudaStreamCaptureStatusActive);
  EXPECT_EQ(cudaStreamSynchronize(s), f);
  EXPECT_EQ(cudaDeviceSynchronize(), f);
  EXPECT_EQ(cudaStreamDestroy(s), f);
  EXPECT_EQ(cudaFree(dev), f);
  EXPECT_EQ(cudaGetLastError(), f);
  EXPECT_EQ(cudaGetLastError(), f) << "reading does not clear it";
  EXPECT_EQ(cudaPeekAtLastError(), f);
  EXPECT_STREQ(cudaGetErrorString(f), "unspecified launch failure") << "the text calls keep working";
  EXPECT_STREQ(cudaGetErrorName(cudaErrorInvalidValue), "cudaErrorInvalidValue");
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  EXPECT_EQ(cudaemu_live_streams(), 1u) << "the destroy did nothing";
  EXPECT_EQ(cudaemu_live_device_allocations(), 1u) << "the free did nothing";
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u);

  // Counted and traced like any call, with the fault as result.
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 2u);
  std::vector<cudaemu_trace_entry> frees = trace_of("cudaFree");
  ASSERT_EQ(frees.size(), 1u);
  EXPECT_EQ(frees[0].result, f);
}

TEST_F(StickyTest, ItAnswersEveryThread) {
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 1, cudaErrorIllegalAddress), 0);
  void* p = nullptr;
  EXPECT_EQ(cudaMalloc(&p, 8), cudaErrorIllegalAddress);
  cudaError_t other = cudaSuccess;
  cudaError_t other_last = cudaSuccess;
  std::thread([&] {
    cudaStream_t s = nullptr;
    other = cudaStreamCreate(&s);
    other_last = cudaGetLastError();
  }).join();
  EXPECT_EQ(other, cudaErrorIllegalAddress);
  EXPECT_EQ(other_last, cudaErrorIllegalAddress);
}

TEST_F(StickyTest, ItWinsOverInjectionsAndTheFirstStays) {
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 1, cudaErrorMisalignedAddress), 0);
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 2, cudaErrorAssert), 0);
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 3, cudaSuccess), 0);
  void* p = nullptr;
  EXPECT_EQ(cudaMalloc(&p, 8), cudaErrorMisalignedAddress);
  EXPECT_EQ(cudaMalloc(&p, 8), cudaErrorMisalignedAddress);
  EXPECT_EQ(cudaMalloc(&p, 8), cudaErrorMisalignedAddress);
  EXPECT_EQ(cudaemu_sticky_error(), cudaErrorMisalignedAddress);
}

TEST_F(StickyTest, ResetClearsIt) {
  ASSERT_EQ(cudaemu_fail_call("cudaGetDeviceCount", 1, cudaErrorHardwareStackError), 0);
  int n = 0;
  EXPECT_EQ(cudaGetDeviceCount(&n), cudaErrorHardwareStackError);
  cudaemu_reset();
  EXPECT_EQ(cudaemu_sticky_error(), cudaSuccess);
  EXPECT_EQ(cudaGetDeviceCount(&n), cudaSuccess);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST_F(StickyTest, NonStickyFailuresLeaveLaterCallsAlone) {
  ASSERT_EQ(cudaemu_fail_call("cudaStreamSynchronize", 1, cudaErrorLaunchOutOfResources), 0);
  EXPECT_EQ(cudaStreamSynchronize(nullptr), cudaErrorLaunchOutOfResources);
  EXPECT_EQ(cudaStreamSynchronize(nullptr), cudaSuccess);
  EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchOutOfResources);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

struct Calls {
  std::atomic<int> n{0};
};

void CUDART_CB count_call(void* data) { ++static_cast<Calls*>(data)->n; }

// Queued work that finds its memory gone faults: the synchronization that ran it answers
// cudaErrorIllegalAddress, so does every later call, and the device runs nothing more (host
// functions included, as CUDA documents for cudaLaunchHostFunc).
TEST_F(StickyTest, AFaultFoundWhenWorkRunsSticks) {
  cudaStream_t s = nullptr;
  cudaStream_t other = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  ASSERT_EQ(cudaStreamCreateWithFlags(&other, cudaStreamNonBlocking), cudaSuccess);
  void* dev = nullptr;
  void* scratch = nullptr;
  void* pinned = nullptr;
  ASSERT_EQ(cudaMalloc(&dev, 64), cudaSuccess);
  ASSERT_EQ(cudaMalloc(&scratch, 64), cudaSuccess);
  ASSERT_EQ(cudaMallocHost(&pinned, 64), cudaSuccess);
  cudaGraph_t g = nullptr;
  cudaGraphExec_t e = nullptr;
  ASSERT_EQ(cudaStreamBeginCapture(s, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(dev, scratch, 64, cudaMemcpyDeviceToDevice, s), cudaSuccess);
  ASSERT_EQ(cudaStreamEndCapture(s, &g), cudaSuccess);
  ASSERT_EQ(cudaGraphInstantiate(&e, g, 0), cudaSuccess);
  ASSERT_EQ(cudaFree(scratch), cudaSuccess);

  Calls after;
  ASSERT_EQ(cudaGraphLaunch(e, s), cudaSuccess);
  ASSERT_EQ(cudaLaunchHostFunc(s, count_call, &after), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned, 7, 64, other), cudaSuccess);
  EXPECT_EQ(cudaemu_violations(), 0u);
  EXPECT_EQ(cudaStreamSynchronize(s), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaemu_violations(), 1u);
  EXPECT_NE(last_violation().find("during execution"), std::string::npos) << last_violation();
  EXPECT_EQ(cudaemu_sticky_error(), cudaErrorIllegalAddress);
  EXPECT_EQ(after.n, 0) << "a host function is not called after the fault";
  EXPECT_EQ(cudaStreamSynchronize(s), cudaErrorIllegalAddress) << "not reported once: it stays";
  EXPECT_EQ(cudaStreamSynchronize(other), cudaErrorIllegalAddress);
  EXPECT_EQ(static_cast<unsigned char*>(pinned)[0], 0) << "the other stream's work did not run";
  EXPECT_EQ(cudaGraphExecDestroy(e), cudaErrorIllegalAddress);
}

}  // namespace
