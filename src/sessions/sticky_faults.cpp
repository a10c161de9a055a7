#include "sticky_faults.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace sessions {
namespace {

constexpr cudaError_t kStickyErrors[] = {
    cudaErrorIllegalAddress,      cudaErrorLaunchTimeout,      cudaErrorAssert,
    cudaErrorHardwareStackError,  cudaErrorIllegalInstruction, cudaErrorMisalignedAddress,
    cudaErrorInvalidAddressSpace, cudaErrorInvalidPc,          cudaErrorLaunchFailure,
    cudaErrorTensorMemoryLeak,    cudaErrorContained,          cudaErrorExternalDevice,
    cudaErrorMpsClientTerminated,
};

// Devices with their first sticky code, written once per faulted device; detail::gAnyStickyFault
// spares the lock while no device has faulted.
std::mutex gFaultMutex;
std::vector<std::pair<int, cudaError_t>> gFaults;

std::string cudaText(cudaError_t code) {
  return std::string(cudaGetErrorString(code)) + " (" + cudaGetErrorName(code) + ")";
}

}  // namespace

namespace detail {
std::atomic<bool> gAnyStickyFault{false};
}  // namespace detail

bool isStickyError(cudaError_t code) {
  for (cudaError_t sticky : kStickyErrors) {
    if (code == sticky) return true;
  }
  return false;
}

Status cudaFailure(int device, const char* call, cudaError_t code) {
  const std::string failed = std::string(call) + " failed: " + cudaText(code);
  if (code == cudaErrorMemoryAllocation) return Status::failure(INFERLET_OUT_OF_MEMORY, failed);
  if (!isStickyError(code)) return Status::failure(INFERLET_CUDA_ERROR, failed);
  {
    std::lock_guard<std::mutex> lock(gFaultMutex);
    bool known = false;
    for (const auto& fault : gFaults) known |= fault.first == device;
    if (!known) gFaults.emplace_back(device, code);
    detail::gAnyStickyFault.store(true, std::memory_order_release);
  }
  return Status::failure(INFERLET_CUDA_STICKY,
                         failed + ", a sticky fault: nothing more runs on device " + std::to_string(device));
}

Status detail::faultedDeviceCheck(int device) {
  cudaError_t code = cudaSuccess;
  {
    std::lock_guard<std::mutex> lock(gFaultMutex);
    for (const auto& fault : gFaults) {
      if (fault.first == device) code = fault.second;
    }
  }
  if (code == cudaSuccess) return Status();
  return Status::failure(INFERLET_CUDA_STICKY, "device " + std::to_string(device) +
                                                   " has had a sticky CUDA fault, " + cudaText(code) +
                                                   ": nothing more runs on it");
}

}  // namespace sessions
