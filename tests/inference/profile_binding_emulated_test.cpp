// Selecting a profile on the emulated device: the bindings are the buffers construction allocated,
// and what preparing a call does on the device with and without CUDA graphs.
#include <trt_standin.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"

namespace inferlet_test {
namespace {

using Peer = trt_engine_core_peer;

// The binding array TensorRT received with the latest successful enqueue.
std::vector<void*> EnqueuedBindings() {
  std::array<void*, 16> seen{};
  const int count = trt_standin_last_bindings(seen.data(), static_cast<int>(seen.size()));
  return std::vector<void*>(seen.begin(), seen.begin() + count);
}

class ProfileBindingTest : public InferenceTest {};

TEST_F(ProfileBindingTest, OneProfileBindsInputsThenOutputFromIndexZero) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const Tensor in = Pattern(10 * 340, 1);
  ASSERT_EQ(Process(handle.get(), 0, {in, in}, 10).code, 0);

  const S_net_info& rec = Peer::NetInfos(*handle)[0];
  const std::vector<void*> expected{rec.input_bufs[0], rec.input_bufs[1], rec.output_bufs[0]};
  for (void* buf : expected) EXPECT_NE(buf, nullptr);
  EXPECT_NE(expected[0], expected[1]);
  EXPECT_EQ(Peer::Bindings(*handle), expected);
  EXPECT_EQ(EnqueuedBindings(), expected);

  // They are the device buffers construction allocated, at the configured sizes.
  std::vector<std::pair<uintptr_t, uintptr_t>> allocated;
  for (const cudaemu_trace_entry& entry : TraceOf("cudaMalloc"))
    allocated.emplace_back(entry.args[0], entry.args[1]);
  const std::vector<uintptr_t> sizes{10 * 340 * 4, 10 * 340 * 4, 10 * 338 * 4};
  for (size_t k = 0; k < expected.size(); ++k) {
    const std::pair<uintptr_t, uintptr_t> buffer{reinterpret_cast<uintptr_t>(expected[k]), sizes[k]};
    EXPECT_EQ(std::count(allocated.begin(), allocated.end(), buffer), 1) << "binding " << k;
  }
}

TEST_F(ProfileBindingTest, PrepareWithoutGraphsEnqueuesNothing) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  cudaemu_trace_clear();
  EXPECT_EQ(Peer::Prepare(*handle, 0, 10), 0);
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 0);
  EXPECT_EQ(trt_standin_count("network_runs"), 0);
  EXPECT_EQ(Peer::GraphExec(*handle), nullptr);
  EXPECT_EQ(cudaemu_trace_size(), 0u) << "prepare made CUDA calls without graphs";
}

TEST_F(ProfileBindingTest, PrepareWithGraphsRunsOnceAndKeepsOneExecutableGraph) {
  Handle handle = Open("smoke", SmokeConfig(), true);
  ASSERT_TRUE(handle);
  EXPECT_EQ(Peer::GraphExec(*handle), nullptr);
  cudaemu_trace_clear();
  ASSERT_EQ(Peer::Prepare(*handle, 0, 10), 0);

  EXPECT_NE(Peer::GraphExec(*handle), nullptr);
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 2);    // one run, one recorded into the capture
  EXPECT_EQ(trt_standin_count("network_runs"), 1);  // only the first executed
  EXPECT_EQ(cudaemu_live_graph_execs(), 1u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u) << "the captured graph outlived its instantiation";

  const std::vector<cudaemu_trace_entry> begins = TraceOf("cudaStreamBeginCapture");
  ASSERT_EQ(begins.size(), 1u);
  EXPECT_EQ(begins[0].args[0], reinterpret_cast<uintptr_t>(Peer::Stream(*handle)));
  EXPECT_EQ(begins[0].args[1], static_cast<uintptr_t>(cudaStreamCaptureModeRelaxed));
  EXPECT_EQ(TraceNames({"cudaStreamBeginCapture", "cudaStreamEndCapture", "cudaStreamSynchronize",
                        "cudaGraphInstantiate"}),
            (std::vector<std::string>{"cudaStreamBeginCapture", "cudaStreamEndCapture",
                                      "cudaStreamSynchronize", "cudaGraphInstantiate"}));
}

}  // namespace
}  // namespace inferlet_test
