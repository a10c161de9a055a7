// The log callback (the library's lines and TensorRT's, the threshold, nothing at all without a
// callback) and the device memory an engine and a session report.
#include <fcntl.h>
#include <sys/wait.h>
#include <trt_standin.h>
#include <unistd.h>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

class SessionLogOnEmulator : public SessionsTest {};

INFERLET_EMULATOR_TEST_F(SessionLogOnEmulator, TheLibrarysAndTensorRtsMessagesReachTheCallbackByLevel) {
  {
    LogRecorder log(INFERLET_LOG_VERBOSE);
    EngineHandle engine = LoadEngine("smoke");
    SessionHandle session = NewSession(engine.get());
    EXPECT_THAT(
        log.Texts(INFERLET_LOG_INFO),
        ::testing::ElementsAre("engine 'smoke' loaded on device 0: 3 tensors, 1 profile, 12 bytes of device "
                               "memory, 13824 bytes per execution context",
                               "session on profile 0 of engine 'smoke': 54544 bytes of device memory "
                               "(execution context 13824, buffers 40720)"));
    EXPECT_FALSE(log.Texts(INFERLET_LOG_VERBOSE).empty()) << "TensorRT's successes";
  }
  {
    LogRecorder log(INFERLET_LOG_WARNING);
    EngineHandle engine = LoadEngine("smoke");
    const std::string garbage(32, 'x');
    inferlet_engine* refused = nullptr;
    EXPECT_EQ(Take(inferlet_engine_load(garbage.data(), garbage.size(), 0, &refused)).code,
              INFERLET_ENGINE_REFUSED);
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u) << "nothing below the threshold";
    EXPECT_EQ(lines[0].level, INFERLET_LOG_ERROR);
    EXPECT_EQ(lines[0].text, "deserializeCudaEngine: magic tag does not match: not an engine file");
  }
}

// Without a callback nothing reaches standard output or standard error, whatever happens: a child
// runs a whole cycle with both redirected into a file.
INFERLET_EMULATOR_TEST_F(SessionLogOnEmulator, WithoutACallbackNothingIsPrinted) {
  char path[] = "/tmp/inferlet_sessions_quietXXXXXX";
  const int file = mkstemp(path);
  ASSERT_GE(file, 0);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(file, STDOUT_FILENO);
    dup2(file, STDERR_FILENO);
    EngineHandle engine = LoadEngine("two_profiles");
    SessionHandle session = NewSession(engine.get(), [](inferlet_session_options& o) { o.cuda_graphs = 1; });
    CallTensors call;
    call.Input("in0", INFERLET_MEMORY_HOST, Shape({9, 4, 8}), Pattern(288, 1));  // outside profile 0
    call.Input("in1", INFERLET_MEMORY_HOST, Shape({2, 4, 8}), Pattern(64, 1));
    call.Output("out0", INFERLET_MEMORY_HOST, 288);
    Take(inferlet_session_run(session.get(), call.inputs(), 2, call.outputs(), 1));
    call.inputs()[0].shape = Shape({2, 4, 8});
    trt_standin_fail(kEnqueueCall, 2);
    for (int k = 0; k < 2; ++k)
      Take(inferlet_session_run(session.get(), call.inputs(), 2, call.outputs(), 1));
    const std::string garbage(32, 'x');
    inferlet_engine* refused = nullptr;
    Take(inferlet_engine_load(garbage.data(), garbage.size(), 0, &refused));
    std::fflush(nullptr);
    std::_Exit(0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string printed = ReadFile(path);
  close(file);
  unlink(path);
  EXPECT_EQ(printed, "");
}

class SessionMemoryOnEmulator : public SessionsTest {};

INFERLET_EMULATOR_TEST_F(SessionMemoryOnEmulator, EnginesAndSessionsReportTheDeviceMemoryTheyHold) {
  EngineHandle engine = LoadEngine("mlp");
  ASSERT_TRUE(engine);
  size_t engine_bytes = 0, context_bytes = 0;
  ASSERT_TRUE(Ok(inferlet_engine_device_memory(engine.get(), &engine_bytes, &context_bytes)));
  EXPECT_EQ(engine_bytes, cudaemu_live_device_bytes()) << "the weights, all the engine holds";
  EXPECT_EQ(engine_bytes, 2704u);
  EXPECT_EQ(context_bytes, 8192u);
  for (int s = 0; s < 2; ++s) {
    const size_t before = cudaemu_live_device_bytes();
    SessionHandle session = NewSession(LoadEngine("static_batch").get());
    size_t session_bytes = 0;
    ASSERT_TRUE(Ok(inferlet_session_device_memory(session.get(), &session_bytes)));
    // static_batch has no tensor between layers: only its two buffers of [4, 8] floats.
    EXPECT_EQ(session_bytes, 256u);
    EXPECT_EQ(cudaemu_live_device_bytes() - before, session_bytes);
  }
  SessionHandle session = NewSession(engine.get());
  size_t session_bytes = 0;
  ASSERT_TRUE(Ok(inferlet_session_device_memory(session.get(), &session_bytes)));
  EXPECT_EQ(session_bytes, context_bytes + (32 * 16 + 32 * 4) * 4);
  EXPECT_EQ(cudaemu_live_device_bytes(), engine_bytes + session_bytes);
  EXPECT_EQ(Take(inferlet_engine_device_memory(engine.get(), nullptr, &context_bytes)),
            (Answer{INFERLET_INVALID_ARGUMENT, "engine_bytes is null"}));
}

}  // namespace
}  // namespace inferlet_test
