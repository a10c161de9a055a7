// Helpers of the core suite: calling the C interface with standard output captured, and the library's
// own lines among what it printed. The emulated device's call trace is read through core_trace.h.
#ifndef INFERLET_TESTS_CORE_CORE_SUPPORT_H_
#define INFERLET_TESTS_CORE_CORE_SUPPORT_H_

#include <functional>
#include <string>
#include <vector>

#include "kestrel_trt.h"
#include "test_support.h"

namespace inferlet_core_test {

using inferlet_test::ModelConfig;

// Lines written to standard output while body runs.
std::vector<std::string> CapturedLines(const std::function<void()>& body);

// A handle value that no allocation can produce: a failed kestrel_trt_new must leave it in place.
trt_engine_core* UntouchedHandle();

struct NewOutcome {
  int rc = 0;
  trt_engine_core* handle = nullptr;  // UntouchedHandle() unless kestrel_trt_new stored one
  std::vector<std::string> lines;     // what the call printed
};

NewOutcome CallNew(const std::string& engine, const ModelConfig& config, int device_id = 0,
                   bool use_cuda_graph = false);

// kestrel_trt_delete with its output captured; returns the printed lines.
std::vector<std::string> DeleteHandle(trt_engine_core* handle);

// Lines without the ones TensorRT itself wrote through the logger.
std::vector<std::string> LibraryLines(const std::vector<std::string>& lines);

}  // namespace inferlet_core_test

#endif  // INFERLET_TESTS_CORE_CORE_SUPPORT_H_
