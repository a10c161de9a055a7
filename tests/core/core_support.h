// Helpers of the core suite: calling the C interface with standard output captured, reading the
// emulated device's call trace, and the lines a successful construction prints for the sample engines.
#ifndef INFERLET_TESTS_CORE_CORE_SUPPORT_H_
#define INFERLET_TESTS_CORE_CORE_SUPPORT_H_

#include <cudaemu.h>

#include <cstdint>
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

// Trace entries of one CUDA API, in call order.
std::vector<cudaemu_trace_entry> TraceOf(const std::string& api);
// The device pointer a traced cudaMalloc handed out, and the pointer a traced cudaFree/cudaMemset got.
uintptr_t MallocResult(const cudaemu_trace_entry& entry);
uintptr_t MallocBytes(const cudaemu_trace_entry& entry);
uintptr_t FreedPointer(const cudaemu_trace_entry& entry);
uintptr_t MemsetPointer(const cudaemu_trace_entry& entry);
uintptr_t MemsetValue(const cudaemu_trace_entry& entry);
uintptr_t MemsetBytes(const cudaemu_trace_entry& entry);
std::vector<uintptr_t> AllocatedPointers();  // every successful cudaMalloc, in order
std::vector<uintptr_t> FreedPointers();      // every cudaFree, in order


// Lines without the ones TensorRT itself wrote through the logger.
std::vector<std::string> LibraryLines(const std::vector<std::string>& lines);

}  // namespace inferlet_core_test

#endif  // INFERLET_TESTS_CORE_CORE_SUPPORT_H_
