// Device memory of a component with a runtime of its own, and cudaMemGetInfo.
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using ComponentMemoryTest = EmulatorTest;

TEST_F(ComponentMemoryTest, IsDeviceMemoryCountedApartFromTheApplications) {
  void* component = nullptr;
  void* device = nullptr;
  void* pinned = nullptr;
  ASSERT_EQ(cudaemu_component_malloc(&component, 1000), cudaSuccess);
  ASSERT_NE(component, nullptr);
  ASSERT_EQ(cudaMalloc(&device, 100), cudaSuccess);
  ASSERT_EQ(cudaMallocHost(&pinned, 10), cudaSuccess);
  EXPECT_EQ(cudaemu_live_allocations(), 3u);
  EXPECT_EQ(cudaemu_live_bytes(), 1110u);
  EXPECT_EQ(cudaemu_live_device_allocations(), 2u);
  EXPECT_EQ(cudaemu_live_device_bytes(), 1100u);
  EXPECT_EQ(cudaemu_live_component_allocations(), 1u);
  EXPECT_EQ(cudaemu_live_component_bytes(), 1000u);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 1u) << "component memory is not the application's cudaMalloc";
  EXPECT_EQ(cudaemu_call_count("cudaemu_component_malloc"), 1u);

  // Each owner frees only its own memory.
  EXPECT_EQ(cudaFree(component), cudaErrorInvalidValue);
  EXPECT_NE(last_violation().find("is not a live device allocation: it is component device"),
            std::string::npos)
      << last_violation();
  EXPECT_EQ(cudaemu_component_free(device), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_component_free(pinned), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_component_free(static_cast<char*>(component) + 8), cudaErrorInvalidValue);
  EXPECT_NE(last_violation().find("cudaemu_component_free: "), std::string::npos) << last_violation();
  EXPECT_EQ(cudaemu_violations(), 4u);
  EXPECT_EQ(cudaemu_live_allocations(), 3u);

  EXPECT_EQ(cudaemu_component_free(component), cudaSuccess);
  EXPECT_EQ(cudaemu_component_free(component), cudaErrorInvalidValue) << "double free";
  EXPECT_EQ(cudaemu_component_free(nullptr), cudaSuccess);
  EXPECT_EQ(cudaemu_live_component_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_component_bytes(), 0u);
  EXPECT_EQ(cudaemu_live_device_bytes(), 100u);
  EXPECT_EQ(cudaemu_violations(), 5u);

  auto mallocs = trace_of("cudaemu_component_malloc");
  ASSERT_EQ(mallocs.size(), 1u);
  EXPECT_EQ(mallocs[0].args[0], addr(component));
  EXPECT_EQ(mallocs[0].args[1], 1000u);
  auto frees = trace_of("cudaemu_component_free");
  ASSERT_EQ(frees.size(), 6u);
  EXPECT_EQ(frees[3].args[0], addr(component));
  EXPECT_EQ(frees[3].result, cudaSuccess);
  EXPECT_EQ(frees[4].result, cudaErrorInvalidValue);
  EXPECT_EQ(cudaFree(device), cudaSuccess);
  EXPECT_EQ(cudaFreeHost(pinned), cudaSuccess);
}

TEST_F(ComponentMemoryTest, SharesTheDeviceCapacityWithCudaMallocAndCudaMemGetInfoTellsWhatIsLeft) {
  cudaemu_set_device_count(2);
  cudaemu_set_memory_capacity(4096);
  size_t free = 0;
  size_t total = 0;
  ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
  EXPECT_EQ(free, 4096u);
  EXPECT_EQ(total, 4096u);

  void* component = nullptr;
  void* device = reinterpret_cast<void*>(0x5);
  void* pinned = nullptr;
  ASSERT_EQ(cudaemu_component_malloc(&component, 3000), cudaSuccess);
  ASSERT_EQ(cudaMallocHost(&pinned, 8192), cudaSuccess);
  EXPECT_EQ(cudaMalloc(&device, 1097), cudaErrorMemoryAllocation);
  EXPECT_EQ(device, reinterpret_cast<void*>(0x5));
  ASSERT_EQ(cudaMalloc(&device, 1000), cudaSuccess);
  ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
  EXPECT_EQ(free, 96u) << "pinned memory does not count against the device";
  EXPECT_EQ(total, 4096u);
  void* more = reinterpret_cast<void*>(0x7);
  EXPECT_EQ(cudaemu_component_malloc(&more, 97), cudaErrorMemoryAllocation);
  EXPECT_EQ(more, reinterpret_cast<void*>(0x7));
  EXPECT_EQ(cudaemu_component_malloc(&more, static_cast<size_t>(-1)), cudaErrorMemoryAllocation);
  more = reinterpret_cast<void*>(0x7);
  EXPECT_EQ(cudaemu_component_malloc(&more, 0), cudaSuccess);
  EXPECT_EQ(more, nullptr);

  // Memory belongs to the device current at the allocation.
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
  EXPECT_EQ(free, 4096u);
  ASSERT_EQ(cudaemu_component_malloc(&more, 4096), cudaSuccess) << "device 1 has its own capacity";
  ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
  EXPECT_EQ(free, 0u);
  EXPECT_EQ(cudaemu_component_free(component), cudaSuccess) << "memory of another device may be freed";
  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
  EXPECT_EQ(free, 3096u);
  EXPECT_EQ(trace_of("cudaMemGetInfo").back().args[0], 3096u) << "the trace holds what was written";
  EXPECT_EQ(trace_of("cudaMemGetInfo").back().args[1], 4096u);

  cudaemu_set_memory_capacity(500);
  ASSERT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
  EXPECT_EQ(free, 0u) << "a capacity lowered below what is in use leaves nothing free";
  EXPECT_EQ(total, 500u);
  EXPECT_EQ(cudaMemGetInfo(nullptr, &total), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemGetInfo(&free, nullptr), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_component_malloc(nullptr, 16), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_component_free(more), cudaSuccess);
  EXPECT_EQ(cudaFree(device), cudaSuccess);
  EXPECT_EQ(cudaFreeHost(pinned), cudaSuccess);
}

// The steps every runtime call takes before any work, under the component calls' own names.
TEST_F(ComponentMemoryTest, AnswersEarlyAsEveryRuntimeCall) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    cudaError_t expected;
  };
  const std::vector<Case> cases = {
      {"injected by its own name",
       [] { cudaemu_fail_call("cudaemu_component_malloc", 1, cudaErrorMemoryAllocation); },
       cudaErrorMemoryAllocation},
      {"injected success", [] { cudaemu_fail_call("cudaemu_component_malloc", 1, cudaSuccess); },
       cudaSuccess},
      {"no driver", [] { cudaemu_set_driver_present(0); }, cudaErrorInsufficientDriver},
      {"no device", [] { cudaemu_set_device_count(0); }, cudaErrorNoDevice},
      {"sticky fault",
       [] {
         cudaemu_fail_call("cudaMemset", 1, cudaErrorIllegalAddress);
         cudaMemset(nullptr, 0, 0);
       },
       cudaErrorIllegalAddress},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cudaemu_reset();
    c.arrange();
    void* p = reinterpret_cast<void*>(0x42);
    size_t free = 7;
    size_t total = 7;
    EXPECT_EQ(cudaemu_component_malloc(&p, 64), c.expected);
    EXPECT_EQ(p, reinterpret_cast<void*>(0x42)) << "nothing written";
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
    if (c.expected != cudaSuccess) {
      EXPECT_EQ(cudaMemGetInfo(&free, &total),
                c.expected == cudaErrorMemoryAllocation ? cudaSuccess : c.expected);
      if (c.expected != cudaErrorMemoryAllocation) {
        EXPECT_EQ(free + total, 14u) << "outputs untouched";
      }
      EXPECT_EQ(cudaGetLastError(), c.expected);
    }
    EXPECT_EQ(cudaemu_call_count("cudaemu_component_malloc"), 1u);
    EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
  }

  cudaemu_reset();
  cudaemu_fail_call("cudaMalloc", 1, cudaErrorMemoryAllocation);
  cudaemu_fail_call("cudaFree", 1, cudaErrorInvalidValue);
  void* p = nullptr;
  ASSERT_EQ(cudaemu_component_malloc(&p, 64), cudaSuccess) << "cudaMalloc's injection is not for it";
  ASSERT_EQ(cudaemu_component_free(p), cudaSuccess) << "nor cudaFree's";
  ASSERT_EQ(cudaemu_component_malloc(&p, 64), cudaSuccess);
  cudaemu_fail_call("cudaemu_component_free", 1, cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_component_free(p), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_live_component_allocations(), 1u) << "an injected failure frees nothing";
  EXPECT_EQ(cudaemu_component_free(p), cudaSuccess);

  // Inside a host function, as every runtime call.
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  static cudaError_t inside = cudaSuccess;
  ASSERT_EQ(cudaLaunchHostFunc(
                s,
                [](void*) {
                  void* q = nullptr;
                  inside = cudaemu_component_malloc(&q, 16);
                },
                nullptr),
            cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(s), cudaSuccess);
  EXPECT_EQ(inside, cudaErrorNotPermitted);
  EXPECT_EQ(cudaStreamDestroy(s), cudaSuccess);
}

TEST_F(ComponentMemoryTest, IsBoundsCheckedRefusedDuringCaptureAndFreedAfterTheWorkNamingIt) {
  void* component = nullptr;
  void* device = nullptr;
  ASSERT_EQ(cudaemu_component_malloc(&component, 64), cudaSuccess);
  ASSERT_EQ(cudaMalloc(&device, 128), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(component, device, 65, cudaMemcpyDeviceToDevice), cudaErrorInvalidValue);
  EXPECT_NE(last_violation().find("runs past the end of the 64-byte device allocation"), std::string::npos)
      << last_violation();
  unsigned char host[64] = {};
  EXPECT_EQ(cudaMemcpy(host, component, 64, cudaMemcpyHostToDevice), cudaErrorInvalidValue)
      << "component memory is device memory, not host memory";
  EXPECT_EQ(cudaemu_violations(), 2u);

  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  ASSERT_EQ(cudaStreamBeginCapture(s, cudaStreamCaptureModeGlobal), cudaSuccess);
  void* during = nullptr;
  EXPECT_EQ(cudaemu_component_malloc(&during, 16), cudaErrorStreamCaptureUnsupported);
  cudaGraph_t g = nullptr;
  EXPECT_EQ(cudaStreamEndCapture(s, &g), cudaErrorStreamCaptureInvalidated);

  // Freeing waits for the queued work naming the memory, in strict mode too.
  for (int strict : {0, 1}) {
    SCOPED_TRACE(strict);
    cudaemu_set_strict(strict);
    void* target = nullptr;
    ASSERT_EQ(cudaemu_component_malloc(&target, 64), cudaSuccess);
    ASSERT_EQ(cudaMemsetAsync(target, 0x5a + strict, 64, s), cudaSuccess);
    ASSERT_EQ(cudaMemcpyAsync(device, target, 64, cudaMemcpyDeviceToDevice, s), cudaSuccess);
    const uint64_t before = cudaemu_work_executed();
    EXPECT_EQ(cudaemu_component_free(target), cudaSuccess);
    EXPECT_EQ(cudaemu_work_executed(), before + 2);
    ASSERT_EQ(cudaMemcpy(host, device, 64, cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_EQ(host[63], 0x5a + strict);
  }
  EXPECT_EQ(cudaemu_violations(), 2u);
  EXPECT_EQ(cudaStreamDestroy(s), cudaSuccess);
  EXPECT_EQ(cudaemu_component_free(component), cudaSuccess);
  EXPECT_EQ(cudaFree(device), cudaSuccess);
}

}  // namespace
