// Fault injection, call counters and the call trace.
#include <vector>

#include "test_support.h"

namespace {

using FaultTest = EmulatorTest;

TEST_F(FaultTest, NthCallAnswersTheInjectedCode) {
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 2, cudaErrorMemoryAllocation), 0);
  void* a = nullptr;
  void* b = reinterpret_cast<void*>(0x42);
  void* c = nullptr;
  EXPECT_EQ(cudaMalloc(&a, 8), cudaSuccess);
  EXPECT_EQ(cudaMalloc(&b, 8), cudaErrorMemoryAllocation);
  EXPECT_EQ(b, reinterpret_cast<void*>(0x42)) << "an injected failure does nothing else";
  EXPECT_EQ(cudaMalloc(&c, 8), cudaSuccess);
  EXPECT_EQ(cudaemu_live_allocations(), 2u);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 3u);
  EXPECT_EQ(cudaGetLastError(), cudaErrorMemoryAllocation);
}

TEST_F(FaultTest, InjectedSuccessAlsoSkipsTheWork) {
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 1, cudaSuccess), 0);
  void* p = reinterpret_cast<void*>(0x42);
  EXPECT_EQ(cudaMalloc(&p, 8), cudaSuccess);
  EXPECT_EQ(p, reinterpret_cast<void*>(0x42));
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaemu_fail_call("cudaStreamDestroy", 1, cudaSuccess), 0);
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  EXPECT_EQ(cudaStreamDestroy(s), cudaSuccess);
  EXPECT_EQ(cudaemu_live_streams(), 1u);
}

TEST_F(FaultTest, SeveralInjectionsAtOnce) {
  ASSERT_EQ(cudaemu_fail_call("cudaStreamCreate", 1, cudaErrorMemoryAllocation), 0);
  ASSERT_EQ(cudaemu_fail_call("cudaStreamCreate", 3, cudaErrorUnknown), 0);
  ASSERT_EQ(cudaemu_fail_call("cudaMemcpyAsync", 1, cudaErrorInvalidValue), 0);
  cudaStream_t s = nullptr;
  std::vector<cudaError_t> results;
  for (int i = 0; i < 4; ++i) results.push_back(cudaStreamCreate(&s));
  EXPECT_EQ(results, (std::vector<cudaError_t>{cudaErrorMemoryAllocation, cudaSuccess, cudaErrorUnknown,
                                               cudaSuccess}));
  char host[4] = {};
  EXPECT_EQ(cudaMemcpyAsync(host, host, 4, cudaMemcpyHostToHost, s), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemcpyAsync(host, host, 4, cudaMemcpyHostToHost, s), cudaSuccess);
  EXPECT_EQ(cudaemu_live_streams(), 2u);
}

TEST_F(FaultTest, InjectionCountsFromNow) {
  void* p = nullptr;
  ASSERT_EQ(cudaMalloc(&p, 8), cudaSuccess);
  ASSERT_EQ(cudaMalloc(&p, 8), cudaSuccess);
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 1, cudaErrorMemoryAllocation), 0);
  EXPECT_EQ(cudaMalloc(&p, 8), cudaErrorMemoryAllocation);
  EXPECT_EQ(cudaemu_fail_call("cudaMalloc", 0, cudaErrorUnknown), -1);
  EXPECT_EQ(cudaemu_fail_call(nullptr, 1, cudaErrorUnknown), -1);
  EXPECT_EQ(cudaemu_fail_call("", 1, cudaErrorUnknown), -1);
}

TEST_F(FaultTest, CountsIncludeRefusedCallsAndResetClearsEverything) {
  void* p = nullptr;
  EXPECT_EQ(cudaMalloc(nullptr, 8), cudaErrorInvalidValue);
  EXPECT_EQ(cudaFree(&p), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 1u);
  EXPECT_EQ(cudaemu_call_count("cudaFree"), 1u);
  EXPECT_EQ(cudaemu_call_count("cudaMemcpy"), 0u);
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 1, cudaErrorUnknown), 0);
  ASSERT_EQ(cudaMalloc(&p, 16), cudaErrorUnknown);
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 1, cudaErrorUnknown), 0);
  ASSERT_EQ(cudaMalloc(&p, 16), cudaErrorUnknown);
  ASSERT_EQ(cudaemu_fail_call("cudaMalloc", 1, cudaErrorUnknown), 0);
  cudaemu_set_memory_capacity(1);
  cudaemu_reset();
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
  EXPECT_EQ(cudaemu_violations(), 0u);
  EXPECT_EQ(cudaemu_trace_size(), 0u);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
  EXPECT_EQ(cudaMalloc(&p, 16), cudaSuccess) << "pending injection and capacity are gone";
}

TEST_F(FaultTest, TraceKeepsCallsInOrderWithTheirArguments) {
  std::vector<void*> buffers(6);
  for (size_t i = 0; i < buffers.size(); ++i) ASSERT_EQ(cudaMalloc(&buffers[i], 256 * (i + 1)), cudaSuccess);
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  std::vector<char> host(1536);
  ASSERT_EQ(cudaMemcpyAsync(buffers[5], host.data(), 1536, cudaMemcpyHostToDevice, s), cudaSuccess);
  for (int i : {3, 0, 5, 1, 4, 2}) ASSERT_EQ(cudaFree(buffers[static_cast<size_t>(i)]), cudaSuccess);

  auto mallocs = trace_of("cudaMalloc");
  ASSERT_EQ(mallocs.size(), 6u);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(mallocs[i].args[0], addr(buffers[i])) << "cudaMalloc records the pointer it returned";
    EXPECT_EQ(mallocs[i].args[1], 256 * (i + 1));
    EXPECT_EQ(mallocs[i].result, cudaSuccess);
  }
  auto copies = trace_of("cudaMemcpyAsync");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0].args[0], addr(buffers[5]));
  EXPECT_EQ(copies[0].args[1], addr(host.data()));
  EXPECT_EQ(copies[0].args[2], 1536u);
  EXPECT_EQ(copies[0].args[3], static_cast<uintptr_t>(cudaMemcpyHostToDevice));
  EXPECT_EQ(copies[0].args[4], addr(s));
  auto frees = trace_of("cudaFree");
  std::vector<uintptr_t> freed;
  for (const auto& f : frees) freed.push_back(f.args[0]);
  EXPECT_EQ(freed, (std::vector<uintptr_t>{addr(buffers[3]), addr(buffers[0]), addr(buffers[5]),
                                           addr(buffers[1]), addr(buffers[4]), addr(buffers[2])}));

  cudaemu_trace_entry first;
  ASSERT_EQ(cudaemu_trace_get(0, &first), 1);
  EXPECT_STREQ(first.api, "cudaMalloc");
  EXPECT_EQ(cudaemu_trace_get(cudaemu_trace_size(), &first), 0);
  cudaemu_trace_clear();
  EXPECT_EQ(cudaemu_trace_size(), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaFree"), 6u) << "clearing the trace keeps the counters";
}

TEST_F(FaultTest, TraceRecordsFailures) {
  int n = 0;
  EXPECT_EQ(cudaSetDevice(4), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaGetDeviceCount(&n), cudaSuccess);
  ASSERT_EQ(cudaemu_trace_size(), 2u);
  cudaemu_trace_entry e;
  ASSERT_EQ(cudaemu_trace_get(0, &e), 1);
  EXPECT_STREQ(e.api, "cudaSetDevice");
  EXPECT_EQ(e.args[0], 4u);
  EXPECT_EQ(e.result, cudaErrorInvalidDevice);
  ASSERT_EQ(cudaemu_trace_get(1, &e), 1);
  EXPECT_EQ(e.args[1], 1u) << "device count returned";
  EXPECT_EQ(e.thread, trace_of("cudaSetDevice")[0].thread);
}

}  // namespace
