// Execution context: profile selection, input dimensions and each refusal of enqueueV2.
#include <algorithm>

#include "test_support.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // setOptimizationProfile, as in real use
#endif

namespace trt_test {
namespace {

class ContextTest : public TrtTest {};

TEST_F(ContextTest, FirstContextHasProfileZeroLaterOnesNone) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  EXPECT_EQ(l->context->getOptimizationProfile(), 0);
  TrtPtr<nvinfer1::IExecutionContext> second(l->engine->createExecutionContext());
  ASSERT_TRUE(second);
  EXPECT_EQ(second->getOptimizationProfile(), -1);
  EXPECT_FALSE(second->allInputDimensionsSpecified());
  EXPECT_FALSE(second->setBindingDimensions(0, dims({1, 4, 8})));
  EXPECT_NE(l->logger.only_error().find("no optimization profile"), std::string::npos);
  EXPECT_TRUE(second->setOptimizationProfile(1));
  EXPECT_EQ(second->getOptimizationProfile(), 1);
  EXPECT_EQ(trt_standin_count("setOptimizationProfile"), 1);
}

TEST_F(ContextTest, SetOptimizationProfileRefusesIndicesOutOfRange) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  EXPECT_FALSE(l->context->setOptimizationProfile(2));
  EXPECT_FALSE(l->context->setOptimizationProfile(-1));
  EXPECT_EQ(l->logger.count(Severity::kERROR), 2);
  EXPECT_EQ(l->context->getOptimizationProfile(), 0);
}

TEST_F(ContextTest, SetBindingDimensionsRefusals) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  EXPECT_FALSE(c.setBindingDimensions(2, dims({1, 4, 8})));  // an output
  EXPECT_FALSE(c.setBindingDimensions(3, dims({1, 4, 8})));  // an input of profile 1
  EXPECT_FALSE(c.setBindingDimensions(-1, dims({1, 4, 8})));
  EXPECT_FALSE(c.setBindingDimensions(0, dims({1, 32})));    // wrong rank
  EXPECT_FALSE(c.setBindingDimensions(0, dims({5, 4, 8})));  // batch above profile 0's max of 4
  EXPECT_FALSE(c.setBindingDimensions(0, dims({0, 4, 8})));  // below min
  EXPECT_FALSE(c.setBindingDimensions(0, dims({2, 4, 9})));  // a fixed extent changed
  EXPECT_EQ(l->logger.count(Severity::kERROR), 7);
  EXPECT_FALSE(c.allInputDimensionsSpecified());
  EXPECT_EQ(trt_standin_count("setBindingDimensions"), 7);

  // The last dimensions given are recorded even when refused.
  int nb = 0, d[8] = {};
  ASSERT_EQ(trt_standin_last_dims(0, &nb, d), 0);
  EXPECT_EQ(nb, 3);
  EXPECT_EQ(d[2], 9);
  EXPECT_EQ(trt_standin_last_dims(1, &nb, d), -1);
}

// As the real runtime: a refusal is one kERROR line and false, and the input keeps the dimensions it
// had, so an enqueue after it still runs the previous batch (the library must act on the false).
TEST_F(ContextTest, RefusedDimensionsKeepThePreviousOnes) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  ASSERT_TRUE(c.setBindingDimensions(0, dims({10, 340})));
  ASSERT_TRUE(c.setBindingDimensions(1, dims({10, 340})));
  EXPECT_FALSE(c.setBindingDimensions(0, dims({12, 340})));
  EXPECT_EQ(l->logger.only_error(),
            "setBindingDimensions: binding 0: [12, 340] is outside the optimization profile's range "
            "[1, 340] to [10, 340]");
  EXPECT_EQ(extents(c.getBindingDimensions(0)), (std::vector<int32_t>{10, 340}));
  EXPECT_TRUE(c.allInputDimensionsSpecified());
  EXPECT_EQ(extents(c.getBindingDimensions(2)), (std::vector<int32_t>{10, 338}));
}

TEST_F(ContextTest, InjectedDimensionRefusalIsLoggedAndKeepsThePreviousOnes) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  ASSERT_TRUE(c.setBindingDimensions(0, dims({3, 340})));
  trt_standin_fail("setBindingDimensions", 1);
  EXPECT_FALSE(c.setBindingDimensions(0, dims({4, 340})));
  EXPECT_EQ(l->logger.only_error(), "setBindingDimensions: binding 0: injected failure");
  EXPECT_EQ(extents(c.getBindingDimensions(0)), (std::vector<int32_t>{3, 340}));
}

TEST_F(ContextTest, StaticInputsAreCompleteBeforeAnyDimensionsAreSet) {
  auto l = load(sample_engine("static_batch"));
  ASSERT_TRUE(l->context);
  EXPECT_TRUE(l->context->allInputDimensionsSpecified());
  EXPECT_EQ(extents(l->context->getBindingDimensions(0)), (std::vector<int32_t>{4, 8}));
  EXPECT_EQ(extents(l->context->getBindingDimensions(1)), (std::vector<int32_t>{4, 8}));
  std::vector<float> in(32);
  for (int i = 0; i < 32; ++i) in[i] = static_cast<float>(i % 7) - 3.0f;
  const std::vector<float> out = run_floats(*l, {{0, in}}, 1, 32);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(out[i], std::max(in[i], 0.0f)) << i;
  // Only the static extents are accepted, and a refusal leaves them set.
  EXPECT_FALSE(l->context->setBindingDimensions(0, dims({2, 8})));
  EXPECT_TRUE(l->context->allInputDimensionsSpecified());
  EXPECT_TRUE(l->context->setBindingDimensions(0, dims({4, 8})));

  // A later context has no profile, so no input counts as set until one is selected.
  TrtPtr<nvinfer1::IExecutionContext> second(l->engine->createExecutionContext());
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->allInputDimensionsSpecified());
  ASSERT_TRUE(second->setOptimizationProfile(0));
  EXPECT_TRUE(second->allInputDimensionsSpecified());

  // A dynamic input counts as unset until it is given dimensions.
  auto dynamic = load(sample_engine("smoke"));
  ASSERT_TRUE(dynamic->context);
  EXPECT_FALSE(dynamic->context->allInputDimensionsSpecified());
}

TEST_F(ContextTest, ContextDimensionsOfAnIndexOutsideTheEngineAreInvalid) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  for (int32_t index : {-1, 6, 7, 1000}) {
    EXPECT_EQ(l->context->getBindingDimensions(index).nbDims, -1) << index;
  }
  // The engine's own query answers Dims() (nbDims 0) out of range, as the headers document.
  EXPECT_EQ(l->engine->getBindingDimensions(6).nbDims, 0);
  // An index of the engine but of another profile's block gives the engine's dimensions.
  EXPECT_EQ(extents(l->context->getBindingDimensions(3)), (std::vector<int32_t>{-1, 4, 8}));
}

TEST_F(ContextTest, InjectedQueriesAnswerWhatTheRuntimeAnswersWhenItCannot) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  ASSERT_TRUE(c.setBindingDimensions(0, dims({3, 340})));
  ASSERT_TRUE(c.setBindingDimensions(1, dims({3, 340})));
  trt_standin_fail("getBindingDimensions", 2);
  trt_standin_fail("allInputDimensionsSpecified", 1);
  EXPECT_EQ(c.getBindingDimensions(0).nbDims, 2);
  EXPECT_EQ(c.getBindingDimensions(0).nbDims, -1);
  EXPECT_EQ(c.getBindingDimensions(0).nbDims, 2);
  EXPECT_FALSE(c.allInputDimensionsSpecified());
  EXPECT_TRUE(c.allInputDimensionsSpecified());
  EXPECT_EQ(trt_standin_count("getBindingDimensions"), 3);
  EXPECT_EQ(trt_standin_count("allInputDimensionsSpecified"), 2);
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0);
}

TEST_F(ContextTest, OutputDimensionsResolveOnceInputsAreSet) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  EXPECT_EQ(extents(c.getBindingDimensions(2)), (std::vector<int32_t>{-1, 4, 8}));
  ASSERT_TRUE(c.setBindingDimensions(0, dims({3, 4, 8})));
  EXPECT_FALSE(c.allInputDimensionsSpecified());
  EXPECT_EQ(extents(c.getBindingDimensions(2)), (std::vector<int32_t>{-1, 4, 8}));
  ASSERT_TRUE(c.setBindingDimensions(1, dims({3, 4, 8})));
  EXPECT_TRUE(c.allInputDimensionsSpecified());
  EXPECT_EQ(extents(c.getBindingDimensions(0)), (std::vector<int32_t>{3, 4, 8}));
  EXPECT_EQ(extents(c.getBindingDimensions(2)), (std::vector<int32_t>{3, 4, 8}));

  // Switching profile starts over: profile 1's inputs are unset, and profile 1 accepts batch 16.
  ASSERT_TRUE(c.setOptimizationProfile(1));
  EXPECT_FALSE(c.allInputDimensionsSpecified());
  EXPECT_FALSE(c.setBindingDimensions(0, dims({16, 4, 8})));
  EXPECT_TRUE(c.setBindingDimensions(3, dims({16, 4, 8})));
  EXPECT_TRUE(c.setBindingDimensions(4, dims({16, 4, 8})));
  EXPECT_EQ(extents(c.getBindingDimensions(5)), (std::vector<int32_t>{16, 4, 8}));
}

TEST_F(ContextTest, EnqueueRefusesMissingDimensions) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  Bindings bindings(*l->engine, 340 * 10 * 4);
  Stream stream;
  ASSERT_TRUE(l->context->setBindingDimensions(0, dims({2, 340})));
  EXPECT_FALSE(l->context->enqueueV2(bindings.data(), stream.get(), nullptr));
  EXPECT_EQ(l->logger.only_error(),
            "enqueueV2: input dimensions are missing: set every input with setBindingDimensions");
  EXPECT_EQ(trt_standin_count("network_runs"), 0);
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), 0u) << "nothing may be queued";
}

TEST_F(ContextTest, EnqueueRefusesNullBindings) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  ASSERT_TRUE(c.setOptimizationProfile(1));
  ASSERT_TRUE(c.setBindingDimensions(3, dims({2, 4, 8})));
  ASSERT_TRUE(c.setBindingDimensions(4, dims({2, 4, 8})));
  Bindings bindings(*l->engine, 16 * 32 * 4);
  Stream stream;

  // Profile 0's block may be null when profile 1 runs; profile 1's output may not.
  bindings.pointers[0] = bindings.pointers[1] = bindings.pointers[2] = nullptr;
  bindings.pointers[5] = nullptr;
  EXPECT_FALSE(c.enqueueV2(bindings.data(), stream.get(), nullptr));
  EXPECT_EQ(l->logger.only_error(), "enqueueV2: binding 5 (out0 [profile 1]) is null");
  EXPECT_FALSE(c.enqueueV2(nullptr, stream.get(), nullptr));
  EXPECT_EQ(l->logger.count(Severity::kERROR), 2);

  bindings.pointers[5] = bindings[5].get();
  EXPECT_TRUE(c.enqueueV2(bindings.data(), stream.get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  void* recorded[8] = {};
  ASSERT_EQ(trt_standin_last_bindings(recorded, 8), 6);
  EXPECT_EQ(recorded[0], nullptr);
  EXPECT_EQ(recorded[5], bindings[5].get());
}

TEST_F(ContextTest, SecondProfileReadsAndWritesItsOwnBlock) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  ASSERT_TRUE(l->context->setOptimizationProfile(1));
  const int batch = 16;
  ASSERT_TRUE(l->context->setBindingDimensions(3, dims({batch, 4, 8})));
  ASSERT_TRUE(l->context->setBindingDimensions(4, dims({batch, 4, 8})));
  std::vector<float> in0(batch * 32), in1(batch * 32);
  for (int i = 0; i < batch * 32; ++i) {
    in0[i] = static_cast<float>(i % 5);
    in1[i] = static_cast<float>(i % 3);
  }
  const std::vector<float> out = run_floats(*l, {{3, in0}, {4, in1}}, 5, batch * 32);
  for (int i = 0; i < batch * 32; ++i) ASSERT_EQ(out[i], 2.0f * std::max(i % 5, i % 3) + 1.0f) << i;
}

}  // namespace
}  // namespace trt_test
