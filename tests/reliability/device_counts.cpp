#include "device_counts.h"

#include <cudaemu.h>

namespace inferlet_test {

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
