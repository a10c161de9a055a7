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

// A session holds its own profile's activation memory on 10 and 11 (every profile's largest on 7 and 8),
// and buffers and staging only for the memory kinds its calls use. two_profiles: between layers one
// [4, 4, 8] (profile 0) or [16, 4, 8] (profile 1) float tensor; its three tensors as large at the
// profile's largest shapes. The stand-in's context holds pinned staging of its own for the largest
// layouts of any profile, three [16, 4, 8] floats, which the session's figures leave out.
constexpr size_t kStandinContextStaging = 3 * 2048;

inline size_t LivePinnedBytes() { return cudaemu_live_bytes() - cudaemu_live_device_bytes(); }

uint64_t KindBits(std::initializer_list<inferlet_memory> kinds) {
  uint64_t bits = 0;
  for (inferlet_memory kind : kinds) bits |= uint64_t{1} << kind;
  return bits;
}

Answer CreateWithConfig(inferlet_engine* engine, int profile, uint64_t memory_kinds, SessionHandle* session) {
  inferlet_session_config config;
  inferlet_session_config_init(&config);
  config.profile = profile;
  config.memory_kinds = memory_kinds;
  inferlet_session* made = nullptr;
  Answer answer = Take(inferlet_session_create_with_config(engine, &config, &made));
  session->reset(made);
  return answer;
}

INFERLET_EMULATOR_TEST_F(SessionMemoryOnEmulator, ASessionHoldsItsProfilesMemoryAndWhatItsKindsNeed) {
  const size_t context[2] = {INFERLET_TRT_MAJOR >= 10 ? 512u : 2048u, 2048};
  const size_t tensors[2] = {3 * 512, 3 * 2048};  // the three buffers (or staging blocks) of a profile
  struct Case {
    int profile;
    uint64_t kinds;
    bool buffers, staging;
  };
  const uint64_t all = 0, device = KindBits({INFERLET_MEMORY_DEVICE});
  const Case cases[] = {
      {0, all, true, true},
      {1, all, true, true},
      {0, device, false, false},
      {1, device, false, false},
      {1, KindBits({INFERLET_MEMORY_PINNED, INFERLET_MEMORY_DEVICE}), true, false},
      {0, KindBits({INFERLET_MEMORY_HOST}), true, true},
  };
  EngineHandle engine = LoadEngine("two_profiles");
  ASSERT_TRUE(engine);
  for (const Case& c : cases) {
    SCOPED_TRACE("profile " + std::to_string(c.profile) + ", memory_kinds " + std::to_string(c.kinds));
    const size_t device_before = cudaemu_live_device_bytes(), pinned_before = LivePinnedBytes();
    const size_t pinned_allocations = cudaemu_live_pinned_allocations();
    SessionHandle session;
    ASSERT_EQ(CreateWithConfig(engine.get(), c.profile, c.kinds, &session), Answer{});
    const size_t expected = context[c.profile] + (c.buffers ? tensors[c.profile] : 0);
    size_t reported = 0;
    ASSERT_TRUE(Ok(inferlet_session_device_memory(session.get(), &reported)));
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(cudaemu_live_device_bytes() - device_before, expected);
    EXPECT_EQ(LivePinnedBytes() - pinned_before,
              kStandinContextStaging + (c.staging ? tensors[c.profile] : 0));
    EXPECT_EQ(cudaemu_live_pinned_allocations() - pinned_allocations, c.staging ? 4u : 1u)
        << "the stand-in context's block, and the session's staging per tensor";
  }
  // Sessions on both profiles at once: each holds its own.
  SessionHandle first, second;
  const size_t before = cudaemu_live_device_bytes();
  ASSERT_EQ(CreateWithConfig(engine.get(), 0, device, &first), Answer{});
  ASSERT_EQ(CreateWithConfig(engine.get(), 1, device, &second), Answer{});
  EXPECT_EQ(cudaemu_live_device_bytes() - before, context[0] + context[1]);
}

// A call of a kind the session was not made for is refused before anything runs or is allocated; the
// kinds it was made for run as ever, allocating nothing.
INFERLET_EMULATOR_TEST_F(SessionMemoryOnEmulator, ACallOfAKindLeftOutIsRefusedAndNothingIsAllocated) {
  EngineHandle engine = LoadEngine("two_profiles");
  ASSERT_TRUE(engine);
  SessionHandle session;
  ASSERT_EQ(CreateWithConfig(engine.get(), 1, KindBits({INFERLET_MEMORY_DEVICE}), &session), Answer{});
  const Tensor in0 = Pattern(96, 1), in1 = Pattern(96, 2);
  struct Case {
    inferlet_memory in1_memory, out0_memory;
    Answer expected;
  };
  const std::string left_out =
      ", which the session's memory_kinds leave out: it was made for INFERLET_MEMORY_DEVICE";
  const Case cases[] = {
      {INFERLET_MEMORY_HOST,
       INFERLET_MEMORY_DEVICE,
       {INFERLET_INVALID_ARGUMENT, "input 'in1' is in INFERLET_MEMORY_HOST" + left_out}},
      {INFERLET_MEMORY_DEVICE,
       INFERLET_MEMORY_PINNED,
       {INFERLET_INVALID_ARGUMENT, "output 'out0' is in INFERLET_MEMORY_PINNED" + left_out}},
      {INFERLET_MEMORY_DEVICE, INFERLET_MEMORY_DEVICE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(MemoryName(c.in1_memory) + std::string(" ") + MemoryName(c.out0_memory));
    CallTensors call;
    call.Input("in0", INFERLET_MEMORY_DEVICE, Shape({3, 4, 8}), in0);
    call.Input("in1", c.in1_memory, Shape({3, 4, 8}), in1);
    call.Output("out0", c.out0_memory, 96);
    const uint64_t allocations = cudaemu_call_count("cudaMalloc") + cudaemu_call_count("cudaMallocHost") +
                                 cudaemu_call_count("cudaemu_component_malloc");
    const long runs = trt_standin_count("network_runs");
    EXPECT_EQ(Take(inferlet_session_run(session.get(), call.inputs(), 2, call.outputs(), 1)), c.expected);
    EXPECT_EQ(cudaemu_call_count("cudaMalloc") + cudaemu_call_count("cudaMallocHost") +
                  cudaemu_call_count("cudaemu_component_malloc"),
              allocations);
    EXPECT_EQ(trt_standin_count("network_runs") - runs, c.expected.code == INFERLET_OK ? 1 : 0);
    if (c.expected.code == INFERLET_OK) {
      EXPECT_TRUE(Matches(call.Read(0), TwoProfilesReference(in0, in1, 3)));
    }
  }
  inferlet_session_config config;
  inferlet_session_config_init(&config);
  config.memory_kinds = 8;
  inferlet_session* refused = nullptr;
  EXPECT_EQ(Take(inferlet_session_create_with_config(engine.get(), &config, &refused)),
            (Answer{INFERLET_INVALID_ARGUMENT,
                    "memory_kinds 8 has bits that are no memory kind: only 1 << INFERLET_MEMORY_HOST, 1 << "
                    "INFERLET_MEMORY_PINNED and 1 << INFERLET_MEMORY_DEVICE (0: all)"}));
  EXPECT_EQ(refused, nullptr);
}

}  // namespace
}  // namespace inferlet_test
