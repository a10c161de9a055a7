// ICudaEngine of the named-tensor generation: one name per I/O tensor, per-profile shapes by index.
#include "test_support.h"

namespace trt_test {
namespace {

using nvinfer1::OptProfileSelector;
using nvinfer1::TensorIOMode;

class EngineTest : public TrtTest {};

TEST_F(EngineTest, TensorsAreNamedOnceWhateverTheNumberOfProfiles) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->engine);
  const nvinfer1::ICudaEngine& e = *l->engine;
  EXPECT_STREQ(e.getName(), "two_profiles");
  EXPECT_FALSE(e.isRefittable());
  EXPECT_EQ(e.getNbOptimizationProfiles(), 2);
  ASSERT_EQ(e.getNbIOTensors(), 3);
  EXPECT_STREQ(e.getIOTensorName(0), "in0");
  EXPECT_STREQ(e.getIOTensorName(1), "in1");
  EXPECT_STREQ(e.getIOTensorName(2), "out0");
  EXPECT_EQ(e.getIOTensorName(3), nullptr);
  EXPECT_EQ(e.getIOTensorName(-1), nullptr);
  EXPECT_EQ(e.getTensorIOMode("in1"), TensorIOMode::kINPUT);
  EXPECT_EQ(e.getTensorIOMode("out0"), TensorIOMode::kOUTPUT);
  EXPECT_EQ(e.getTensorIOMode("out0 [profile 1]"), TensorIOMode::kNONE) << "no per-profile names";
  EXPECT_EQ(e.getTensorIOMode("larger"), TensorIOMode::kNONE) << "a tensor between layers is no I/O tensor";
  EXPECT_EQ(e.getTensorIOMode(nullptr), TensorIOMode::kNONE);
  EXPECT_EQ(e.getTensorDataType("out0"), nvinfer1::DataType::kFLOAT);
  EXPECT_EQ(e.getTensorLocation("in0"), nvinfer1::TensorLocation::kDEVICE);
  EXPECT_FALSE(e.isShapeInferenceIO("in0"));

  // Build-time shapes with -1 where a profile lets an extent vary, the ranges per profile.
  EXPECT_EQ(extents(e.getTensorShape("in0")), (std::vector<int32_t>{-1, 4, 8}));
  EXPECT_EQ(extents(e.getTensorShape("out0")), (std::vector<int32_t>{-1, 4, 8}));
  EXPECT_EQ(extents(e.getProfileShape("in0", 0, OptProfileSelector::kMAX)), (std::vector<int32_t>{4, 4, 8}));
  EXPECT_EQ(extents(e.getProfileShape("in1", 1, OptProfileSelector::kMIN)), (std::vector<int32_t>{1, 4, 8}));
  EXPECT_EQ(extents(e.getProfileShape("in1", 1, OptProfileSelector::kOPT)), (std::vector<int32_t>{8, 4, 8}));
  EXPECT_EQ(extents(e.getProfileShape("in1", 1, OptProfileSelector::kMAX)), (std::vector<int32_t>{16, 4, 8}));
}

TEST_F(EngineTest, UnknownNamesAndProfilesAnswerWhatTheRealRuntimeAnswers) {
  auto l = load(sample_engine("mixed_rank"));
  ASSERT_TRUE(l->engine);
  const nvinfer1::ICudaEngine& e = *l->engine;
  // Dims{-1, {}}: the invalid form, rank -1 and every extent 0.
  for (const char* name : {"nothing", "", static_cast<const char*>(nullptr)}) {
    const nvinfer1::Dims shape = e.getTensorShape(name);
    EXPECT_EQ(shape.nbDims, -1);
    EXPECT_EQ(shape.d[0], 0);
    EXPECT_EQ(e.getTensorDataType(name), nvinfer1::DataType::kFLOAT);
  }
  EXPECT_EQ(e.getProfileShape("out1", 0, OptProfileSelector::kMIN).nbDims, -1) << "outputs have no range";
  EXPECT_EQ(e.getProfileShape("in0", 1, OptProfileSelector::kMIN).nbDims, -1);
  EXPECT_EQ(e.getProfileShape("in0", -1, OptProfileSelector::kMIN).nbDims, -1);
  EXPECT_EQ(e.getProfileShape("nothing", 0, OptProfileSelector::kMIN).nbDims, -1);
  EXPECT_EQ(extents(e.getTensorShape("out1")), (std::vector<int32_t>{-1, 4, 8}));
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0) << "queries do not log";
}

TEST_F(EngineTest, FixedExtentsAndDataTypesComeFromTheDescription) {
  auto l = load(engine_from_json(R"({"name": "types", "refittable": true,
      "inputs": [{"name": "x", "dtype": "half", "dims": [3, -1]}],
      "outputs": [{"name": "y", "dtype": "half", "dims": [3, -1]}],
      "layers": [{"op": "identity", "inputs": ["x"], "output": "y"}],
      "profiles": [{"x": {"min": [3, 1], "opt": [3, 2], "max": [3, 5]}}]})"));
  ASSERT_TRUE(l->engine);
  EXPECT_TRUE(l->engine->isRefittable());
  EXPECT_EQ(l->engine->getTensorDataType("x"), nvinfer1::DataType::kHALF);
  EXPECT_EQ(extents(l->engine->getTensorShape("y")), (std::vector<int32_t>{3, -1}));
  auto s = load(sample_engine("static_batch"));
  ASSERT_TRUE(s->engine);
  EXPECT_EQ(extents(s->engine->getTensorShape("in0")), (std::vector<int32_t>{4, 8}));
}

TEST_F(EngineTest, EveryContextStartsOnProfileZero) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  EXPECT_EQ(l->context->getOptimizationProfile(), 0);
  TrtPtr<nvinfer1::IExecutionContext> second(l->engine->createExecutionContext());
  ASSERT_TRUE(second);
  EXPECT_EQ(second->getOptimizationProfile(), 0) << "not -1 as 8.x gave later contexts";
  TrtPtr<nvinfer1::IExecutionContext> third(
      l->engine->createExecutionContext(nvinfer1::ExecutionContextAllocationStrategy::kON_PROFILE_CHANGE));
  ASSERT_TRUE(third);
  EXPECT_EQ(&third->getEngine(), l->engine.get());
  EXPECT_EQ(trt_standin_count("live_contexts"), 3);
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0);

  // kUSER_MANAGED starts on profile 0 too; an allocation strategy that is none is refused.
  TrtPtr<nvinfer1::IExecutionContext> fourth(
      l->engine->createExecutionContext(nvinfer1::ExecutionContextAllocationStrategy::kUSER_MANAGED));
  ASSERT_TRUE(fourth);
  EXPECT_EQ(fourth->getOptimizationProfile(), 0);
  EXPECT_EQ(l->engine->createExecutionContext(static_cast<nvinfer1::ExecutionContextAllocationStrategy>(3)),
            nullptr);
  EXPECT_EQ(l->logger.only_error(), "createExecutionContext: unknown allocation strategy 3");
  EXPECT_EQ(trt_standin_count("live_contexts"), 4);
}

TEST_F(EngineTest, EnginesOfEveryOtherMajorAreRefused) {
  for (int major : {7, 8, 10, 11}) {
    if (major == NV_TENSORRT_MAJOR) continue;
    SCOPED_TRACE(major);
    const auto bytes = sample_engine("mlp", major);
    ASSERT_FALSE(bytes.empty());
    auto l = load(bytes);
    ASSERT_TRUE(l->runtime);
    EXPECT_FALSE(l->engine);
    EXPECT_EQ(l->logger.only_error(), "deserializeCudaEngine: the engine was built for TensorRT " +
                                          std::to_string(major) + ", this runtime is TensorRT " +
                                          std::to_string(NV_TENSORRT_MAJOR) + "; rebuild the engine");
  }
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
}

}  // namespace
}  // namespace trt_test
