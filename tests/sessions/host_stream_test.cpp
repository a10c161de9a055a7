// A host's stream for a session: taken only when it is one stream of the engine's device. The special
// handles, which name each thread's own default stream, and a stream of another device are refused at
// creation; none means the session's own stream.
#include <cudaemu.h>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

class HostStreamsOnEmulator : public SessionsTest {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    cudaemu_set_device_count(2);
    ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
    ASSERT_EQ(cudaStreamCreate(&device1_), cudaSuccess);
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
    ASSERT_EQ(cudaStreamCreate(&device0_), cudaSuccess);
  }
  void TearDown() override {
    EXPECT_EQ(cudaStreamDestroy(device0_), cudaSuccess);
    EXPECT_EQ(cudaStreamDestroy(device1_), cudaSuccess);
    SessionsTest::TearDown();
  }
  // Runs one static_batch call in host memory on session: its answer, the output checked.
  static Answer RunOneCall(inferlet_session* session) {
    CallTensors call;
    call.Input("in0", INFERLET_MEMORY_HOST, Shape({4, 8}), Pattern(32, 3));
    call.Output("out0", INFERLET_MEMORY_HOST, 32);
    const Answer answer = Take(inferlet_session_run(session, call.inputs(), 1, call.outputs(), 1));
    if (answer.code == INFERLET_OK) {
      EXPECT_TRUE(Matches(call.Read(0), ReluReference(Pattern(32, 3), 32)));
    }
    return answer;
  }

  cudaStream_t device0_ = nullptr, device1_ = nullptr;
};

INFERLET_EMULATOR_TEST_F(HostStreamsOnEmulator, StreamsThatAreNotOneStreamOfTheEnginesDeviceAreRefused) {
  EngineHandle engine = LoadEngine("static_batch");
  ASSERT_TRUE(engine);
  const std::string per_thread =
      ", which names the default stream of each thread that uses it: give a stream of device 0, or none "
      "for the session's own";
  const struct {
    const char* what;
    cudaStream_t stream;
    Answer answer;
  } cases[] = {
      {"device 1's stream",
       device1_,
       {INFERLET_INVALID_ARGUMENT, "stream is a stream of device 1, the engine is on device 0"}},
      {"cudaStreamLegacy",
       cudaStreamLegacy,
       {INFERLET_INVALID_ARGUMENT, "stream is cudaStreamLegacy" + per_thread}},
      {"cudaStreamPerThread",
       cudaStreamPerThread,
       {INFERLET_INVALID_ARGUMENT, "stream is cudaStreamPerThread" + per_thread}},
  };
  const DeviceCounts before = DeviceCounts::Now();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const bool version_1 : {true, false}) {  // inferlet_session_create and the config's
      SessionHandle session;
      if (version_1) {
        inferlet_session_options options;
        inferlet_session_options_init(&options);
        options.stream = c.stream;
        EXPECT_EQ(TryNewSession(engine.get(), options, &session), c.answer);
      } else {
        inferlet_session_config config;
        inferlet_session_config_init(&config);
        config.stream = c.stream;
        inferlet_session* made = nullptr;
        EXPECT_EQ(Take(inferlet_session_create_with_config(engine.get(), &config, &made)), c.answer);
        session.reset(made);
      }
      EXPECT_FALSE(session);
    }
  }
  EXPECT_EQ(DeviceCounts::Now(), before) << "nothing taken for a refused stream";
  EXPECT_EQ(cudaemu_call_count("cudaStreamGetDevice"), 2u) << "asked of device 1's stream only";
  EXPECT_EQ(cudaemu_pending_work(), 0u);
}

INFERLET_EMULATOR_TEST_F(HostStreamsOnEmulator, NoStreamOrOneOfTheEnginesDeviceIsUsed) {
  EngineHandle engine = LoadEngine("static_batch");
  ASSERT_TRUE(engine);
  {
    SessionHandle own = NewSession(engine.get());
    ASSERT_TRUE(own);
    EXPECT_EQ(cudaemu_live_streams(), 3u) << "the host's two and the session's own";
    EXPECT_EQ(RunOneCall(own.get()), Answer{});
  }
  EXPECT_EQ(cudaemu_live_streams(), 2u) << "the session's own stream went with it";
  SessionHandle hosts = NewSession(engine.get(), [&](inferlet_session_options& o) { o.stream = device0_; });
  ASSERT_TRUE(hosts);
  EXPECT_EQ(cudaemu_live_streams(), 2u) << "no stream of its own";
  cudaemu_trace_clear();
  EXPECT_EQ(RunOneCall(hosts.get()), Answer{});
  const std::vector<cudaemu_trace_entry> copies = TraceOf("cudaMemcpyAsync");
  ASSERT_FALSE(copies.empty());
  for (const cudaemu_trace_entry& copy : copies) {
    EXPECT_EQ(copy.args[4], reinterpret_cast<uintptr_t>(device0_)) << "the call's work on the host's stream";
  }
}

}  // namespace
}  // namespace inferlet_test
