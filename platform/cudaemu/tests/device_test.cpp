// Devices, driver presence, error texts and the last-error slot.
#include <thread>

#include "test_support.h"

namespace {

using DeviceTest = EmulatorTest;

TEST_F(DeviceTest, CountAndOrdinals) {
  cudaemu_set_device_count(3);
  int n = -1;
  ASSERT_EQ(cudaGetDeviceCount(&n), cudaSuccess);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(cudaSetDevice(2), cudaSuccess);
  int d = -1;
  ASSERT_EQ(cudaGetDevice(&d), cudaSuccess);
  EXPECT_EQ(d, 2);
  EXPECT_EQ(cudaSetDevice(-1), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaSetDevice(3), cudaErrorInvalidDevice);
  ASSERT_EQ(cudaGetDevice(&d), cudaSuccess);
  EXPECT_EQ(d, 2) << "a refused cudaSetDevice must keep the current device";
  EXPECT_EQ(cudaGetDevice(nullptr), cudaErrorInvalidValue);
  EXPECT_NE(cudaGetDeviceCount(nullptr), cudaSuccess);
}

TEST_F(DeviceTest, CurrentDeviceIsPerThread) {
  cudaemu_set_device_count(2);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  int other = -1;
  std::thread([&] { cudaGetDevice(&other); }).join();
  EXPECT_EQ(other, 0);
  int mine = -1;
  cudaGetDevice(&mine);
  EXPECT_EQ(mine, 1);
}

TEST_F(DeviceTest, MemoryCapacityIsPerDevice) {
  cudaemu_set_device_count(2);
  cudaemu_set_memory_capacity(1000);
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(cudaMalloc(&a, 800), cudaSuccess);
  EXPECT_EQ(cudaMalloc(&b, 300), cudaErrorMemoryAllocation);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  EXPECT_EQ(cudaMalloc(&b, 300), cudaSuccess) << "device 1 has its own capacity";
  EXPECT_EQ(cudaFree(a), cudaSuccess);
  EXPECT_EQ(cudaFree(b), cudaSuccess);
}

TEST_F(DeviceTest, NoDriverAnswers35AndTouchesNothing) {
  cudaemu_set_driver_present(0);
  int n = -7;
  EXPECT_EQ(cudaGetDeviceCount(&n), cudaErrorInsufficientDriver);
  EXPECT_EQ(n, -7);
  void* p = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(cudaMalloc(&p, 16), cudaErrorInsufficientDriver);
  EXPECT_EQ(p, reinterpret_cast<void*>(0x1234));
  EXPECT_EQ(cudaMalloc(nullptr, 16), cudaErrorInsufficientDriver) << "no argument check before the driver";
  EXPECT_EQ(cudaSetDevice(-1), cudaErrorInsufficientDriver);
  cudaStream_t s = reinterpret_cast<cudaStream_t>(0x99);
  EXPECT_EQ(cudaStreamCreate(&s), cudaErrorInsufficientDriver);
  EXPECT_EQ(s, reinterpret_cast<cudaStream_t>(0x99));
  EXPECT_EQ(cudaGetLastError(), cudaErrorInsufficientDriver);
  EXPECT_EQ(cudaGetLastError(), cudaErrorInsufficientDriver) << "stays: not cleared by reading";
  EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInsufficientDriver);
  EXPECT_STREQ(cudaGetErrorString(cudaErrorInsufficientDriver),
               "CUDA driver version is insufficient for CUDA runtime version");
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_streams(), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 2u);
}

TEST_F(DeviceTest, DriverWithoutGpu) {
  cudaemu_set_device_count(0);
  int n = -7;
  EXPECT_EQ(cudaGetDeviceCount(&n), cudaErrorNoDevice);
  EXPECT_EQ(n, 0);
  void* p = nullptr;
  EXPECT_EQ(cudaMalloc(&p, 16), cudaErrorNoDevice);
  EXPECT_EQ(cudaSetDevice(0), cudaErrorNoDevice);
}

TEST_F(DeviceTest, ErrorNamesAndTexts) {
  EXPECT_STREQ(cudaGetErrorString(cudaSuccess), "no error");
  EXPECT_STREQ(cudaGetErrorName(cudaErrorMemoryAllocation), "cudaErrorMemoryAllocation");
  EXPECT_STREQ(cudaGetErrorString(cudaErrorMemoryAllocation), "out of memory");
  EXPECT_STREQ(cudaGetErrorString(cudaErrorInvalidResourceHandle), "invalid resource handle");
  EXPECT_STREQ(cudaGetErrorString(cudaErrorStreamCaptureUnsupported),
               "operation not permitted when stream is capturing");
  EXPECT_STREQ(cudaGetErrorString(cudaErrorStreamCaptureImplicit),
               "operation would make the legacy stream depend on a capturing blocking stream");
  EXPECT_STREQ(cudaGetErrorString(cudaErrorIllegalAddress), "an illegal memory access was encountered");
  EXPECT_STREQ(cudaGetErrorString(cudaErrorExternalDevice),
               "an async error has occured in external entity outside of CUDA");
  EXPECT_STREQ(cudaGetErrorName(cudaErrorUnknown), "cudaErrorUnknown");
  EXPECT_STREQ(cudaGetErrorString(static_cast<cudaError_t>(12345)), "unrecognized error code");
  EXPECT_STREQ(cudaGetErrorName(static_cast<cudaError_t>(-1)), "unrecognized error code");
  EXPECT_STREQ(cudaGetErrorString(static_cast<cudaError_t>(10)), "unrecognized error code");
}

TEST_F(DeviceTest, LastErrorIsPerThreadAndClearedByGet) {
  EXPECT_EQ(cudaSetDevice(5), cudaErrorInvalidDevice);
  cudaError_t seen_elsewhere = cudaErrorUnknown;
  std::thread([&] { seen_elsewhere = cudaGetLastError(); }).join();
  EXPECT_EQ(seen_elsewhere, cudaSuccess);
  EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaSetDevice(0), cudaSuccess);
  EXPECT_EQ(cudaPeekAtLastError(), cudaErrorInvalidDevice) << "success does not clear it";
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

}  // namespace
