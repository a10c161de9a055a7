// enqueueV3: the samples computed through named tensors, addresses, the capture rule, profile
// switches on their stream and device affinity.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "test_support.h"
#include "weight_fill.h"

namespace trt_test {
namespace {

class EnqueueTest : public TrtTest {
 protected:
  // The smoke network with in0 = value everywhere and in1 = 0 gives out0 = value everywhere.
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(sample_engine("smoke"));
    ASSERT_TRUE(l_->context);
    buffers_ = std::make_unique<TensorBuffers>(*l_->engine, 10 * 340 * 4);
    (*buffers_)["in1"].upload(std::vector<float>(10 * 340, 0.0f));
    stream_ = std::make_unique<Stream>();  // after the emulator reset, which drops every stream
  }
  void set_batch(int batch) {
    ASSERT_TRUE(l_->context->setInputShape("in0", dims({batch, 340})));
    ASSERT_TRUE(l_->context->setInputShape("in1", dims({batch, 340})));
  }
  void fill_input(float value) { (*buffers_)["in0"].upload(std::vector<float>(10 * 340, value)); }
  void fill_output(float value) { (*buffers_)["out0"].upload(std::vector<float>(10 * 338, value)); }
  float output_row(int r) {
    const std::vector<float> out = (*buffers_)["out0"].download<float>(10 * 338);
    const bool uniform = std::all_of(out.begin() + r * 338, out.begin() + (r + 1) * 338,
                                     [&](float v) { return v == out[r * 338]; });
    return uniform ? out[r * 338] : -12345.0f;
  }
  bool enqueue() { return l_->context->enqueueV3(stream_->get()); }
  void warm_up() {
    ASSERT_TRUE(enqueue());
    ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  }
  // One enqueue inside a capture of the stream; the capture is ended and its graph dropped either way.
  bool enqueue_captured() {
    EXPECT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeRelaxed), cudaSuccess);
    const bool enqueued = enqueue();
    cudaGraph_t graph = nullptr;
    EXPECT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess)
        << "a refusal must not break the capture";
    if (graph != nullptr) {
      EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
    }
    return enqueued;
  }

  std::unique_ptr<Loaded> l_;
  std::unique_ptr<TensorBuffers> buffers_;
  std::unique_ptr<Stream> stream_;
};

constexpr const char* kCaptureRefusal =
    "enqueueV3: the first enqueueV3 after setOptimizationProfileAsync or setInputShape cannot be captured "
    "into a CUDA graph: enqueue once outside the capture first";

TEST_F(EnqueueTest, SmokeSampleIsConv1dOfTheSum) {
  // in0[r][i] = (r + 1) * i, in1 = 1: out[r][k] = (r + 1) k + (r + 1) + 1.
  const int batch = 3;
  std::vector<float> in0(batch * 340), in1(batch * 340, 1.0f);
  for (int r = 0; r < batch; ++r) {
    for (int i = 0; i < 340; ++i) in0[r * 340 + i] = static_cast<float>((r + 1) * i);
  }
  set_batch(batch);
  const std::vector<float> out = run_floats(*l_, {{"in0", in0}, {"in1", in1}}, "out0", batch * 338);
  for (int r = 0; r < batch; ++r) {
    for (int k = 0; k < 338; ++k) {
      ASSERT_EQ(out[r * 338 + k], static_cast<float>((r + 1) * k + r + 2)) << "row " << r << " column " << k;
    }
  }
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
  EXPECT_EQ(trt_standin_count("enqueueV3"), 1);
  EXPECT_EQ(l_->logger.count(Severity::kERROR) + l_->logger.count(Severity::kWARNING), 0);
}

TEST_F(EnqueueTest, MixedRankAndMlpSamplesComputeEveryOutput) {
  auto m = load(sample_engine("mixed_rank"));
  ASSERT_TRUE(m->context);
  ASSERT_TRUE(m->context->setInputShape("in0", dims({1, 8})));
  ASSERT_TRUE(m->context->setInputShape("in1", dims({1, 4, 8})));
  std::vector<float> in1(32);
  for (int i = 0; i < 32; ++i) in1[i] = static_cast<float>(i);
  TensorBuffers buffers(*m->engine, 1024);
  buffers["in0"].upload(std::vector<float>{-1, 2, -3, 4, -5, 6, -7, 8});
  buffers["in1"].upload(in1);
  ASSERT_TRUE(buffers.bind(*m->context));
  ASSERT_TRUE(m->context->enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(buffers["out0"].download<float>(8), (std::vector<float>{0, 2, 0, 4, 0, 6, 0, 8}));
  const std::vector<float> out1 = buffers["out1"].download<float>(32);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(out1[i], 0.5f * i);

  auto p = load(sample_engine("mlp"));
  ASSERT_TRUE(p->context);
  const int batch = 2;
  std::vector<float> x(batch * 16);
  for (int i = 0; i < batch * 16; ++i) x[i] = 0.125f * static_cast<float>(i % 7) - 0.25f;
  ASSERT_TRUE(p->context->setInputShape("x", dims({batch, 16})));
  const std::vector<float> y = run_floats(*p, {{"x", x}}, "y", batch * 4);
  const auto w1 = trt_standin::random_weights(1, 16 * 32), b1 = trt_standin::random_weights(2, 32);
  const auto w2 = trt_standin::random_weights(3, 32 * 4), b2 = trt_standin::random_weights(4, 4);
  for (int r = 0; r < batch; ++r) {
    std::vector<double> hidden(32);
    for (int m2 = 0; m2 < 32; ++m2) {
      double acc = b1[m2];
      for (int k = 0; k < 16; ++k) acc += x[r * 16 + k] * w1[k * 32 + m2];
      hidden[m2] = acc > 0 ? acc : 0;
    }
    for (int u = 0; u < 4; ++u) {
      double acc = b2[u];
      for (int k = 0; k < 32; ++k) acc += hidden[k] * w2[k * 4 + u];
      EXPECT_NEAR(y[r * 4 + u], acc, 1e-4) << "row " << r << " unit " << u;
    }
  }
}

TEST_F(EnqueueTest, EveryTensorNeedsAnAddressAndEveryInputAShape) {
  fill_output(-1.0f);
  EXPECT_FALSE(enqueue());
  EXPECT_EQ(l_->logger.only_error(),
            "enqueueV3: the shape of input 'in0' is missing: set every input with setInputShape");
  set_batch(2);
  // One tensor after the other gets its address; each enqueue before the last one is refused.
  for (const char* name : {"in0", "in1", "out0"}) {
    l_->logger.lines.clear();
    EXPECT_FALSE(enqueue());
    EXPECT_EQ(l_->logger.only_error(),
              std::string("enqueueV3: tensor '") + name +
                  "' has no address: set every input and output with setTensorAddress");
    ASSERT_TRUE(l_->context->setTensorAddress(name, (*buffers_)[name].get()));
  }
  EXPECT_EQ(cudaemu_call_count("cudaLaunchHostFunc"), 0u) << "a refused enqueue queues nothing";
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u);
  // nullptr takes an address back.
  ASSERT_TRUE(l_->context->setTensorAddress("in1", nullptr));
  EXPECT_FALSE(enqueue());
  ASSERT_TRUE(l_->context->setTensorAddress("in1", (*buffers_)["in1"].get()));
  fill_input(2.0f);
  warm_up();
  EXPECT_EQ(output_row(1), 2.0f);
  EXPECT_EQ(output_row(2), -1.0f) << "batch 2 writes two rows";
  EXPECT_EQ(trt_standin_count("enqueueV3"), 6);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
}

TEST_F(EnqueueTest, FirstEnqueueAfterAShapeChangeCannotBeCapturedAndGraphsReplayCurrentInputs) {
  set_batch(2);
  ASSERT_TRUE(buffers_->bind(*l_->context));
  fill_input(1.0f);
  fill_output(-1.0f);
  EXPECT_FALSE(enqueue_captured());
  EXPECT_EQ(l_->logger.only_error(), kCaptureRefusal);
  EXPECT_EQ(trt_standin_count("network_runs"), 0);

  warm_up();
  EXPECT_EQ(output_row(1), 1.0f);
  const uint64_t pinned_allocations = cudaemu_call_count("cudaMallocHost");
  fill_output(-1.0f);
  ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeGlobal), cudaSuccess);
  ASSERT_TRUE(enqueue());
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
  cudaGraphExec_t exec = nullptr;
  ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 1) << "the captured enqueue must not run";
  EXPECT_EQ(cudaemu_call_count("cudaMallocHost"), pinned_allocations) << "enqueueV3 must not allocate";

  // A replay reads the inputs as they are then, with the shapes recorded at capture, also after the
  // context moved on to other shapes.
  fill_input(3.0f);
  set_batch(1);
  ASSERT_EQ(cudaGraphLaunch(exec, stream_->get()), cudaSuccess);
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
  EXPECT_EQ(output_row(1), 3.0f);
  EXPECT_EQ(output_row(2), -1.0f);
  EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
  EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 1);
}

TEST_F(EnqueueTest, EveryProfileSwitchAndShapeChangeBlocksTheNextCapture) {
  nvinfer1::IExecutionContext& c = *l_->context;
  set_batch(2);
  ASSERT_TRUE(buffers_->bind(c));
  const std::vector<std::pair<const char*, std::function<void()>>> changes = {
      {"a switch to the profile already selected",
       [&] {
         ASSERT_TRUE(c.setOptimizationProfileAsync(0, stream_->get()));
         set_batch(2);
         ASSERT_TRUE(buffers_->bind(c));
       }},
      {"the shape an input already has",
       [&] {
         ASSERT_TRUE(c.setInputShape("in0", dims({2, 340})));
       }},
      {"a new shape", [&] { set_batch(3); }},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.first);
    warm_up();
    ASSERT_TRUE(enqueue_captured());
    change.second();
    l_->logger.lines.clear();
    EXPECT_FALSE(enqueue_captured());
    EXPECT_EQ(l_->logger.only_error(), kCaptureRefusal);
  }

  // Addresses and refused calls change no shape, so they block nothing; a refused enqueue lifts nothing.
  warm_up();
  ASSERT_TRUE(c.setTensorAddress("out0", (*buffers_)["out0"].get()));
  EXPECT_FALSE(c.setOptimizationProfileAsync(1, stream_->get()));
  EXPECT_FALSE(c.setInputShape("in0", dims({11, 340})));
  EXPECT_TRUE(enqueue_captured());
  set_batch(4);
  trt_standin_fail("enqueueV3", 1);
  EXPECT_FALSE(enqueue());
  l_->logger.lines.clear();
  EXPECT_FALSE(enqueue_captured());
  EXPECT_EQ(l_->logger.only_error(), kCaptureRefusal);
}

TEST_F(EnqueueTest, AFreshContextCannotBeCapturedEvenWithStaticInputs) {
  auto s = load(sample_engine("static_batch"));
  ASSERT_TRUE(s->context);
  TensorBuffers buffers(*s->engine, 4 * 8 * 4);
  ASSERT_TRUE(buffers.bind(*s->context));
  ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_FALSE(s->context->enqueueV3(stream_->get()));
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  EXPECT_EQ(s->logger.only_error(), kCaptureRefusal);
  ASSERT_TRUE(s->context->enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
}

TEST_F(EnqueueTest, EnqueueIssuesCopiesAndOneHostFunctionInOrder) {
  set_batch(1);
  ASSERT_TRUE(buffers_->bind(*l_->context));
  cudaemu_trace_clear();
  warm_up();
  std::vector<std::string> calls;
  cudaemu_trace_entry e;
  for (size_t i = 0; cudaemu_trace_get(i, &e); ++i) calls.push_back(e.api);
  EXPECT_EQ(calls, (std::vector<std::string>{"cudaGetDevice", "cudaStreamIsCapturing", "cudaMemcpyAsync",
                                             "cudaMemcpyAsync", "cudaLaunchHostFunc", "cudaMemcpyAsync",
                                             "cudaStreamSynchronize"}));
}

// The switch is work on the stream it was given: an enqueue on another stream must wait for it.
TEST_F(EnqueueTest, ProfileSwitchRunsOnItsStreamAndAnUnsynchronisedEnqueueIsCaught) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  TensorBuffers buffers(*l->engine, 16 * 4 * 8 * 4);
  buffers["in0"].upload(std::vector<float>(16 * 32, 1.0f));
  buffers["in1"].upload(std::vector<float>(16 * 32, -1.0f));
  Stream other;
  auto prepare = [&](int32_t profile, cudaStream_t switch_stream) {
    ASSERT_TRUE(c.setOptimizationProfileAsync(profile, switch_stream));
    ASSERT_TRUE(c.setInputShape("in0", dims({2, 4, 8})));
    ASSERT_TRUE(c.setInputShape("in1", dims({2, 4, 8})));
    ASSERT_TRUE(buffers.bind(c));
  };

  cudaemu_trace_clear();
  prepare(1, other.get());
  cudaemu_trace_entry e;
  bool queued_on_other = false;
  for (size_t i = 0; cudaemu_trace_get(i, &e); ++i) {
    queued_on_other |=
        std::string(e.api) == "cudaLaunchHostFunc" && e.args[0] == reinterpret_cast<uintptr_t>(other.get());
  }
  EXPECT_TRUE(queued_on_other) << "setOptimizationProfileAsync queues its work on the stream given";
  // The enqueue stream is synchronised first: the network would run before the switch.
  ASSERT_TRUE(c.enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 0);
  EXPECT_EQ(trt_standin_count("unsynchronized_profile_switches"), 1);
  EXPECT_EQ(l->logger.only_error(),
            "enqueueV3: the network for optimization profile 1 ran before the switch that "
            "setOptimizationProfileAsync queued on its stream; synchronise that stream with the enqueue "
            "stream");
  ASSERT_EQ(cudaStreamSynchronize(other.get()), cudaSuccess);

  // Synchronised, or on the enqueue stream itself, the network runs.
  prepare(0, other.get());
  ASSERT_EQ(cudaStreamSynchronize(other.get()), cudaSuccess);
  ASSERT_TRUE(c.enqueueV3(stream_->get()));
  prepare(1, stream_->get());
  ASSERT_TRUE(c.enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
  EXPECT_EQ(buffers["out0"].download<float>(1)[0], 3.0f) << "2 * max(1, -1) + 1";
  EXPECT_EQ(l->logger.count(Severity::kERROR), 1);

  // Not inside a capture.
  ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_FALSE(c.setOptimizationProfileAsync(0, stream_->get()));
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
  ASSERT_EQ(cudaGraphDestroy(graph), cudaSuccess);
  EXPECT_EQ(
      l->logger.lines.back().second,
      "setOptimizationProfileAsync: the stream is capturing: switch optimization profiles outside a CUDA "
      "graph capture");
  EXPECT_EQ(c.getOptimizationProfile(), 1);
}

TEST_F(EnqueueTest, CudaFailuresAreReportedAndRefused) {
  set_batch(1);
  ASSERT_TRUE(buffers_->bind(*l_->context));
  ASSERT_EQ(cudaemu_fail_call("cudaLaunchHostFunc", 1, cudaErrorInvalidValue), 0);
  EXPECT_FALSE(enqueue());
  EXPECT_NE(l_->logger.only_error().find("enqueueV3: cudaLaunchHostFunc failed"), std::string::npos);
  ASSERT_EQ(cudaemu_fail_call("cudaLaunchHostFunc", 1, cudaErrorInvalidValue), 0);
  l_->logger.lines.clear();
  EXPECT_FALSE(l_->context->setOptimizationProfileAsync(0, stream_->get()));
  EXPECT_NE(l_->logger.only_error().find("setOptimizationProfileAsync: cudaLaunchHostFunc failed"),
            std::string::npos);
  EXPECT_TRUE(l_->context->allInputDimensionsSpecified()) << "a failed switch keeps the shapes";
  ASSERT_EQ(cudaemu_fail_call("cudaMallocHost", 1, cudaErrorMemoryAllocation), 0);
  l_->logger.lines.clear();
  EXPECT_EQ(l_->engine->createExecutionContext(), nullptr);
  EXPECT_NE(l_->logger.only_error().find("createExecutionContext: cannot allocate"), std::string::npos);
  EXPECT_EQ(trt_standin_count("live_contexts"), 1);  // the fixture's own
}

// Each context belongs to the device current at its creation; its calls from another current device
// are refused before anything is queued.
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

TEST_F(DeviceAffinityTest, CallsFromAnotherCurrentDeviceAreRefused) {
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  TensorBuffers buffers(*l->engine, 10 * 340 * 4);
  Stream stream;
  ASSERT_TRUE(l->context->setInputShape("in0", dims({2, 340})));
  ASSERT_TRUE(l->context->setInputShape("in1", dims({2, 340})));
  ASSERT_TRUE(buffers.bind(*l->context));

  ASSERT_EQ(cudaSetDevice(0), cudaSuccess);
  EXPECT_FALSE(l->context->enqueueV3(stream.get()));
  EXPECT_EQ(l->logger.only_error(),
            "enqueueV3: the execution context was created on device 1, but the calling thread's current "
            "device is 0");
  l->logger.lines.clear();
  EXPECT_FALSE(l->context->setOptimizationProfileAsync(0, stream.get()));
  EXPECT_EQ(l->logger.only_error(),
            "setOptimizationProfileAsync: the execution context was created on device 1, but the calling "
            "thread's current device is 0");
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u) << "nothing may be queued";
  EXPECT_EQ(cudaemu_call_count("cudaLaunchHostFunc"), 0u);

  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  EXPECT_TRUE(l->context->enqueueV3(stream.get()));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
}

}  // namespace
}  // namespace trt_test
