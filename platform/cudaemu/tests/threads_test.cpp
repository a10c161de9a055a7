// Many threads, each with its own streams, at once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using ThreadsTest = EmulatorTest;

void CUDART_CB add_one(void* data) {
  auto* bytes = static_cast<unsigned char*>(data);
  for (int i = 0; i < 256; ++i) ++bytes[i];
}

TEST_F(ThreadsTest, IndependentWorkersGetTheirOwnResults) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t, &failures] {
      cudaStream_t s = nullptr;
      void* dev = nullptr;
      void* pinned = nullptr;
      if (cudaStreamCreate(&s) || cudaMalloc(&dev, 256) || cudaMallocHost(&pinned, 256)) {
        ++failures[t];
        return;
      }
      for (int r = 0; r < kRounds; ++r) {
        unsigned char value = static_cast<unsigned char>(t * 16 + r % 16);
        unsigned char back[256] = {};
        bool ok = cudaMemsetAsync(dev, value, 256, s) == cudaSuccess &&
                  cudaMemcpyAsync(pinned, dev, 256, cudaMemcpyDeviceToHost, s) == cudaSuccess &&
                  cudaLaunchHostFunc(s, add_one, pinned) == cudaSuccess &&
                  cudaMemcpyAsync(dev, pinned, 256, cudaMemcpyHostToDevice, s) == cudaSuccess &&
                  cudaMemcpyAsync(back, dev, 256, cudaMemcpyDeviceToHost, s) == cudaSuccess &&
                  cudaStreamSynchronize(s) == cudaSuccess;
        if (!ok || back[0] != static_cast<unsigned char>(value + 1) || back[255] != back[0]) ++failures[t];
      }
      if (cudaFreeHost(pinned) || cudaFree(dev) || cudaStreamDestroy(s)) ++failures[t];
    });
  }
  for (auto& w : workers) w.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_streams(), 0u);
  EXPECT_EQ(cudaemu_violations(), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaStreamSynchronize"), static_cast<uint64_t>(kThreads * kRounds));
  EXPECT_EQ(cudaemu_work_executed(), static_cast<uint64_t>(kThreads * kRounds * 5));
}

// A host function blocked on one stream must not hold up another thread's stream.
struct Gate {
  std::mutex mu;
  std::condition_variable cv;
  bool open = false;
  bool passed = false;
};

void CUDART_CB wait_for_gate(void* data) {
  auto* gate = static_cast<Gate*>(data);
  std::unique_lock<std::mutex> lock(gate->mu);
  // The bound only keeps a broken emulator from hanging the suite.
  gate->passed = gate->cv.wait_for(lock, std::chrono::seconds(30), [gate] { return gate->open; });
}

TEST_F(ThreadsTest, BlockedHostFunctionDoesNotStallOtherStreams) {
  cudaStream_t a = nullptr;
  cudaStream_t b = nullptr;
  ASSERT_EQ(cudaStreamCreateWithFlags(&a, cudaStreamNonBlocking), cudaSuccess);
  ASSERT_EQ(cudaStreamCreateWithFlags(&b, cudaStreamNonBlocking), cudaSuccess);
  Gate gate;
  ASSERT_EQ(cudaLaunchHostFunc(a, wait_for_gate, &gate), cudaSuccess);
  std::thread waiter([&] { cudaStreamSynchronize(a); });
  void* pinned = nullptr;
  ASSERT_EQ(cudaMallocHost(&pinned, 16), cudaSuccess);
  ASSERT_EQ(cudaMemsetAsync(pinned, 1, 16, b), cudaSuccess);
  EXPECT_EQ(cudaStreamSynchronize(b), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(pinned)[0], 1);
  {
    std::lock_guard<std::mutex> lock(gate.mu);
    gate.open = true;
  }
  gate.cv.notify_all();
  waiter.join();
  EXPECT_TRUE(gate.passed);
  EXPECT_EQ(cudaStreamSynchronize(a), cudaSuccess);
}

TEST_F(ThreadsTest, TwoThreadsSynchronizingOneStreamRunItsWorkOnce) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  std::atomic<int> runs{0};
  auto count_run = [](void* data) { ++*static_cast<std::atomic<int>*>(data); };
  for (int i = 0; i < 100; ++i) ASSERT_EQ(cudaLaunchHostFunc(s, count_run, &runs), cudaSuccess);
  std::thread other([&] { EXPECT_EQ(cudaStreamSynchronize(s), cudaSuccess); });
  EXPECT_EQ(cudaStreamSynchronize(s), cudaSuccess);
  other.join();
  EXPECT_EQ(runs.load(), 100);
}

}  // namespace
