// Version-compatible engines hold host code: a runtime deserializes them only once
// setEngineHostCodeAllowed(true) was called, and then they run as any other engine.
#include <string>

#include "test_support.h"

namespace trt_test {
namespace {

using HostCodeTest = TrtTest;

TEST_F(HostCodeTest, HostCodeIsRefusedUntilAllowed) {
  RecordingLogger logger;
  TrtPtr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger));
  ASSERT_TRUE(runtime);
  EXPECT_FALSE(runtime->getEngineHostCodeAllowed()) << "the default is false";
  runtime->setEngineHostCodeAllowed(true);
  EXPECT_TRUE(runtime->getEngineHostCodeAllowed());
  runtime->setEngineHostCodeAllowed(false);
  EXPECT_FALSE(runtime->getEngineHostCodeAllowed());
}

struct HostCodeCase {
  const char* engine;
  bool allowed;
  bool loads;
};

// An engine without host code loads either way; the allowance changes nothing else.
constexpr HostCodeCase kHostCodeCases[] = {
    {"version_compatible", false, false},
    {"version_compatible", true, true},
    {"smoke", false, true},
    {"smoke", true, true},
};

TEST_F(HostCodeTest, DeserializationFollowsTheAllowance) {
  for (const HostCodeCase& c : kHostCodeCases) {
    SCOPED_TRACE(std::string(c.engine) + (c.allowed ? " allowed" : " not allowed"));
    RecordingLogger logger;
    TrtPtr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger));
    ASSERT_TRUE(runtime);
    runtime->setEngineHostCodeAllowed(c.allowed);
    const auto bytes = sample_engine(c.engine);
    TrtPtr<nvinfer1::ICudaEngine> engine(runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
    EXPECT_EQ(engine != nullptr, c.loads);
    if (c.loads) {
      EXPECT_EQ(logger.count(Severity::kERROR), 0);
    } else {
      EXPECT_EQ(
          logger.only_error(),
          "deserializeCudaEngine: engine 'version_compatible' is version compatible and holds host "
          "code, which this runtime is not allowed to run: call IRuntime::setEngineHostCodeAllowed(true) "
          "before deserializing it");
      EXPECT_EQ(trt_standin_count("live_engines"), 0);
    }
  }
}

TEST_F(HostCodeTest, AnAllowedVersionCompatibleEngineRuns) {
  Loaded l;
  l.runtime.reset(nvinfer1::createInferRuntime(l.logger));
  ASSERT_TRUE(l.runtime);
  l.runtime->setEngineHostCodeAllowed(true);
  const auto bytes = sample_engine("version_compatible");
  l.engine.reset(l.runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
  ASSERT_TRUE(l.engine);
  l.context.reset(l.engine->createExecutionContext());
  ASSERT_TRUE(l.context);
  ASSERT_TRUE(l.context->setInputShape("in0", dims({2, 4})));
  const std::vector<float> in = {0, 1, 2, 3, -1, -2, 0.5f, 10};
  EXPECT_EQ(run_floats(l, {{"in0", in}}, "out0", 8),
            (std::vector<float>{1, 3, 5, 7, -1, -3, 2, 21}));  // out0 = 2 * in0 + 1
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
}

}  // namespace
}  // namespace trt_test
