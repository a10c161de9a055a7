// A real GPU: what a case can see of it through the runtime alone.
#include <cuda_runtime_api.h>
#include <gtest/gtest.h>

#include "device_state.h"

namespace inferlet_test {

void ResetDevice() { cudaGetLastError(); }

void ClearDeviceTrace() {}

void ExpectDeviceClean() {
  const cudaError_t synced = cudaDeviceSynchronize();
  EXPECT_EQ(synced, cudaSuccess) << cudaGetErrorName(synced);
  const cudaError_t pending = cudaGetLastError();
  EXPECT_EQ(pending, cudaSuccess) << cudaGetErrorName(pending);
}

}  // namespace inferlet_test
