// enqueueV2 in stream order: capture into graphs, shapes fixed at enqueue time, staging memory.
#include <algorithm>
#include <functional>

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
  EXPECT_EQ(calls, (std::vector<std::string>{"cudaGetDevice", "cudaStreamIsCapturing", "cudaMemcpyAsync",
                                             "cudaMemcpyAsync", "cudaLaunchHostFunc", "cudaMemcpyAsync",
                                             "cudaStreamSynchronize"}));
}

constexpr const char* kCaptureRefusal =
    "enqueueV2: the first enqueue after setOptimizationProfile or setBindingDimensions cannot be captured "
    "into a CUDA graph: enqueue once outside the capture first";

// One enqueue inside a capture of the stream; the capture is ended and its graph dropped either way.
bool EnqueueCaptured(Loaded& l, Bindings& bindings, cudaStream_t stream) {
  EXPECT_EQ(cudaStreamBeginCapture(stream, cudaStreamCaptureModeRelaxed), cudaSuccess);
  const bool enqueued = l.context->enqueueV2(bindings.data(), stream, nullptr);
  cudaGraph_t graph = nullptr;
  EXPECT_EQ(cudaStreamEndCapture(stream, &graph), cudaSuccess) << "the refusal must not break the capture";
  if (graph != nullptr) {
    EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  }
  return enqueued;
}

TEST_F(EnqueueTest, FirstEnqueueAfterNewDimensionsCannotBeCaptured) {
  set_batch(2);
  fill_input(1.0f);
  fill_output(-1.0f);
  ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeGlobal), cudaSuccess);
  EXPECT_FALSE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  EXPECT_EQ(l_->logger.only_error(), kCaptureRefusal);
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
  ASSERT_EQ(cudaGraphLaunch(exec, stream_->get()), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 0) << "the refused enqueue recorded work";
  EXPECT_EQ(output_rows()[0], -1.0f);
  EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);

  // One enqueue outside a capture, and the next one is captured.
  ASSERT_TRUE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
  EXPECT_TRUE(EnqueueCaptured(*l_, *bindings_, stream_->get()));
  EXPECT_TRUE(EnqueueCaptured(*l_, *bindings_, stream_->get())) << "a captured enqueue lifts nothing";
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 1);
}

TEST_F(EnqueueTest, EveryProfileSelectionAndDimensionChangeBlocksTheNextCapture) {
  set_batch(2);
  auto warm_up = [&] {
    ASSERT_TRUE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
    ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  };
  nvinfer1::IExecutionContext& c = *l_->context;
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"the profile already selected",
       [&] {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
         ASSERT_TRUE(c.setOptimizationProfile(0));
#pragma GCC diagnostic pop
       }},
      {"the dimensions an input already has",
       [&] {
         ASSERT_TRUE(c.setBindingDimensions(0, dims({2, 340})));
       }},
      {"new dimensions", [&] { set_batch(3); }},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.first);
    warm_up();
    ASSERT_TRUE(EnqueueCaptured(*l_, *bindings_, stream_->get()));
    change.second();
    l_->logger.lines.clear();
    EXPECT_FALSE(EnqueueCaptured(*l_, *bindings_, stream_->get()));
    EXPECT_EQ(l_->logger.only_error(), kCaptureRefusal);
  }

  // Refused calls change nothing, so they block nothing; a refused enqueue lifts nothing.
  warm_up();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  EXPECT_FALSE(c.setOptimizationProfile(5));
#pragma GCC diagnostic pop
  EXPECT_FALSE(c.setBindingDimensions(0, dims({11, 340})));
  EXPECT_TRUE(EnqueueCaptured(*l_, *bindings_, stream_->get()));
  set_batch(4);
  trt_standin_fail("enqueueV2", 1);
  EXPECT_FALSE(l_->context->enqueueV2(bindings_->data(), stream_->get(), nullptr));
  l_->logger.lines.clear();
  EXPECT_FALSE(EnqueueCaptured(*l_, *bindings_, stream_->get()));
  EXPECT_EQ(l_->logger.only_error(), kCaptureRefusal);
}

TEST_F(EnqueueTest, FreshContextCannotBeCapturedEvenWithStaticInputs) {
  auto l = load(sample_engine("static_batch"));
  ASSERT_TRUE(l->context);
  Bindings bindings(*l->engine, 4 * 8 * 4);
  ASSERT_TRUE(l->context->allInputDimensionsSpecified());
  EXPECT_FALSE(EnqueueCaptured(*l, bindings, stream_->get()));
  EXPECT_EQ(l->logger.only_error(), kCaptureRefusal);
  ASSERT_TRUE(l->context->enqueueV2(bindings.data(), stream_->get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_TRUE(EnqueueCaptured(*l, bindings, stream_->get()));
}

// Each context belongs to the device current at its creation; enqueueV2 from another current device
// is refused before anything is queued.
class DeviceAffinityTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    cudaemu_set_device_count(2);
  }
  void TearDown() override {
    ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
    TrtTest::TearDown();
  }
};

TEST_F(DeviceAffinityTest, EnqueueFromAnotherCurrentDeviceIsRefused) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  Bindings bindings(*l->engine, 10 * 340 * 4);
  Stream stream;
  ASSERT_TRUE(l->context->setBindingDimensions(0, dims({2, 340})));
  ASSERT_TRUE(l->context->setBindingDimensions(1, dims({2, 340})));

  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  EXPECT_FALSE(l->context->enqueueV2(bindings.data(), stream.get(), nullptr));
  EXPECT_EQ(l->logger.only_error(),
            "enqueueV2: the execution context was created on device 0, but the calling thread's current "
            "device is 1");
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u) << "nothing may be queued";
  EXPECT_EQ(cudaemu_call_count("cudaLaunchHostFunc"), 0u);

  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  EXPECT_TRUE(l->context->enqueueV2(bindings.data(), stream.get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
}

TEST_F(DeviceAffinityTest, ContextCreatedOnDeviceOneRunsOnlyThere) {
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  Bindings bindings(*l->engine, 10 * 340 * 4);
  Stream stream;
  ASSERT_TRUE(l->context->setBindingDimensions(0, dims({1, 340})));
  ASSERT_TRUE(l->context->setBindingDimensions(1, dims({1, 340})));
  EXPECT_TRUE(l->context->enqueueV2(bindings.data(), stream.get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);

  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  EXPECT_FALSE(l->context->enqueueV2(bindings.data(), stream.get(), nullptr));
  EXPECT_NE(l->logger.only_error().find("created on device 1, but the calling thread's current device is 0"),
            std::string::npos);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);  // the stream and buffers are released on their device
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
