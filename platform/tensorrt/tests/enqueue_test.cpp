// enqueueV2 in stream order: capture into graphs, shapes fixed at enqueue time, staging memory.
#include <algorithm>

#include "test_support.h"

namespace trt_test {
namespace {

class EnqueueTest : public TrtTest {
 protected:
  // The smoke network with in0 = value everywhere and in1 = 0 gives out0 = value everywhere.
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(sample_engine("smoke"));
    ASSERT_TRUE(l_->context);
    bindings_ = std::make_unique<Bindings>(*l_->engine, 10 * 340 * 4);
    (*bindings_)[1].upload(std::vector<float>(10 * 340, 0.0f));
    stream_ = std::make_unique<Stream>();  // after the emulator reset, which drops every stream
  }
  void set_batch(int batch) {
    ASSERT_TRUE(l_->context->setBindingDimensions(0, dims({batch, 340})));
    ASSERT_TRUE(l_->context->setBindingDimensions(1, dims({batch, 340})));
  }
  void fill_input(float value) { (*bindings_)[0].upload(std::vector<float>(10 * 340, value)); }
  void fill_output(float value) { (*bindings_)[2].upload(std::vector<float>(10 * 338, value)); }
  // Output rows [0, 10): the value each row holds if uniform, NaN marks a mixed row.
  std::vector<float> output_rows() {
    const std::vector<float> out = (*bindings_)[2].download<float>(10 * 338);
    std::vector<float> rows;
    for (int r = 0; r < 10; ++r) {
      const bool uniform = std::all_of(out.begin() + r * 338, out.begin() + (r + 1) * 338,
                                       [&](float v) { return v == out[r * 338]; });
      rows.push_back(uniform ? out[r * 338] : -12345.0f);
    }
    return rows;
  }

  std::unique_ptr<Loaded> l_;
  std::unique_ptr<Bindings> bindings_;
  std::unique_ptr<Stream> stream_;
};

TEST_F(EnqueueTest, CaptureRecordsWithoutRunningAndGraphReplaysReadCurrentInputs) {
  set_batch(2);
  fill_input(1.0f);
  ASSERT_TRUE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));  // once before capture
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  ASSERT_EQ(trt_standin_count("network_runs"), 1);
  const uint64_t pinned_allocations = cudaemu_call_count("cudaMallocHost");
  fill_output(-1.0f);

  ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeGlobal), cudaSuccess);
  ASSERT_TRUE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
  ASSERT_NE(graph, nullptr);
  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 1) << "the captured enqueue must not run";
  EXPECT_EQ(output_rows()[0], -1.0f);
  EXPECT_EQ(cudaemu_call_count("cudaMallocHost"), pinned_allocations) << "enqueue must not allocate";

  // Each launch reads the inputs as they are then, with the batch recorded at capture.
  fill_input(3.0f);
  set_batch(1);
  ASSERT_EQ(cudaGraphLaunch(exec, stream_->get()), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
  std::vector<float> rows = output_rows();
  EXPECT_EQ(rows[0], 3.0f);
  EXPECT_EQ(rows[1], 3.0f) << "the replay used the batch set after capture";
  EXPECT_EQ(rows[2], -1.0f);

  fill_input(5.0f);
  ASSERT_EQ(cudaGraphLaunch(exec, stream_->get()), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 3);
  EXPECT_EQ(output_rows()[1], 5.0f);

  EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
}

TEST_F(EnqueueTest, QueuedWorkKeepsTheShapesOfItsOwnEnqueue) {
  // Two enqueues in flight with different batches into different outputs, one synchronisation.
  Bindings other(*l_->engine, 10 * 340 * 4);
  other[0].upload(std::vector<float>(10 * 340, 7.0f));
  other[1].upload(std::vector<float>(10 * 340, 0.0f));
  other[2].upload(std::vector<float>(10 * 338, -1.0f));
  fill_input(2.0f);
  fill_output(-1.0f);
  set_batch(3);
  ASSERT_TRUE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  set_batch(1);
  ASSERT_TRUE(l_->context->enqueueV2(other.data(), stream_->get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
  const std::vector<float> rows = output_rows();
  EXPECT_EQ(std::vector<float>(rows.begin(), rows.begin() + 4), (std::vector<float>{2, 2, 2, -1}));
  const std::vector<float> second = other[2].download<float>(2 * 338);
  EXPECT_EQ(second[0], 7.0f);
  EXPECT_EQ(second[337], 7.0f);
  EXPECT_EQ(second[338], -1.0f);

  // After completion the caller may reuse every buffer.
  fill_input(4.0f);
  set_batch(2);
  ASSERT_TRUE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(output_rows()[1], 4.0f);
}

TEST_F(EnqueueTest, EnqueueIssuesCopiesAndOneHostFunctionInOrder) {
  set_batch(1);
  fill_input(1.0f);
  cudaemu_trace_clear();
  ASSERT_TRUE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  std::vector<std::string> calls;
  unsigned thread = 0;
  cudaemu_trace_entry e;
  for (size_t i = 0; cudaemu_trace_get(i, &e); ++i) {
    calls.push_back(e.api);
    if (thread == 0) thread = e.thread;
    EXPECT_EQ(e.thread, thread) << e.api << " called from the host function";
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"cudaMemcpyAsync", "cudaMemcpyAsync", "cudaLaunchHostFunc",
                                             "cudaMemcpyAsync", "cudaStreamSynchronize"}));
}

TEST_F(EnqueueTest, CudaFailuresAreReportedAndRefused) {
  set_batch(1);
  ASSERT_EQ(cudaemu_fail_call("cudaLaunchHostFunc", 1, cudaErrorInvalidValue), 0);
  EXPECT_FALSE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  EXPECT_NE(l_->logger.only_error().find("enqueueV2: cudaLaunchHostFunc failed"), std::string::npos);
}

TEST_F(EnqueueTest, ContextCreationFailsWithoutStagingMemory) {
  ASSERT_EQ(cudaemu_fail_call("cudaMallocHost", 1, cudaErrorMemoryAllocation), 0);
  TrtPtr<nvinfer1::IExecutionContext> context(l_->engine->createExecutionContext());
  EXPECT_FALSE(context);
  EXPECT_NE(l_->logger.only_error().find("createExecutionContext: cannot allocate"), std::string::npos);
  EXPECT_EQ(trt_standin_count("live_contexts"), 1);  // the fixture's own
}

}  // namespace
}  // namespace trt_test
