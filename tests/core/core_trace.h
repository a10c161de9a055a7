// The emulated device's call trace as the core suite reads it: entries of one API, and the pointers
// and sizes the allocation, zero-fill and release calls saw.
#ifndef INFERLET_TESTS_CORE_CORE_TRACE_H_
#define INFERLET_TESTS_CORE_CORE_TRACE_H_

#include <cudaemu.h>

#include <cstdint>
#include <string>
#include <vector>

namespace inferlet_core_test {

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

}  // namespace inferlet_core_test

#endif  // INFERLET_TESTS_CORE_CORE_TRACE_H_
