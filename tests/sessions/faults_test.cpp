// CUDA failures: one that does not stick fails its call and leaves the session usable; a sticky one
// (injected into the emulated device) is reported, and from then on every call of every session on the
// device answers it without running. Each sticky case runs in a child process: the fault stays with
// the process.
#include <sys/wait.h>
#include <trt_standin.h>
#include <unistd.h>

#include <cstdio>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

class SessionFaultsOnEmulator : public SessionsTest {
 protected:
  // A static_batch call in host memory.
  void SetUpCall() {
    call_.Input("in0", INFERLET_MEMORY_HOST, Shape({4, 8}), Pattern(32, 3));
    call_.Output("out0", INFERLET_MEMORY_HOST, 32);
  }
  Answer Run(inferlet_session* session) {
    return Take(inferlet_session_run(session, call_.inputs(), 1, call_.outputs(), 1));
  }
  // Runs body in a forked child and expects it to end with status 0 and no failure of its own.
  void InChild(const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      body();
      std::fflush(nullptr);
      std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed (its messages are above)";
  }

  CallTensors call_;
};

INFERLET_EMULATOR_TEST_F(SessionFaultsOnEmulator, FailuresThatDoNotStickFailOnlyTheirCall) {
  LogRecorder log(INFERLET_LOG_ERROR);
  EngineHandle engine = LoadEngine("static_batch");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  SetUpCall();
  trt_standin_fail(kSetDimensionsCall, 1);
  EXPECT_EQ(Run(session.get()),
            (Answer{INFERLET_TENSORRT_ERROR, "TensorRT refused shape [4, 8] of input 'in0' (TensorRT: " +
                                                 InjectedDimensionsFailureLine(0, "in0") + ")"}));
  EXPECT_THAT(log.Texts(INFERLET_LOG_ERROR), ::testing::ElementsAre(InjectedDimensionsFailureLine(0, "in0")));
  trt_standin_fail(kEnqueueCall, 1);
  EXPECT_EQ(Run(session.get()),
            (Answer{INFERLET_TENSORRT_ERROR, "TensorRT refused to enqueue the call (TensorRT: " +
                                                 std::string(kEnqueueCall) + ": injected failure)"}));
  EXPECT_EQ(cudaemu_pending_work(), 0u) << "the upload already queued finished before the call answered";
  // The download: the upload, then TensorRT's copies of the input and the output into and out of its
  // staging, then the download.
  cudaemu_fail_call("cudaMemcpyAsync", 4, cudaErrorInvalidValue);
  EXPECT_EQ(Run(session.get()), (Answer{INFERLET_CUDA_ERROR,
                                        "cudaMemcpyAsync failed: invalid argument (cudaErrorInvalidValue)"}));
  cudaemu_fail_call("cudaStreamSynchronize", 1, cudaErrorLaunchOutOfResources);
  EXPECT_EQ(Run(session.get()).code, INFERLET_CUDA_ERROR);
  ASSERT_EQ(Run(session.get()).code, INFERLET_OK);
  EXPECT_TRUE(Matches(call_.Read(0), ReluReference(Pattern(32, 3), 32)));

  // Memory that cannot be had: nothing of the session stays behind.
  const DeviceCounts before = DeviceCounts::Now();
  cudaemu_fail_call("cudaMalloc", 2, cudaErrorMemoryAllocation);
  SessionHandle refused;
  EXPECT_EQ(TryNewSession(
                engine.get(),
                [] {
                  inferlet_session_options o;
                  inferlet_session_options_init(&o);
                  return o;
                }(),
                &refused),
            (Answer{INFERLET_OUT_OF_MEMORY, "cudaMalloc failed: out of memory (cudaErrorMemoryAllocation)"}));
  EXPECT_EQ(DeviceCounts::Now(), before);
}

INFERLET_EMULATOR_TEST_F(SessionFaultsOnEmulator, AStickyFaultStopsEverySessionOnTheDevice) {
  InChild([this] {
    EngineHandle engine = LoadEngine("static_batch");
    SessionHandle first = NewSession(engine.get());
    SessionHandle second = NewSession(engine.get());
    ASSERT_TRUE(first && second);
    SetUpCall();
    cudaemu_fail_call("cudaMemcpyAsync", 1, cudaErrorIllegalAddress);  // the first upload
    EXPECT_EQ(Run(first.get()),
              (Answer{INFERLET_CUDA_STICKY,
                      "cudaMemcpyAsync failed: an illegal memory access was encountered "
                      "(cudaErrorIllegalAddress), a sticky fault: nothing more runs on device 0"}));
    const Answer after{INFERLET_CUDA_STICKY,
                       "device 0 has had a sticky CUDA fault, an illegal memory access was encountered "
                       "(cudaErrorIllegalAddress): nothing more runs on it"};
    const size_t calls = cudaemu_call_count("cudaGetDevice") + cudaemu_call_count("cudaMemcpyAsync");
    EXPECT_EQ(Run(second.get()), after);
    EXPECT_EQ(Run(first.get()), after);
    EXPECT_EQ(Take(inferlet_session_wait(first.get())).code, INFERLET_NOT_RUNNING);
    SessionHandle third;
    EXPECT_EQ(TryNewSession(
                  engine.get(),
                  [] {
                    inferlet_session_options o;
                    inferlet_session_options_init(&o);
                    return o;
                  }(),
                  &third),
              after);
    const std::string bytes = ReadEngine("smoke");
    inferlet_engine* other = nullptr;
    EXPECT_EQ(Take(inferlet_engine_load(bytes.data(), bytes.size(), 0, &other)), after);
    EXPECT_EQ(cudaemu_call_count("cudaGetDevice") + cudaemu_call_count("cudaMemcpyAsync"), calls)
        << "a call answered from the record made CUDA calls";
    // Releasing after the fault is safe, and releases nothing TensorRT still had queued.
    first.reset();
    second.reset();
    engine.reset();
    EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 0);
  });
}

}  // namespace
}  // namespace inferlet_test
