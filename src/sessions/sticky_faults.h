// CUDA failures as the sessions interface answers them, and the devices that have had a sticky fault:
// an error after which CUDA leaves the device's context unusable until the process ends. Once one is
// seen on a device, every later call of every session on that device answers INFERLET_CUDA_STICKY
// without running anything.
#ifndef INFERLET_SESSIONS_STICKY_FAULTS_H_
#define INFERLET_SESSIONS_STICKY_FAULTS_H_

#include <cuda_runtime_api.h>

#include <atomic>

#include "status.h"

namespace sessions {

// The codes whose description in the toolkit's driver_types.h says the process is left in an
// inconsistent state and must be terminated and relaunched.
bool isStickyError(cudaError_t code);

// The failure of a CUDA call made for device: INFERLET_CUDA_STICKY for a sticky code (recorded for
// the device), INFERLET_OUT_OF_MEMORY for cudaErrorMemoryAllocation, INFERLET_CUDA_ERROR otherwise;
// the message names the call and gives CUDA's text.
Status cudaFailure(int device, const char* call, cudaError_t code);

namespace detail {
// Set once any device has had a sticky fault: until then checkDevice reads this flag alone.
extern std::atomic<bool> gAnyStickyFault;
// checkDevice once some device has faulted: looks device up among them.
Status faultedDeviceCheck(int device);
}  // namespace detail

// INFERLET_CUDA_STICKY when device has had a sticky fault; success otherwise. Makes no CUDA call.
// Inline: every call of every session asks it, twice.
inline Status checkDevice(int device) {
  if (!detail::gAnyStickyFault.load(std::memory_order_acquire)) return Status();
  return detail::faultedDeviceCheck(device);
}

}  // namespace sessions

#endif  // INFERLET_SESSIONS_STICKY_FAULTS_H_
