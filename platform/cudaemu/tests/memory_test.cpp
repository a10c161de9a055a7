// Allocations, frees, pointer attributes and the bounds checks on every copy and memset.
#include <cstring>
#include <iterator>
#include <vector>

#include "test_support.h"

namespace {

using MemoryTest = EmulatorTest;

TEST_F(MemoryTest, DeviceAndPinnedAllocationsAreTrackedApart) {
  void* d = nullptr;
  void* h1 = nullptr;
  void* h2 = nullptr;
  ASSERT_EQ(cudaMalloc(&d, 100), cudaSuccess);
  ASSERT_EQ(cudaMallocHost(&h1, 50), cudaSuccess);
  ASSERT_EQ(cudaHostAlloc(&h2, 25, cudaHostAllocPortable), cudaSuccess);
  EXPECT_EQ(cudaemu_live_allocations(), 3u);
  EXPECT_EQ(cudaemu_live_bytes(), 175u);
  EXPECT_EQ(cudaemu_live_device_allocations(), 1u);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 2u);

  EXPECT_EQ(cudaFree(h1), cudaErrorInvalidValue) << "pinned memory is not freed with cudaFree";
  EXPECT_EQ(cudaFreeHost(d), cudaErrorInvalidValue) << "device memory is not freed with cudaFreeHost";
  EXPECT_EQ(cudaemu_violations(), 2u);
  EXPECT_EQ(cudaemu_live_allocations(), 3u);

  EXPECT_EQ(cudaFree(d), cudaSuccess);
  EXPECT_EQ(cudaFreeHost(h1), cudaSuccess);
  EXPECT_EQ(cudaFreeHost(h2), cudaSuccess);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_bytes(), 0u);
}

TEST_F(MemoryTest, AllocationEdgeCases) {
  void* p = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(cudaMalloc(&p, 0), cudaSuccess);
  EXPECT_EQ(p, nullptr);
  p = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(cudaMallocHost(&p, 0), cudaSuccess);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(cudaMalloc(nullptr, 16), cudaErrorInvalidValue);
  EXPECT_EQ(cudaHostAlloc(&p, 16, 0x80), cudaErrorInvalidValue);
  EXPECT_EQ(cudaFree(nullptr), cudaSuccess);
  EXPECT_EQ(cudaFreeHost(nullptr), cudaSuccess);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(MemoryTest, CapacityLimitsDeviceMemory) {
  cudaemu_set_memory_capacity(4096);
  void* a = nullptr;
  void* b = reinterpret_cast<void*>(0x5);
  ASSERT_EQ(cudaMalloc(&a, 4000), cudaSuccess);
  EXPECT_EQ(cudaMalloc(&b, 97), cudaErrorMemoryAllocation);
  EXPECT_EQ(b, reinterpret_cast<void*>(0x5));
  EXPECT_EQ(cudaGetLastError(), cudaErrorMemoryAllocation);
  ASSERT_EQ(cudaMalloc(&b, 96), cudaSuccess) << "exactly filling the device works";
  EXPECT_EQ(cudaMalloc(&b, static_cast<size_t>(-1)), cudaErrorMemoryAllocation);
  void* pinned = nullptr;
  EXPECT_EQ(cudaMallocHost(&pinned, 8192), cudaSuccess) << "pinned memory does not count against the device";
  ASSERT_EQ(cudaFree(a), cudaSuccess);
  EXPECT_EQ(cudaMalloc(&a, 4000), cudaSuccess) << "freed memory is available again";
}

TEST_F(MemoryTest, BadFreesAreRefusedAndCounted) {
  void* d = nullptr;
  ASSERT_EQ(cudaMalloc(&d, 64), cudaSuccess);
  int on_stack = 0;
  EXPECT_EQ(cudaFree(&on_stack), cudaErrorInvalidValue);
  EXPECT_EQ(cudaFree(static_cast<char*>(d) + 8), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_live_allocations(), 1u);
  EXPECT_EQ(cudaFree(d), cudaSuccess);
  EXPECT_EQ(cudaFree(d), cudaErrorInvalidValue) << "double free";
  EXPECT_EQ(cudaemu_violations(), 3u);
  EXPECT_NE(last_violation().find("cudaFree"), std::string::npos);
}

// Fills every byte, reserved words included, so that a field left unwritten shows.
cudaPointerAttributes poisoned_attributes() {
  cudaPointerAttributes a;
  std::memset(&a, 0xab, sizeof a);
  return a;
}

TEST_F(MemoryTest, PointerAttributesDescribeTheAllocationHoldingThePointer) {
  cudaemu_set_device_count(2);
  char* device = nullptr;
  char* component = nullptr;
  char* freed = nullptr;
  char* pinned_on_1 = nullptr;
  char* device_on_1 = nullptr;
  ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&device), 256), cudaSuccess);
  ASSERT_EQ(cudaemu_component_malloc(reinterpret_cast<void**>(&component), 64), cudaSuccess);
  ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&freed), 64), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  ASSERT_EQ(cudaHostAlloc(reinterpret_cast<void**>(&pinned_on_1), 32, cudaHostAllocDefault), cudaSuccess);
  ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&device_on_1), 64), cudaSuccess);
  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  ASSERT_EQ(cudaFree(freed), cudaSuccess);  // last, so that no allocation above takes its address
  std::vector<char> heap(16);
  int on_stack = 0;

  struct Case {
    const char* what;
    const void* ptr;
    cudaMemoryType type;
    int device;
    const void* device_pointer;
    const void* host_pointer;
  };
  const Case cases[] = {
      {"device", device, cudaMemoryTypeDevice, 0, device, nullptr},
      {"device interior", device + 100, cudaMemoryTypeDevice, 0, device + 100, nullptr},
      {"component", component, cudaMemoryTypeDevice, 0, component, nullptr},
      {"pinned, allocated on device 1", pinned_on_1, cudaMemoryTypeHost, 1, pinned_on_1, pinned_on_1},
      {"pinned interior", pinned_on_1 + 31, cudaMemoryTypeHost, 1, pinned_on_1 + 31, pinned_on_1 + 31},
      {"device 1's memory, no peer access", device_on_1, cudaMemoryTypeDevice, 1, nullptr, nullptr},
      {"one past the end", device + 256, cudaMemoryTypeUnregistered, cudaInvalidDeviceId, nullptr,
       device + 256},
      {"pageable heap", heap.data(), cudaMemoryTypeUnregistered, cudaInvalidDeviceId, nullptr, heap.data()},
      {"stack", &on_stack, cudaMemoryTypeUnregistered, cudaInvalidDeviceId, nullptr, &on_stack},
      {"freed", freed, cudaMemoryTypeUnregistered, cudaInvalidDeviceId, nullptr, freed},
      {"null", nullptr, cudaMemoryTypeUnregistered, cudaInvalidDeviceId, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cudaPointerAttributes a = poisoned_attributes();
    ASSERT_EQ(cudaPointerGetAttributes(&a, c.ptr), cudaSuccess);
    EXPECT_EQ(a.type, c.type);
    EXPECT_EQ(a.device, c.device);
    EXPECT_EQ(a.devicePointer, c.device_pointer);
    EXPECT_EQ(a.hostPointer, c.host_pointer);
    for (long word : a.reserved) EXPECT_EQ(word, 0);
  }
  EXPECT_EQ(cudaemu_call_count("cudaPointerGetAttributes"), std::size(cases));
  EXPECT_EQ(cudaemu_violations(), 0u) << "a query of any pointer is no violation";
  auto traced = trace_of("cudaPointerGetAttributes");
  ASSERT_EQ(traced.size(), std::size(cases));
  EXPECT_EQ(traced[3].args[0], addr(pinned_on_1));
  EXPECT_EQ(traced[3].args[1], static_cast<uintptr_t>(cudaMemoryTypeHost));
  EXPECT_EQ(traced[3].args[2], 1u);
  EXPECT_EQ(cudaemu_live_allocations(), 4u) << "a query frees nothing";
}

TEST_F(MemoryTest, PointerAttributesRefusalsWriteNothing) {
  void* device = nullptr;
  ASSERT_EQ(cudaMalloc(&device, 64), cudaSuccess);
  EXPECT_EQ(cudaPointerGetAttributes(nullptr, device), cudaErrorInvalidValue);
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidValue);

  struct Case {
    const char* what;
    void (*arrange)();
    cudaError_t expected;
  };
  const Case cases[] = {
      {"injected", [] { cudaemu_fail_call("cudaPointerGetAttributes", 1, cudaErrorInvalidDevice); },
       cudaErrorInvalidDevice},
      {"no driver", [] { cudaemu_set_driver_present(0); }, cudaErrorInsufficientDriver},
      {"sticky fault",
       [] {
         cudaemu_set_driver_present(1);
         cudaemu_fail_call("cudaPointerGetAttributes", 1, cudaErrorIllegalAddress);
       },
       cudaErrorIllegalAddress},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    const cudaPointerAttributes poisoned = poisoned_attributes();
    cudaPointerAttributes a = poisoned;
    EXPECT_EQ(cudaPointerGetAttributes(&a, device), c.expected);
    EXPECT_EQ(std::memcmp(&a, &poisoned, sizeof a), 0) << "the output is untouched";
  }
  EXPECT_EQ(cudaemu_sticky_error(), cudaErrorIllegalAddress);
  cudaPointerAttributes a = poisoned_attributes();
  EXPECT_EQ(cudaPointerGetAttributes(&a, device), cudaErrorIllegalAddress) << "the fault stays";
  EXPECT_EQ(cudaemu_call_count("cudaPointerGetAttributes"), 5u);
}

class BoundsTest : public EmulatorTest {
 protected:
  void SetUp() override {
    EmulatorTest::SetUp();
    ASSERT_EQ(cudaMalloc(&dev_, 64), cudaSuccess);
    ASSERT_EQ(cudaMallocHost(&pinned_, 32), cudaSuccess);
    ASSERT_EQ(cudaMemset(dev_, 0x11, 64), cudaSuccess);
    ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  }
  // The device buffer still holds what SetUp wrote.
  bool device_untouched() const {
    auto* bytes = static_cast<const unsigned char*>(dev_);
    for (int i = 0; i < 64; ++i)
      if (bytes[i] != 0x11) return false;
    return true;
  }
  void* dev_ = nullptr;
  void* pinned_ = nullptr;
  unsigned char host_[128] = {};
};

TEST_F(BoundsTest, MemsetsLeavingTheAllocationAreRefused) {
  EXPECT_EQ(cudaMemset(dev_, 0, 65), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemsetAsync(static_cast<char*>(dev_) + 60, 0, 5, nullptr), cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemset(static_cast<char*>(dev_) + 64, 0, 1), cudaErrorInvalidValue) << "one past the end";
  EXPECT_EQ(cudaMemset(host_, 0, 16), cudaErrorInvalidValue) << "pageable memory is not device memory";
  EXPECT_EQ(cudaMemset(nullptr, 0, 16), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_violations(), 5u);
  EXPECT_NE(last_violation().find("is not device memory"), std::string::npos) << last_violation();
  EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_TRUE(device_untouched());
  EXPECT_EQ(cudaMemset(dev_, 0, 0), cudaSuccess);
  EXPECT_EQ(cudaMemset(nullptr, 0, 0), cudaSuccess);
  EXPECT_EQ(cudaemu_violations(), 5u);
}

TEST_F(BoundsTest, CopiesLeavingTheAllocationAreRefused) {
  std::memset(host_, 0x77, sizeof host_);
  EXPECT_EQ(cudaMemcpy(dev_, host_, 65, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
  EXPECT_NE(last_violation().find("runs past the end of the 64-byte device allocation"), std::string::npos)
      << last_violation();
  EXPECT_EQ(cudaMemcpyAsync(host_, static_cast<char*>(dev_) + 1, 64, cudaMemcpyDeviceToHost, nullptr),
            cudaErrorInvalidValue);
  EXPECT_EQ(cudaMemcpy(host_, host_ + 64, 8, cudaMemcpyDeviceToHost), cudaErrorInvalidValue)
      << "a pageable address used as device memory";
  EXPECT_EQ(cudaMemcpy(dev_, dev_, 16, cudaMemcpyHostToDevice), cudaErrorInvalidValue)
      << "device memory read as host memory";
  EXPECT_EQ(cudaMemcpy(pinned_, dev_, 33, cudaMemcpyDeviceToHost), cudaErrorInvalidValue)
      << "pinned buffers are bounds-checked too";
  EXPECT_EQ(cudaMemcpy(dev_, nullptr, 16, cudaMemcpyHostToDevice), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_violations(), 6u);
  EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_TRUE(device_untouched());
  for (unsigned char b : host_) ASSERT_EQ(b, 0x77) << "a refused copy writes nothing";
}

TEST_F(BoundsTest, InvalidDirection) {
  EXPECT_EQ(cudaMemcpy(host_, host_ + 16, 16, static_cast<cudaMemcpyKind>(7)),
            cudaErrorInvalidMemcpyDirection);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(BoundsTest, CopiesInsideTheAllocationWork) {
  for (int i = 0; i < 64; ++i) host_[i] = static_cast<unsigned char>(i);
  ASSERT_EQ(cudaMemcpy(dev_, host_, 64, cudaMemcpyHostToDevice), cudaSuccess);
  ASSERT_EQ(cudaMemcpy(pinned_, static_cast<char*>(dev_) + 32, 32, cudaMemcpyDefault), cudaSuccess);
  EXPECT_EQ(static_cast<unsigned char*>(pinned_)[0], 32);
  EXPECT_EQ(static_cast<unsigned char*>(pinned_)[31], 63);
  ASSERT_EQ(cudaMemcpy(static_cast<char*>(dev_) + 16, dev_, 16, cudaMemcpyDeviceToDevice), cudaSuccess);
  ASSERT_EQ(cudaMemcpy(host_ + 64, dev_, 32, cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(host_[64 + 16], 0);
  EXPECT_EQ(host_[64 + 31], 15);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

TEST_F(BoundsTest, FreedMemoryFaultsWhenAGraphStillNamesIt) {
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  void* scratch = nullptr;
  ASSERT_EQ(cudaMalloc(&scratch, 64), cudaSuccess);
  cudaGraph_t g = nullptr;
  cudaGraphExec_t e = nullptr;
  ASSERT_EQ(cudaStreamBeginCapture(s, cudaStreamCaptureModeRelaxed), cudaSuccess);
  ASSERT_EQ(cudaMemcpyAsync(dev_, scratch, 64, cudaMemcpyDeviceToDevice, s), cudaSuccess);
  ASSERT_EQ(cudaStreamEndCapture(s, &g), cudaSuccess);
  ASSERT_EQ(cudaGraphInstantiate(&e, g, 0), cudaSuccess);
  ASSERT_EQ(cudaFree(scratch), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(e, s), cudaSuccess);
  EXPECT_EQ(cudaStreamSynchronize(s), cudaErrorIllegalAddress);
  EXPECT_EQ(cudaemu_violations(), 1u);
  EXPECT_TRUE(device_untouched());
  EXPECT_EQ(cudaStreamSynchronize(s), cudaErrorIllegalAddress) << "a device fault is sticky";
}

}  // namespace
