// Sessions of one engine made and used from many threads at once; a call enqueued on one thread and
// refused or completed from another; every entry point run from a thread whose current device is
// another, which it gets back.
#include <thread>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

constexpr int kCalls = 40;

// Makes a session on profile and runs kCalls calls of varying batch on it, each checked.
void Worker(inferlet_engine* engine, const std::string& name, int profile, int seed) {
  SessionHandle session = NewSession(engine, [&](inferlet_session_options& o) { o.profile = profile; });
  ASSERT_TRUE(session);
  for (int k = 0; k < kCalls; ++k) {
    const bool fixed = name == "static_batch";  // [4, 8] -> [4, 8]; else [batch, 4, 8] -> [batch, 4, 8]
    const int batch = fixed ? 4 : 1 + (k + seed) % (profile == 0 ? 4 : 16);
    const size_t count = static_cast<size_t>(batch) * (fixed ? 8 : 32);
    CallTensors call;
    const Tensor in0 = Pattern(count, seed * 1000 + k);
    const Tensor in1 = Pattern(count, seed * 1000 + k + 1);
    const inferlet_memory memory = k % 2 ? INFERLET_MEMORY_PINNED : INFERLET_MEMORY_HOST;
    if (fixed) {
      call.Input("in0", memory, Shape({4, 8}), in0);
    } else {
      call.Input("in0", memory, Shape({batch, 4, 8}), in0);
      call.Input("in1", memory, Shape({batch, 4, 8}), in1);
    }
    call.Output("out0", memory, count);
    ASSERT_TRUE(
        Ok(inferlet_session_enqueue(session.get(), call.inputs(), call.input_count(), call.outputs(), 1)));
    ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
    const Tensor expected = fixed ? ReluReference(in0, count) : TwoProfilesReference(in0, in1, batch);
    ASSERT_TRUE(Matches(call.Read(0), expected)) << name << " profile " << profile << " call " << k;
  }
}

TEST_F(SessionsTest, ThreadsMakeSessionsOfOneEngineAndCallAtOnce) {
  EngineHandle two_profiles = LoadEngine("two_profiles");
  EngineHandle static_batch = LoadEngine("static_batch");
  ASSERT_TRUE(two_profiles && static_batch);
  std::vector<std::thread> threads;
  for (int profile = 0; profile < 2; ++profile) {
    threads.emplace_back(Worker, two_profiles.get(), "two_profiles", profile, profile + 1);
  }
  for (int s = 0; s < 4; ++s) threads.emplace_back(Worker, static_batch.get(), "static_batch", 0, s + 10);
  for (std::thread& thread : threads) thread.join();
}

TEST_F(SessionsTest, AnotherThreadMeetsTheCallInFlightAndMayWaitForIt) {
  EngineHandle engine = LoadEngine("static_batch");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors call;
  call.Input("in0", INFERLET_MEMORY_HOST, Shape({4, 8}), Pattern(32, 5));
  call.Output("out0", INFERLET_MEMORY_HOST, 32);
  std::thread([&] {
    ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), call.inputs(), 1, call.outputs(), 1)));
  }).join();
  std::thread([&] {
    EXPECT_EQ(Take(inferlet_session_run(session.get(), call.inputs(), 1, call.outputs(), 1)).code,
              INFERLET_BUSY);
    ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
  }).join();
  EXPECT_TRUE(Matches(call.Read(0), ReluReference(Pattern(32, 5), 32)));
}

class SessionDevicesOnEmulator : public SessionsTest {};

// TensorRT refuses work from a thread on another device than its context's: the calls below succeed
// only if each entry point makes the engine's device current, and the checks after them see that
// each gave the thread its own back.
INFERLET_EMULATOR_TEST_F(SessionDevicesOnEmulator,
                         EveryEntryPointRunsOnTheEnginesDeviceAndRestoresTheThreads) {
  cudaemu_set_device_count(2);
  for (const int engine_device : {1, 0}) {
    const int own = 1 - engine_device;
    std::thread([&] {
      ASSERT_EQ(cudaSetDevice(own), cudaSuccess);
      auto current = [] {
        int device = -1;
        EXPECT_EQ(cudaGetDevice(&device), cudaSuccess);
        return device;
      };
      EngineHandle engine = LoadEngine("two_profiles", engine_device);
      EXPECT_EQ(current(), own);
      SessionHandle session = NewSession(engine.get(), [](inferlet_session_options& o) { o.profile = 1; });
      ASSERT_TRUE(session);
      EXPECT_EQ(current(), own);
      auto used = [&](int device) {  // device memory in use there
        size_t free = 0, total = 0;
        EXPECT_EQ(cudaSetDevice(device), cudaSuccess);
        EXPECT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
        EXPECT_EQ(cudaSetDevice(own), cudaSuccess);
        return total - free;
      };
      size_t session_bytes = 0;
      ASSERT_TRUE(Ok(inferlet_session_device_memory(session.get(), &session_bytes)));
      EXPECT_EQ(used(engine_device), session_bytes)
          << "the session's buffers and context on the engine's device";
      EXPECT_EQ(used(own), 0u);
      CallTensors call;
      ASSERT_EQ(cudaSetDevice(engine_device), cudaSuccess);  // the host's pinned memory, made anywhere
      call.Input("in0", INFERLET_MEMORY_PINNED, Shape({6, 4, 8}), Pattern(192, 1));
      call.Input("in1", INFERLET_MEMORY_HOST, Shape({6, 4, 8}), Pattern(192, 2));
      call.Output("out0", INFERLET_MEMORY_HOST, 192);
      ASSERT_EQ(cudaSetDevice(own), cudaSuccess);
      ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), call.inputs(), 2, call.outputs(), 1)));
      EXPECT_EQ(current(), own);
      ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
      EXPECT_EQ(current(), own);
      EXPECT_TRUE(Matches(call.Read(0), TwoProfilesReference(Pattern(192, 1), Pattern(192, 2), 6)));
      session.reset();
      engine.reset();
      EXPECT_EQ(current(), own);
    }).join();
  }
}

}  // namespace
}  // namespace inferlet_test
