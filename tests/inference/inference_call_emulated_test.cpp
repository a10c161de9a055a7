// One inference call on the plain path as the emulated device saw it: how many bytes move for a
// partial batch, and the CUDA work of each call.
#include <trt_standin.h>

#include "engine_peer.h"
#include "inference_fixture.h"
#include "inference_trace.h"
#include "reference_nets.h"

namespace inferlet_test {
namespace {

using Peer = trt_engine_core_peer;

class InferenceCallTest : public InferenceTest {};

TEST_F(InferenceCallTest, PartialBatchMovesOnlyItsSamples) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const std::vector<Tensor> inputs{Pattern(10 * 340, 3), Pattern(10 * 340, 4)};
  const Tensor& in0 = inputs[0];
  const Tensor& in1 = inputs[1];
  cudaemu_trace_clear();
  const CallOutcome call = Process(handle.get(), 0, inputs, 3);
  ASSERT_EQ(call.code, 0);
  EXPECT_EQ(call.lens[0], 3 * 338 * 4);
  EXPECT_TRUE(Matches(call.Output(0), SmokeReference(in0, in1, 3)));

  const S_net_info& rec = Peer::NetInfos(*handle)[0];
  const std::vector<cudaemu_trace_entry> copies = LibraryCopies(rec);
  ASSERT_EQ(copies.size(), 3u);
  const std::vector<const void*> dst{rec.input_bufs[0], rec.input_bufs[1], rec.output_host_bufs[0].data()};
  const std::vector<const void*> src{in0.data(), in1.data(), rec.output_bufs[0]};
  const std::vector<size_t> bytes{3 * 340 * 4, 3 * 340 * 4, 3 * 338 * 4};
  const std::vector<cudaMemcpyKind> kinds{cudaMemcpyHostToDevice, cudaMemcpyHostToDevice,
                                          cudaMemcpyDeviceToHost};
  for (size_t k = 0; k < copies.size(); ++k) {
    SCOPED_TRACE("copy " + std::to_string(k));
    EXPECT_EQ(copies[k].args[0], reinterpret_cast<uintptr_t>(dst[k]));
    EXPECT_EQ(copies[k].args[1], reinterpret_cast<uintptr_t>(src[k]));
    EXPECT_EQ(copies[k].args[2], bytes[k]);
    EXPECT_EQ(copies[k].args[3], static_cast<uintptr_t>(kinds[k]));
    EXPECT_EQ(copies[k].args[4], reinterpret_cast<uintptr_t>(Peer::Stream(*handle)));
  }
}

TEST_F(InferenceCallTest, EachCallSynchronizesThreeTimesAndAllocatesNothing) {
  Handle handle = Open("smoke", SmokeConfig());
  ASSERT_TRUE(handle);
  const size_t allocations = cudaemu_live_allocations();
  const uint64_t mallocs = cudaemu_call_count("cudaMalloc") + cudaemu_call_count("cudaMallocHost");
  const uint64_t syncs = cudaemu_call_count("cudaStreamSynchronize");
  const Tensor in = Pattern(10 * 340, 13);
  for (int call = 1; call <= 5; ++call) {
    cudaemu_trace_clear();
    ASSERT_EQ(Process(handle.get(), 0, {in, in}, call).code, 0);
    EXPECT_EQ(LibraryCallSequence(Peer::NetInfos(*handle)[0]),
              (std::vector<std::string>{"H2D", "H2D", "sync", "sync", "D2H", "sync"}));
    EXPECT_EQ(cudaemu_call_count("cudaStreamSynchronize") - syncs, static_cast<uint64_t>(3 * call));
    EXPECT_EQ(trt_standin_count("network_runs"), call);
    EXPECT_EQ(trt_standin_count(kEnqueueCall), call);
  }
  EXPECT_EQ(cudaemu_live_allocations(), allocations);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc") + cudaemu_call_count("cudaMallocHost"), mallocs);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
  EXPECT_EQ(Peer::GraphExec(*handle), nullptr);
}

}  // namespace
}  // namespace inferlet_test
