// Makes a device current on the calling thread for the length of an entry point and gives the thread
// its own device back afterwards, so that a host's threads may use any device between calls.
#ifndef INFERLET_SESSIONS_DEVICE_GUARD_H_
#define INFERLET_SESSIONS_DEVICE_GUARD_H_

#include <cuda_runtime_api.h>

#include "status.h"

namespace sessions {

class DeviceGuard {
 public:
  DeviceGuard() = default;
  ~DeviceGuard() {  // restores the thread's device, if enter changed it
    if (mSwitched) restore();
  }

  DeviceGuard(const DeviceGuard&) = delete;
  DeviceGuard& operator=(const DeviceGuard&) = delete;

  // Makes device current (only when it is not already). A failure leaves the thread's device as it was.
  // Inline up to finding it current, as every call of a session does.
  Status enter(int device) {
    int current = -1;
    const cudaError_t code = cudaGetDevice(&current);
    if (code == cudaSuccess && current == device) return Status();
    return switch_to(device, code, current);
  }

 private:
  // The rest of enter, given what cudaGetDevice answered.
  Status switch_to(int device, cudaError_t found, int current);
  void restore();

  int mPrevious = -1;
  bool mSwitched = false;
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_DEVICE_GUARD_H_
