// What an engine reports: bindings and their names across profiles, dimensions, out-of-range answers.
#include "test_support.h"

namespace trt_test {
namespace {

class EngineTest : public TrtTest {};

TEST_F(EngineTest, TwoProfilesGiveTwoBlocksOfBindings) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->engine);
  const nvinfer1::ICudaEngine& e = *l->engine;
  EXPECT_STREQ(e.getName(), "two_profiles");
  EXPECT_EQ(e.getNbOptimizationProfiles(), 2);
  ASSERT_EQ(e.getNbBindings(), 6);
  const char* names[] = {"in0", "in1", "out0", "in0 [profile 1]", "in1 [profile 1]", "out0 [profile 1]"};
  const bool inputs[] = {true, true, false, true, true, false};
  for (int32_t b = 0; b < 6; ++b) {
    SCOPED_TRACE(b);
    EXPECT_STREQ(e.getBindingName(b), names[b]);
    EXPECT_EQ(e.bindingIsInput(b), inputs[b]);
    EXPECT_EQ(e.getBindingIndex(names[b]), b);
    EXPECT_EQ(e.getBindingDataType(b), nvinfer1::DataType::kFLOAT);
    EXPECT_EQ(extents(e.getBindingDimensions(b)), (std::vector<int32_t>{-1, 4, 8}));
  }
  EXPECT_EQ(extents(e.getProfileDimensions(0, 0, nvinfer1::OptProfileSelector::kMAX)),
            (std::vector<int32_t>{4, 4, 8}));
  EXPECT_EQ(extents(e.getProfileDimensions(0, 1, nvinfer1::OptProfileSelector::kOPT)),
            (std::vector<int32_t>{8, 4, 8}));
  EXPECT_EQ(extents(e.getProfileDimensions(4, 1, nvinfer1::OptProfileSelector::kMAX)),
            (std::vector<int32_t>{16, 4, 8}));
  EXPECT_EQ(extents(e.getProfileDimensions(4, 1, nvinfer1::OptProfileSelector::kMIN)),
            (std::vector<int32_t>{1, 4, 8}));
}

TEST_F(EngineTest, DescriptionOfTheSmokeEngine) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->engine);
  EXPECT_STREQ(l->engine->getName(), "smoke");
  EXPECT_EQ(l->engine->getMaxBatchSize(), 1);
  EXPECT_FALSE(l->engine->isRefittable());
  EXPECT_EQ(l->engine->getNbBindings(), 3);
  EXPECT_EQ(extents(l->engine->getBindingDimensions(0)), (std::vector<int32_t>{-1, 340}));
  EXPECT_EQ(extents(l->engine->getBindingDimensions(2)), (std::vector<int32_t>{-1, 338}));
}

TEST_F(EngineTest, FixedExtentsAndFlagsComeFromTheDescription) {
  // A profile that pins the batch reports it instead of -1; max batch size and refittable carry over.
  auto l = load(engine_from_json(R"({"name": "pinned", "max_batch_size": 5, "refittable": true,
      "inputs": [{"name": "x", "dtype": "int32", "dims": [-1, 3]}],
      "outputs": [{"name": "y", "dtype": "int32", "dims": [-1, 3]}],
      "layers": [{"op": "identity", "inputs": ["x"], "output": "y"}],
      "profiles": [{"x": {"min": [2, 3], "opt": [2, 3], "max": [2, 3]}},
                   {"x": {"min": [1, 3], "opt": [2, 3], "max": [3, 3]}}]})"));
  ASSERT_TRUE(l->engine);
  EXPECT_EQ(l->engine->getMaxBatchSize(), 5);
  EXPECT_TRUE(l->engine->isRefittable());
  EXPECT_EQ(l->engine->getBindingDataType(1), nvinfer1::DataType::kINT32);
  EXPECT_EQ(extents(l->engine->getBindingDimensions(1)), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(extents(l->engine->getBindingDimensions(3)), (std::vector<int32_t>{-1, 3}));
}

TEST_F(EngineTest, OutOfRangeQueriesAnswerLikeTheRealRuntime) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->engine);
  const nvinfer1::ICudaEngine& e = *l->engine;
  for (int32_t b : {-1, 6, 1000}) {
    SCOPED_TRACE(b);
    EXPECT_EQ(e.getBindingName(b), nullptr);
    EXPECT_FALSE(e.bindingIsInput(b));
    EXPECT_EQ(e.getBindingDimensions(b).nbDims, 0);
  }
  EXPECT_EQ(e.getBindingIndex("nope"), -1);
  EXPECT_EQ(e.getBindingIndex("in0 [profile 2]"), -1);
  EXPECT_EQ(e.getBindingIndex(nullptr), -1);
  // Profile dimensions exist only for inputs, for a profile that exists, from that profile's block.
  EXPECT_EQ(e.getProfileDimensions(2, 0, nvinfer1::OptProfileSelector::kMIN).nbDims, -1);  // an output
  EXPECT_EQ(e.getProfileDimensions(0, 2, nvinfer1::OptProfileSelector::kMIN).nbDims, -1);
  EXPECT_EQ(e.getProfileDimensions(3, 0, nvinfer1::OptProfileSelector::kMIN).nbDims, -1);  // profile 1's
  EXPECT_EQ(e.getProfileDimensions(6, 1, nvinfer1::OptProfileSelector::kMIN).nbDims, -1);
}

TEST_F(EngineTest, EngineOutlivesItsRuntimeAndCountsAreLive) {
  RecordingLogger logger;
  TrtPtr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger));
  ASSERT_TRUE(runtime);
  const auto bytes = sample_engine("smoke");
  TrtPtr<nvinfer1::ICudaEngine> engine(runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
  ASSERT_TRUE(engine);
  runtime.reset();
  EXPECT_EQ(trt_standin_count("live_runtimes"), 0);
  EXPECT_EQ(trt_standin_count("live_engines"), 1);
  TrtPtr<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
  ASSERT_TRUE(context);
  EXPECT_EQ(&context->getEngine(), engine.get());
  EXPECT_EQ(trt_standin_count("live_contexts"), 1);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 1u);
  context.reset();
  engine.reset();
  EXPECT_EQ(trt_standin_count("live_contexts"), 0);
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
  EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u) << "staging memory not released";
  EXPECT_EQ(logger.count(Severity::kERROR), 0);
}

}  // namespace
}  // namespace trt_test
