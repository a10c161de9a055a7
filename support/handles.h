// Handles on the sample engines and single calls through the C interface, with what they print to
// standard output caught where a caller needs it. Needs neither GoogleTest nor the emulated device.
#ifndef INFERLET_SUPPORT_HANDLES_H_
#define INFERLET_SUPPORT_HANDLES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kestrel_trt.h"
#include "samples.h"

namespace inferlet_test {

// Redirects file descriptor 1 (so printf, puts and std::cout alike) into a temporary file until Stop().
// It redirects the whole process: while one is active, other threads' output is caught as well.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string Stop();  // restores standard output and returns what was written meanwhile

 private:
  int saved_fd_ = -1;
  int capture_fd_ = -1;
};

std::vector<std::string> SplitLines(const std::string& text);
// Lines written to standard output while body runs.
std::vector<std::string> CapturedLines(const std::function<void()>& body);

// Deletes through kestrel_trt_delete. Its lines reach standard output unless `quiet` is set, which
// catches them with a StdoutCapture (so a quiet handle is for single-threaded cases).
struct HandleDeleter {
  bool quiet = false;
  void operator()(trt_engine_core* handle) const;
};
using Handle = std::unique_ptr<trt_engine_core, HandleDeleter>;

// kestrel_trt_new on device 0 with a copy of the configuration (so the caller's stays untouched
// whatever the library does with it); null when it answers -1. What construction prints goes to
// standard output.
Handle NewHandle(const std::string& engine, const ModelConfig& config, bool use_cuda_graph);
Handle NewHandle(const SampleModel& model, bool use_cuda_graph);

// A handle value that no allocation can produce: a failed kestrel_trt_new must leave it in place.
trt_engine_core* UntouchedHandle();

// What one kestrel_trt_new returned and printed.
struct NewOutcome {
  int rc = 0;
  trt_engine_core* handle = nullptr;  // UntouchedHandle() unless kestrel_trt_new stored one
  std::vector<std::string> lines;
};
NewOutcome CallNew(const std::string& engine, const ModelConfig& config, int device_id = 0,
                   bool use_cuda_graph = false);

// kestrel_trt_delete with its output captured; returns the printed lines.
std::vector<std::string> DeleteHandle(trt_engine_core* handle);

// Float inputs for one call, filled from a seed so that the same seed gives the same bytes.
class CallInputs {
 public:
  CallInputs(const ModelConfig& config, int profile, int batch_size, uint32_t seed);
  const void* const* pointers() const { return pointers_.data(); }
  int count() const { return static_cast<int>(pointers_.size()); }

 private:
  std::vector<std::vector<float>> buffers_;
  std::vector<const void*> pointers_;
};

struct CallResult {
  int code = -1;
  std::vector<std::string> outputs;  // the bytes of each output, as output_lens gave them
};

// One kestrel_trt_process with CallInputs(config, profile, batch_size, seed). input_num_delta shifts
// the input count given to the library (to provoke the input-count check) without touching the data.
CallResult Call(trt_engine_core* handle, const ModelConfig& config, int profile, int batch_size,
                uint32_t seed, int input_num_delta = 0);

// FNV-1a over every output of a result, lengths included.
uint64_t Fingerprint(const CallResult& result);

}  // namespace inferlet_test

#endif  // INFERLET_SUPPORT_HANDLES_H_
