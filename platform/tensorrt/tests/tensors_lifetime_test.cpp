// Lifetimes on 10.x and later: engines before their runtime, staging memory with the context.
#include "test_support.h"

namespace trt_test {
namespace {

class LifetimeTest : public TrtTest {};

TEST_F(LifetimeTest, ReleasingInOrderReportsNothing) {
  {
    auto l = load(sample_engine("smoke"));
    ASSERT_TRUE(l->context);
    EXPECT_EQ(cudaemu_live_pinned_allocations(), 1u);
    l->context.reset();
    l->engine.reset();
    l->runtime.reset();
    EXPECT_EQ(l->logger.count(Severity::kERROR), 0);
  }
  EXPECT_EQ(trt_standin_count("runtimes_released_before_engines"), 0);
  EXPECT_EQ(trt_standin_count("live_runtimes") + trt_standin_count("live_engines") +
                trt_standin_count("live_contexts"),
            0);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u) << "staging memory not released";
}

TEST_F(LifetimeTest, ARuntimeReleasedBeforeItsEnginesIsReportedAndTheEnginesRefuseWork) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  const auto mlp = sample_engine("mlp");
  TrtPtr<nvinfer1::ICudaEngine> second(l->runtime->deserializeCudaEngine(mlp.data(), mlp.size()));
  ASSERT_TRUE(second);
  TensorBuffers buffers(*l->engine, 340 * 4);
  Stream stream;
  ASSERT_TRUE(l->context->setInputShape("in0", dims({1, 340})));
  ASSERT_TRUE(l->context->setInputShape("in1", dims({1, 340})));
  ASSERT_TRUE(buffers.bind(*l->context));

  l->runtime.reset();
  EXPECT_EQ(
      l->logger.only_error(),
      "IRuntime released while 2 engine(s) it deserialized are still alive: release every engine before "
      "its runtime");
  EXPECT_EQ(trt_standin_count("runtimes_released_before_engines"), 1);
  EXPECT_EQ(trt_standin_count("live_runtimes"), 0);

  l->logger.lines.clear();
  EXPECT_EQ(second->createExecutionContext(), nullptr);
  EXPECT_EQ(l->logger.only_error(),
            "createExecutionContext: the IRuntime that deserialized this engine has been released; release "
            "engines before their runtime");
  l->logger.lines.clear();
  EXPECT_FALSE(l->context->enqueueV3(stream.get()));
  EXPECT_EQ(l->logger.only_error(),
            "enqueueV3: the IRuntime that deserialized this engine has been released; release engines before "
            "their runtime");
  EXPECT_EQ(cudaemu_call_count("cudaLaunchHostFunc"), 0u);
  EXPECT_STREQ(second->getName(), "mlp") << "queries still answer";

  // The late releases themselves are fine and leave nothing behind.
  l->context.reset();
  l->engine.reset();
  second.reset();
  EXPECT_EQ(trt_standin_count("live_engines") + trt_standin_count("live_contexts"), 0);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u);
  EXPECT_EQ(trt_standin_count("runtimes_released_before_engines"), 1);
}

TEST_F(LifetimeTest, EnginesOfAnotherRuntimeAreUnaffected) {
  RecordingLogger logger;
  TrtPtr<nvinfer1::IRuntime> kept(nvinfer1::createInferRuntime(logger));
  TrtPtr<nvinfer1::IRuntime> released(nvinfer1::createInferRuntime(logger));
  ASSERT_TRUE(kept && released);
  const auto bytes = sample_engine("smoke");
  TrtPtr<nvinfer1::ICudaEngine> engine(kept->deserializeCudaEngine(bytes.data(), bytes.size()));
  ASSERT_TRUE(engine);
  released.reset();  // it made no engine
  TrtPtr<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
  EXPECT_TRUE(context);
  EXPECT_EQ(logger.count(Severity::kERROR), 0);
  EXPECT_EQ(trt_standin_count("runtimes_released_before_engines"), 0);
  context.reset();
  engine.reset();
}

}  // namespace
}  // namespace trt_test
