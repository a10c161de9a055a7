// The emulated device as the cases that need it read it: its call trace (the calls of one API, the
// pointers and sizes allocations, zero-fills and releases saw) and its resource counts, and the macros
// that declare those cases (emulator_case.h). Defined only on the emulated device: on a real one these
// cases only skip, and nothing of theirs calls what is declared here.
#ifndef INFERLET_TESTS_SUPPORT_EMULATOR_SUPPORT_H_
#define INFERLET_TESTS_SUPPORT_EMULATOR_SUPPORT_H_

#include <cudaemu.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "emulator_case.h"
#include "test_support.h"

namespace inferlet_test {

// Trace entries of one CUDA runtime call, in call order, since the trace was last cleared.
std::vector<cudaemu_trace_entry> TraceOf(const std::string& api);
// Every traced call since the trace was last cleared, in call order.
std::vector<cudaemu_trace_entry> TraceEntries();
// Names of the traced calls that are among `apis`, in call order.
std::vector<std::string> TraceNames(const std::vector<std::string>& apis);
// The device pointer a traced cudaMalloc handed out, and the pointer a traced cudaFree/cudaMemset got.
uintptr_t MallocResult(const cudaemu_trace_entry& entry);
uintptr_t MallocBytes(const cudaemu_trace_entry& entry);
uintptr_t FreedPointer(const cudaemu_trace_entry& entry);
uintptr_t MemsetPointer(const cudaemu_trace_entry& entry);
uintptr_t MemsetValue(const cudaemu_trace_entry& entry);
uintptr_t MemsetBytes(const cudaemu_trace_entry& entry);
std::vector<uintptr_t> AllocatedPointers();  // every successful cudaMalloc, in order
std::vector<uintptr_t> FreedPointers();      // every cudaFree, in order

// What the emulated device holds at one moment.
struct DeviceCounts {
  size_t allocations = 0;
  size_t bytes = 0;
  size_t streams = 0;
  size_t graphs = 0;
  size_t graph_execs = 0;

  static DeviceCounts Now();
  bool operator==(const DeviceCounts& other) const;
  bool operator!=(const DeviceCounts& other) const { return !(*this == other); }
};
std::ostream& operator<<(std::ostream& out, const DeviceCounts& counts);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_SUPPORT_EMULATOR_SUPPORT_H_
