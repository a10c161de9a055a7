#include "api_call.h"

#include <optional>

#include "thread_state.h"

namespace cudaemu {

ApiCall::ApiCall(const char* api, std::initializer_list<std::uintptr_t> args, unsigned flags)
    : emu_(Emulator::instance()), flags_(flags) {
  entry_.api = api;
  int i = 0;
  for (std::uintptr_t a : args) entry_.args[i++] = a;

  std::optional<int> injected = emu_.accounting.count_call(api);
  early_ = true;
  if (cudaError_t sticky = emu_.sticky_fault()) {
    early_code_ = sticky;
  } else if (injected) {
    early_code_ = static_cast<cudaError_t>(*injected);
  } else if (this_thread().in_host_function) {
    early_code_ = cudaErrorNotPermitted;
  } else if (!emu_.settings.driver_present) {
    early_code_ = cudaErrorInsufficientDriver;
  } else if (emu_.settings.device_count == 0 && !(flags & kWorksWithoutDevice)) {
    early_code_ = cudaErrorNoDevice;
  } else {
    early_ = false;
  }
}

cudaError_t ApiCall::finish(cudaError_t result) {
  // A sticky code, injected or found while this call ran queued work, answers this call and every
  // later one.
  emu_.note_fault(result);
  if (cudaError_t sticky = emu_.sticky_fault()) result = sticky;
  entry_.result = result;
  entry_.thread = this_thread().number;
  emu_.accounting.record(entry_);
  // cudaErrorNotReady is "not actually an error" (driver_types.h): a query that answers it leaves the
  // last error alone.
  if (result != cudaSuccess && result != cudaErrorNotReady && !(flags_ & kReadsLastError))
    this_thread().last_error = result;
  return result;
}

}  // namespace cudaemu
