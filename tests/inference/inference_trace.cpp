#include "inference_trace.h"

#include <algorithm>

namespace inferlet_test {

bool IsLibraryCopy(const cudaemu_trace_entry& entry, const S_net_info& rec) {
  if (std::string("cudaMemcpyAsync") != entry.api) return false;
  auto among = [](uintptr_t address, const std::vector<void*>& bufs) {
    return std::any_of(bufs.begin(), bufs.end(),
                       [&](void* buf) { return reinterpret_cast<uintptr_t>(buf) == address; });
  };
  const auto kind = static_cast<cudaMemcpyKind>(entry.args[3]);
  return (kind == cudaMemcpyHostToDevice && among(entry.args[0], rec.input_bufs)) ||
         (kind == cudaMemcpyDeviceToHost && among(entry.args[1], rec.output_bufs));
}

std::vector<cudaemu_trace_entry> LibraryCopies(const S_net_info& rec) {
  std::vector<cudaemu_trace_entry> copies;
  for (const cudaemu_trace_entry& entry : TraceOf("cudaMemcpyAsync")) {
    if (IsLibraryCopy(entry, rec)) copies.push_back(entry);
  }
  return copies;
}

std::vector<std::string> LibraryCallSequence(const S_net_info& rec) {
  const std::vector<std::string> capture_calls{"cudaStreamBeginCapture", "cudaStreamEndCapture",
                                               "cudaGraphInstantiate"};
  std::vector<std::string> sequence;
  for (const cudaemu_trace_entry& entry : TraceEntries()) {
    const std::string api = entry.api;
    if (IsLibraryCopy(entry, rec)) {
      sequence.emplace_back(static_cast<cudaMemcpyKind>(entry.args[3]) == cudaMemcpyHostToDevice ? "H2D"
                                                                                                 : "D2H");
    } else if (api == "cudaStreamSynchronize") {
      sequence.emplace_back("sync");
    } else if (std::find(capture_calls.begin(), capture_calls.end(), api) != capture_calls.end()) {
      sequence.push_back(api);
    }
  }
  return sequence;
}

}  // namespace inferlet_test
