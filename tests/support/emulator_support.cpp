#include "emulator_support.h"

#include <algorithm>

namespace inferlet_test {

std::vector<cudaemu_trace_entry> TraceEntries() {
  std::vector<cudaemu_trace_entry> entries;
  cudaemu_trace_entry entry{};
  for (size_t i = 0; cudaemu_trace_get(i, &entry) != 0; ++i) entries.push_back(entry);
  return entries;
}

std::vector<cudaemu_trace_entry> TraceOf(const std::string& api) {
  std::vector<cudaemu_trace_entry> entries;
  for (const cudaemu_trace_entry& entry : TraceEntries()) {
    if (api == entry.api) entries.push_back(entry);
  }
  return entries;
}

std::vector<std::string> TraceNames(const std::vector<std::string>& apis) {
  std::vector<std::string> names;
  for (const cudaemu_trace_entry& entry : TraceEntries()) {
    if (std::find(apis.begin(), apis.end(), entry.api) != apis.end()) names.emplace_back(entry.api);
  }
  return names;
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

DeviceCounts DeviceCounts::Now() {
  DeviceCounts counts;
  counts.allocations = cudaemu_live_allocations();
  counts.bytes = cudaemu_live_bytes();
  counts.streams = cudaemu_live_streams();
  counts.graphs = cudaemu_live_graphs();
  counts.graph_execs = cudaemu_live_graph_execs();
  return counts;
}

bool DeviceCounts::operator==(const DeviceCounts& other) const {
  return allocations == other.allocations && bytes == other.bytes && streams == other.streams &&
         graphs == other.graphs && graph_execs == other.graph_execs;
}

std::ostream& operator<<(std::ostream& out, const DeviceCounts& counts) {
  return out << "{allocations " << counts.allocations << ", bytes " << counts.bytes << ", streams "
             << counts.streams << ", graphs " << counts.graphs << ", graph_execs " << counts.graph_execs
             << "}";
}

}  // namespace inferlet_test
