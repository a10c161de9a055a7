#include "inference_fixture.h"

#include <algorithm>
#include <cstring>

namespace inferlet_test {

Tensor CallOutcome::Output(size_t j) const {
  Tensor values(static_cast<size_t>(lens.at(j)) / sizeof(float));
  std::memcpy(values.data(), outputs.at(j), values.size() * sizeof(float));
  return values;
}

std::string CallOutcome::OutputBytes(size_t j) const {
  return std::string(static_cast<const char*>(outputs.at(j)), static_cast<size_t>(lens.at(j)));
}

void InferenceTest::TearDown() {
  // Every handle of the case is gone by now: nothing may be left on the device, and no copy may have
  // touched memory outside an allocation.
  char violation[256] = "";
  cudaemu_last_violation(violation, sizeof violation);
  EXPECT_EQ(cudaemu_violations(), 0u) << violation;
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_streams(), 0u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
}

Handle InferenceTest::Open(const std::string& engine, const ModelConfig& config, bool use_cuda_graph) {
  const std::string bytes = ReadEngine(engine);
  StdoutCapture capture;
  Handle handle = NewHandle(bytes, config, use_cuda_graph);
  const std::string printed = capture.Stop();
  if (!handle) ADD_FAILURE() << "kestrel_trt_new refused " << engine << ":\n" << printed;
  handle.get_deleter().quiet = true;
  return handle;
}

CallOutcome InferenceTest::Process(trt_engine_core* handle, int profile, const std::vector<Tensor>& inputs,
                                   int batch_size, int input_num) {
  if (input_num < 0) input_num = static_cast<int>(inputs.size());
  // Sized for input_num too, so a call that reads more pointers than there are inputs stays in bounds.
  std::vector<const void*> pointers(std::max(inputs.size(), static_cast<size_t>(std::max(input_num, 0))),
                                    nullptr);
  for (size_t i = 0; i < inputs.size(); ++i) pointers[i] = inputs[i].data();
  CallOutcome outcome;
  StdoutCapture capture;
  outcome.code = kestrel_trt_process(handle, profile, pointers.data(), input_num, batch_size,
                                     outcome.outputs.data(), outcome.lens.data());
  outcome.lines = SplitLines(capture.Stop());
  return outcome;
}

Tensor Pattern(size_t count, int seed) {
  Tensor values(count);
  for (size_t k = 0; k < count; ++k) {
    const int step = static_cast<int>((k * 37 + static_cast<size_t>(seed) * 101) % 61);
    values[k] = static_cast<float>(step - 30) * 0.125f + static_cast<float>(seed) * 0.0625f;
  }
  return values;
}

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
