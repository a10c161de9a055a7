// Exported error reporting calls.
#include <cuda_runtime_api.h>

#include "api_call.h"
#include "emulator.h"
#include "errors.h"
#include "thread_state.h"

using cudaemu::ApiCall;

namespace {

// The text calls work even without a driver and cannot be made to fail; they are still counted
// and traced.
void note_text_call(const char* api, cudaError_t error) {
  auto& emu = cudaemu::Emulator::instance();
  emu.accounting.count_call(api);
  cudaemu_trace_entry entry{};
  entry.api = api;
  entry.args[0] = static_cast<std::uintptr_t>(static_cast<unsigned>(error));
  entry.thread = cudaemu::this_thread().number;
  emu.accounting.record(entry);
}

}  // namespace

extern "C" {

const char* cudaGetErrorString(cudaError_t error) {
  note_text_call("cudaGetErrorString", error);
  return cudaemu::error_text(error);
}

const char* cudaGetErrorName(cudaError_t error) {
  note_text_call("cudaGetErrorName", error);
  return cudaemu::error_name(error);
}

cudaError_t cudaGetLastError(void) {
  ApiCall call("cudaGetLastError", {}, ApiCall::kReadsLastError);
  if (call.answered_early()) return call.early_result();
  cudaemu::ThreadState& self = cudaemu::this_thread();
  cudaError_t last = self.last_error;
  self.last_error = cudaSuccess;
  return call.finish(last);
}

cudaError_t cudaPeekAtLastError(void) {
  ApiCall call("cudaPeekAtLastError", {}, ApiCall::kReadsLastError);
  if (call.answered_early()) return call.early_result();
  return call.finish(cudaemu::this_thread().last_error);
}

}  // extern "C"
