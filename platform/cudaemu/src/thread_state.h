// Per-thread runtime state: current device, last error, whether a host function is running.
#ifndef CUDAEMU_SRC_THREAD_STATE_H_
#define CUDAEMU_SRC_THREAD_STATE_H_

#include <cuda_runtime_api.h>

namespace cudaemu {

struct ThreadState {
  int device = 0;
  cudaError_t last_error = cudaSuccess;
  bool in_host_function = false;
  unsigned number = 0;  // for the trace
};

// The calling thread's state; device and last error go back to defaults after cudaemu_reset().
ThreadState& this_thread();

// Makes every thread's device and last error stale (they read as defaults on next use).
void forget_thread_states();

// Marks the calling thread as running a host function for the scope's lifetime.
class HostFunctionScope {
 public:
  HostFunctionScope() { this_thread().in_host_function = true; }
  ~HostFunctionScope() { this_thread().in_host_function = false; }
  HostFunctionScope(const HostFunctionScope&) = delete;
  HostFunctionScope& operator=(const HostFunctionScope&) = delete;
};

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_THREAD_STATE_H_
