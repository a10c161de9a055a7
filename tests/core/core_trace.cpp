#include "core_trace.h"

namespace inferlet_core_test {

std::vector<cudaemu_trace_entry> TraceOf(const std::string& api) {
  std::vector<cudaemu_trace_entry> entries;
  cudaemu_trace_entry entry;
  for (size_t i = 0; cudaemu_trace_get(i, &entry); ++i) {
    if (api == entry.api) entries.push_back(entry);
  }
  return entries;
}

uintptr_t MallocResult(const cudaemu_trace_entry& entry) { return entry.args[0]; }
uintptr_t MallocBytes(const cudaemu_trace_entry& entry) { return entry.args[1]; }
uintptr_t FreedPointer(const cudaemu_trace_entry& entry) { return entry.args[0]; }
uintptr_t MemsetPointer(const cudaemu_trace_entry& entry) { return entry.args[0]; }
uintptr_t MemsetValue(const cudaemu_trace_entry& entry) { return entry.args[1]; }
uintptr_t MemsetBytes(const cudaemu_trace_entry& entry) { return entry.args[2]; }

std::vector<uintptr_t> AllocatedPointers() {
  std::vector<uintptr_t> pointers;
  for (const cudaemu_trace_entry& entry : TraceOf("cudaMalloc")) {
    if (entry.result == cudaSuccess && MallocResult(entry) != 0) pointers.push_back(MallocResult(entry));
  }
  return pointers;
}

std::vector<uintptr_t> FreedPointers() {
  std::vector<uintptr_t> pointers;
  for (const cudaemu_trace_entry& entry : TraceOf("cudaFree")) pointers.push_back(FreedPointer(entry));
  return pointers;
}

}  // namespace inferlet_core_test
