// What libnvinfer reads from the environment when it loads; CTest runs each case with its variables.
#include <NvInfer.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class CountingLogger : public nvinfer1::ILogger {
 public:
  void log(Severity severity, const char* msg) noexcept override {
    if (severity == Severity::kERROR) errors.push_back(msg);
  }
  std::vector<std::string> errors;
};

void release(nvinfer1::IRuntime* runtime) {
#if NV_TENSORRT_MAJOR >= 8
  delete runtime;
#else
  if (runtime != nullptr) runtime->destroy();
#endif
}

// Run with TRT_STANDIN_FAIL=createInferRuntime:1,createInferRuntime:3.
TEST(EnvironmentFailures, AreScheduledAtLoad) {
  ASSERT_NE(std::getenv("TRT_STANDIN_FAIL"), nullptr) << "run through CTest";
  CountingLogger logger;
  std::vector<bool> created;
  for (int i = 0; i < 4; ++i) {
    nvinfer1::IRuntime* runtime = nvinfer1::createInferRuntime(logger);
    created.push_back(runtime != nullptr);
    release(runtime);
  }
  EXPECT_EQ(created, (std::vector<bool>{false, true, false, true}));
  EXPECT_EQ(logger.errors, (std::vector<std::string>(2, "createInferRuntime: injected failure")));
  EXPECT_EQ(trt_standin_count("createInferRuntime"), 4);
}

// Run by CTest with TRT_STANDIN_STRICT=1, and with a malformed value (strict mode stays off).
TEST(EnvironmentStrict, IsReadAtLoadAndAgainByEveryReset) {
  const char* value = std::getenv("TRT_STANDIN_STRICT");
  ASSERT_NE(value, nullptr) << "run through CTest";
  const int expected = std::string(value) == "1" ? 1 : 0;
  EXPECT_EQ(trt_standin_strict(), expected);
  trt_standin_set_strict(1 - expected);
  EXPECT_EQ(trt_standin_strict(), 1 - expected);
  trt_standin_reset();
  EXPECT_EQ(trt_standin_strict(), expected);
}

// Run by CTest with TRT_STANDIN_ENQUEUE_SCRATCH=1, and with a malformed value (the option stays off).
TEST(EnvironmentEnqueueScratch, IsReadAtLoadAndAgainByEveryReset) {
  const char* value = std::getenv("TRT_STANDIN_ENQUEUE_SCRATCH");
  ASSERT_NE(value, nullptr) << "run through CTest";
  const int expected = std::string(value) == "1" ? 1 : 0;
  EXPECT_EQ(trt_standin_enqueue_scratch(), expected);
  trt_standin_set_enqueue_scratch(1 - expected);
  EXPECT_EQ(trt_standin_enqueue_scratch(), 1 - expected);
  trt_standin_reset();
  EXPECT_EQ(trt_standin_enqueue_scratch(), expected);
}

}  // namespace
