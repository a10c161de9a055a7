// Exported device-management calls.
#include <cuda_runtime_api.h>

#include "api_call.h"
#include "capture.h"
#include "engine.h"
#include "thread_state.h"

using cudaemu::ApiCall;
using cudaemu::as_arg;
using cudaemu::Lock;

extern "C" {

cudaError_t cudaGetDeviceCount(int* count) {
  ApiCall call("cudaGetDeviceCount", {as_arg(count)}, ApiCall::kWorksWithoutDevice);
  if (call.answered_early()) return call.early_result();
  if (count == nullptr) return call.finish(cudaErrorInvalidValue);
  int n = call.emu().settings.device_count;
  *count = n;
  call.set_arg(1, static_cast<std::uintptr_t>(n));
  return call.finish(n == 0 ? cudaErrorNoDevice : cudaSuccess);
}

cudaError_t cudaSetDevice(int device) {
  ApiCall call("cudaSetDevice", {static_cast<std::uintptr_t>(device)});
  if (call.answered_early()) return call.early_result();
  if (device < 0 || device >= call.emu().settings.device_count) return call.finish(cudaErrorInvalidDevice);
  cudaemu::this_thread().device = device;
  return call.finish(cudaSuccess);
}

cudaError_t cudaGetDevice(int* device) {
  ApiCall call("cudaGetDevice", {as_arg(device)});
  if (call.answered_early()) return call.early_result();
  if (device == nullptr) return call.finish(cudaErrorInvalidValue);
  *device = call.emu().current_device();
  return call.finish(cudaSuccess);
}

cudaError_t cudaDeviceSynchronize(void) {
  ApiCall call("cudaDeviceSynchronize", {});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  int device = emu.current_device();
  if (cudaemu::invalidate_device_captures(emu, device)) return call.finish(cudaErrorStreamCaptureUnsupported);
  // Work of destroyed streams still queued (strict mode) runs too. A fault it hits answers through
  // the sticky state.
  cudaemu::drain_device(emu, lock, device);
  return call.finish(cudaSuccess);
}

}  // extern "C"
