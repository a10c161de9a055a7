// enqueueV3: the samples computed through named tensors, addresses, the capture rule, profile
// switches on their stream and device affinity.
#include <algorithm>
#include <functional>

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

}  // namespace
}  // namespace trt_test
