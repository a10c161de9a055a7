#include "device_guard.h"

#include "sticky_faults.h"

namespace sessions {

Status DeviceGuard::switch_to(int device, cudaError_t found, int current) {
  if (found != cudaSuccess) return cudaFailure(device, "cudaGetDevice", found);
  if (current == device) return Status();
  const cudaError_t code = cudaSetDevice(device);
  if (code != cudaSuccess) return cudaFailure(device, "cudaSetDevice", code);
  mPrevious = current;
  mSwitched = true;
  return Status();
}

void DeviceGuard::restore() {
  // Nothing to report to: the entry point has its answer. A device that cannot be made current again
  // has a fault that the thread's next CUDA call meets.
  (void)cudaSetDevice(mPrevious);
}

}  // namespace sessions
