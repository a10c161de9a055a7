// Releasing a context or an engine while work it queued on a stream has not run: reported, and what
// that work reads is kept until it has run.
#include "test_support.h"

namespace trt_test {
namespace {

constexpr const char* kContextLine =
    "IExecutionContext released while 2 item(s) of work it queued on a stream have not run: synchronise the "
    "stream before releasing the context";
constexpr const char* kEngineLine =
    "ICudaEngine released while 2 item(s) of work its execution contexts queued on a stream have not run: "
    "synchronise the stream before releasing the engine";
// The smoke engine: weights (3 taps) and activation memory (in0 + in1 at [10, 340], rounded up).
constexpr std::size_t kSmokeWeights = 12;
constexpr std::size_t kSmokeActivation = 13824;

// The smoke network at batch 1 with in0 = 2 and in1 = 1 everywhere: out0 = 3 everywhere.
class QueuedWorkTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(sample_engine("smoke"));
    ASSERT_TRUE(l_->context);
    for (auto* buffer : {&in0_, &in1_, &out0_}) *buffer = std::make_unique<DeviceBuffer>(340 * 4);
    in0_->upload(std::vector<float>(340, 2.0f));
    in1_->upload(std::vector<float>(340, 1.0f));
#if NV_TENSORRT_MAJOR >= 10
    ASSERT_TRUE(l_->context->setInputShape("in0", dims({1, 340})));
    ASSERT_TRUE(l_->context->setInputShape("in1", dims({1, 340})));
    ASSERT_TRUE(l_->context->setTensorAddress("in0", in0_->get()));
    ASSERT_TRUE(l_->context->setTensorAddress("in1", in1_->get()));
    ASSERT_TRUE(l_->context->setTensorAddress("out0", out0_->get()));
#else
    ASSERT_TRUE(l_->context->setBindingDimensions(0, dims({1, 340})));
    ASSERT_TRUE(l_->context->setBindingDimensions(1, dims({1, 340})));
#endif
    stream_ = std::make_unique<Stream>();
  }
  void TearDown() override {
    stream_.reset();
    l_.reset();
    TrtTest::TearDown();
  }
  bool enqueue() {
#if NV_TENSORRT_MAJOR >= 10
    return l_->context->enqueueV3(stream_->get());
#else
    void* bindings[3] = {in0_->get(), in1_->get(), out0_->get()};
    return l_->context->enqueueV2(bindings, stream_->get(), nullptr);
#endif
  }
  float output() { return out0_->download<float>(1)[0]; }

  std::unique_ptr<Loaded> l_;
  std::unique_ptr<DeviceBuffer> in0_, in1_, out0_;
  std::unique_ptr<Stream> stream_;
};

TEST_F(QueuedWorkTest, AContextReleasedBeforeItsWorkRanIsReportedAndItsStateKeptUntilTheWorkRan) {
  ASSERT_TRUE(enqueue());
  ASSERT_TRUE(enqueue());
  l_->context.reset();
  EXPECT_EQ(l_->logger.only_error(), kContextLine);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 1);
  EXPECT_EQ(trt_standin_count("live_contexts"), 0);
  EXPECT_EQ(cudaemu_live_component_bytes(), kSmokeWeights + kSmokeActivation) << "activation memory kept";
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 1u) << "staging memory kept";

  // The work runs on what was kept, and computes what it would have.
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
  EXPECT_EQ(output(), 3.0f);
  EXPECT_EQ(cudaemu_violations(), 0u);

  // Its work done, the engine's release reports nothing, and what was kept goes with it.
  l_->logger.lines.clear();
  l_->engine.reset();
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 1);
  EXPECT_EQ(cudaemu_live_component_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u);
}

TEST_F(QueuedWorkTest, AnEngineReleasedBeforeItsContextsWorkRanIsReportedAndKeepsItsWeights) {
  ASSERT_TRUE(enqueue());
  ASSERT_TRUE(enqueue());
  l_->logger.lines.clear();
  l_->context.reset();
  l_->engine.reset();
  ASSERT_EQ(l_->logger.lines.size(), 2u);
  EXPECT_EQ(l_->logger.lines[0].second, kContextLine);
  EXPECT_EQ(l_->logger.lines[1].second, kEngineLine);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 2);
  EXPECT_EQ(cudaemu_live_component_bytes(), kSmokeWeights + kSmokeActivation);

  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(output(), 3.0f);
  // The next object the runtime makes or releases frees what the finished work no longer needs.
  const auto bytes = sample_engine("static_batch");
  TrtPtr<nvinfer1::ICudaEngine> other(l_->runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
  ASSERT_TRUE(other);
  EXPECT_EQ(cudaemu_live_component_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u);
}

TEST_F(QueuedWorkTest, NoReportOnceTheWorkRanNorForCapturedWork) {
  ASSERT_TRUE(enqueue());
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  // A captured enqueue queues nothing; what a graph replays is the caller's to order.
  ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeGlobal), cudaSuccess);
  ASSERT_TRUE(enqueue());
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  // A failed enqueue leaves nothing queued either.
  ASSERT_EQ(cudaemu_fail_call("cudaLaunchHostFunc", 1, cudaErrorInvalidValue), 0);
  EXPECT_FALSE(enqueue());
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  l_->logger.lines.clear();
  l_->context.reset();
  l_->engine.reset();
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 0);
  EXPECT_EQ(cudaemu_live_component_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u);
}

// A reset of the emulated device drops the work and frees its memory; the stand-in's reset after it
// frees nothing a second time.
TEST_F(QueuedWorkTest, ResettingTheDeviceAndTheStandInAfterwardsFreesNothingTwice) {
  ASSERT_TRUE(enqueue());
  l_->context.reset();
  l_->engine.reset();
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 2);
  stream_.reset();
  for (auto* buffer : {&in0_, &in1_, &out0_}) buffer->reset();
  cudaemu_reset();
  trt_standin_reset();
  EXPECT_EQ(cudaemu_violations(), 0u);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 0);
  const auto bytes = sample_engine("smoke");
  TrtPtr<nvinfer1::ICudaEngine> again(l_->runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
  ASSERT_TRUE(again);
  again.reset();
  EXPECT_EQ(cudaemu_violations(), 0u) << "nothing kept was freed after the reset";
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
}

#if NV_TENSORRT_MAJOR >= 10

// The case strict CUDA ordering exposes: a profile switch queued on a stream destroyed without a
// synchronization (strict cudaStreamDestroy returns at once) runs after the context is gone.
TEST_F(QueuedWorkTest, AProfileSwitchQueuedOnADestroyedStreamRunsOnTheKeptState) {
  cudaemu_set_strict(1);
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  cudaStream_t s = nullptr;
  ASSERT_EQ(cudaStreamCreate(&s), cudaSuccess);
  const size_t queued_before = cudaemu_pending_work();
  ASSERT_TRUE(l->context->setOptimizationProfileAsync(1, s));
  ASSERT_EQ(cudaStreamDestroy(s), cudaSuccess);
  EXPECT_EQ(cudaemu_pending_work(), queued_before + 1);
  l->context.reset();
  EXPECT_EQ(l->logger.only_error(),
            "IExecutionContext released while 1 item(s) of work it queued on a stream have not run: "
            "synchronise the stream before releasing the context");
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
  l->engine.reset();
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 1);
  EXPECT_EQ(cudaemu_live_component_allocations(), 2u) << "the fixture's engine and context only";
}

// The work of a released context stays silent: the application's logger need not outlive it.
TEST_F(QueuedWorkTest, AReleasedContextsWorkCountsARaceWithoutLoggingIt) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  TensorBuffers buffers(*l->engine, 16 * 4 * 8 * 4);
  Stream other;
  ASSERT_TRUE(l->context->setOptimizationProfileAsync(1, other.get()));
  ASSERT_TRUE(l->context->setInputShape("in0", dims({2, 4, 8})));
  ASSERT_TRUE(l->context->setInputShape("in1", dims({2, 4, 8})));
  ASSERT_TRUE(buffers.bind(*l->context));
  ASSERT_TRUE(l->context->enqueueV3(stream_->get()));
  l->context.reset();
  ASSERT_EQ(l->logger.count(Severity::kERROR), 1);
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);  // the network, before the switch
  EXPECT_EQ(trt_standin_count("unsynchronized_profile_switches"), 1);
  EXPECT_EQ(l->logger.count(Severity::kERROR), 1) << "no line from the released context's work";
  ASSERT_EQ(cudaStreamSynchronize(other.get()), cudaSuccess);
}

#endif

}  // namespace
}  // namespace trt_test
