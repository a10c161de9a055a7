// Bookkeeping shared by every exported CUDA function: counting, fault injection, the checks that
// answer before any work (host function, no driver, no device), the trace and the last error.
#ifndef CUDAEMU_SRC_API_CALL_H_
#define CUDAEMU_SRC_API_CALL_H_

#include <cuda_runtime_api.h>

#include <cstdint>
#include <initializer_list>

#include "cudaemu.h"
#include "emulator.h"

namespace cudaemu {

template <class T>
std::uintptr_t as_arg(T* p) {
  return reinterpret_cast<std::uintptr_t>(p);
}

class ApiCall {
 public:
  enum Flags : unsigned {
    kDefault = 0,
    kWorksWithoutDevice = 1,  // answers cudaErrorNoDevice itself (cudaGetDeviceCount)
    kReadsLastError = 2,      // does not overwrite the last error with its own result
  };

  ApiCall(const char* api, std::initializer_list<std::uintptr_t> args, unsigned flags = kDefault);
  ApiCall(const ApiCall&) = delete;
  ApiCall& operator=(const ApiCall&) = delete;

  // True when the call must answer early_result() and do nothing else.
  bool answered_early() const { return early_; }
  cudaError_t early_result() { return finish(early_code_); }

  void set_arg(int index, std::uintptr_t value) { entry_.args[index] = value; }

  // Records the call in the trace and the thread's last error; returns `result`.
  cudaError_t finish(cudaError_t result);

  Emulator& emu() { return emu_; }

 private:
  Emulator& emu_;
  cudaemu_trace_entry entry_{};
  unsigned flags_;
  bool early_ = false;
  cudaError_t early_code_ = cudaSuccess;
};

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_API_CALL_H_
