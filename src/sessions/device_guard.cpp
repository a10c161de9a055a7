#include "device_guard.h"

#include <cuda_runtime_api.h>

#include "sticky_faults.h"

namespace sessions {

Status DeviceGuard::enter(int device) {
  int current = -1;
  cudaError_t code = cudaGetDevice(&current);
  if (code != cudaSuccess) return cudaFailure(device, "cudaGetDevice", code);
  if (current == device) return Status();
  code = cudaSetDevice(device);
  if (code != cudaSuccess) return cudaFailure(device, "cudaSetDevice", code);
  mPrevious = current;
  mSwitched = true;
  return Status();
}

DeviceGuard::~DeviceGuard() {
  // Nothing to report to: the entry point has its answer. A device that cannot be made current again
  // has a fault that the thread's next CUDA call meets.
  if (mSwitched) (void)cudaSetDevice(mPrevious);
}

}  // namespace sessions
