// Runtime creation and deserialization: refusals through the logger, never a crash.
#include "test_support.h"

namespace trt_test {
namespace {

constexpr int kOtherMajor = NV_TENSORRT_MAJOR == 8 ? 7 : 8;

class DeserializeTest : public TrtTest {
 protected:
  nvinfer1::ICudaEngine* deserialize(const std::vector<unsigned char>& bytes) {
    return runtime_->deserializeCudaEngine(bytes.data(), bytes.size());
  }
  void SetUp() override {
    TrtTest::SetUp();
    runtime_.reset(nvinfer1::createInferRuntime(logger_));
    ASSERT_TRUE(runtime_);
  }

  RecordingLogger logger_;
  TrtPtr<nvinfer1::IRuntime> runtime_;
};

TEST_F(DeserializeTest, EngineOfTheOtherMajorIsRefused) {
  const auto bytes = sample_engine("smoke", kOtherMajor);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(deserialize(bytes), nullptr);
  const std::string expected = "deserializeCudaEngine: the engine was built for TensorRT " +
                               std::to_string(kOtherMajor) + ", this runtime is TensorRT " +
                               std::to_string(NV_TENSORRT_MAJOR) + "; rebuild the engine";
  EXPECT_EQ(logger_.only_error(), expected);
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
}

TEST_F(DeserializeTest, EmptyAndForeignBytesAreRefused) {
  EXPECT_EQ(runtime_->deserializeCudaEngine(nullptr, 0), nullptr);
  EXPECT_EQ(logger_.only_error(), "deserializeCudaEngine: empty engine buffer");
  logger_.lines.clear();
  const std::string text = "this is not an engine at all, only some text";
  EXPECT_EQ(runtime_->deserializeCudaEngine(text.data(), text.size()), nullptr);
  EXPECT_EQ(logger_.only_error(), "deserializeCudaEngine: magic tag does not match: not an engine file");
}

TEST_F(DeserializeTest, EveryTruncationIsRefused) {
  const auto bytes = sample_engine("two_profiles");
  for (std::size_t n = 1; n < bytes.size(); ++n) {
    // An exact-size copy, so that a read past the end would land outside the allocation.
    const std::vector<unsigned char> prefix(bytes.begin(), bytes.begin() + n);
    ASSERT_EQ(deserialize(prefix), nullptr) << n << " bytes";
  }
  EXPECT_EQ(logger_.count(Severity::kERROR), static_cast<int>(bytes.size()) - 1);
  EXPECT_EQ(logger_.lines.back().second.rfind("deserializeCudaEngine: truncated engine:", 0), 0u)
      << logger_.lines.back().second;
}

TEST_F(DeserializeTest, EveryCorruptedByteIsRefused) {
  const auto bytes = sample_engine("mixed_rank");
  int refused = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::vector<unsigned char> corrupt(bytes);
    corrupt[i] ^= 0x5A;
    TrtPtr<nvinfer1::ICudaEngine> engine(deserialize(corrupt));
    refused += engine == nullptr;
  }
  // Header fields are each checked and the payload is covered by the checksum: no byte is spare.
  EXPECT_EQ(refused, static_cast<int>(bytes.size()));
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
}

TEST_F(DeserializeTest, EnginesOfAnEarlierFormatVersionAreRefused) {
  // Version 1 had neither formats nor locations; its files must be rebuilt.
  auto bytes = sample_engine("smoke");
  ASSERT_GT(bytes.size(), 12u);
  bytes[8] = 1;
  EXPECT_EQ(deserialize(bytes), nullptr);
  EXPECT_EQ(logger_.only_error(),
            "deserializeCudaEngine: engine format version 1 is not supported (expected 2)");
}

#if NV_TENSORRT_MAJOR < 10
// Bytes that claim version compatibility for a major that has none are refused by name.
TEST_F(DeserializeTest, AVersionCompatibleEngineOfAnEarlierMajorIsRefused) {
  const auto bytes = engine_from_json(R"({"name": "vc", "version_compatible": true,
      "inputs": [{"name": "in0", "dtype": "float", "dims": [-1, 4]}],
      "outputs": [{"name": "out0", "dtype": "float", "dims": [-1, 4]}],
      "layers": [{"op": "relu", "inputs": ["in0"], "output": "out0"}],
      "profiles": [{"in0": {"min": [1, 4], "opt": [1, 4], "max": [2, 4]}}]})");
  EXPECT_EQ(deserialize(bytes), nullptr);
  EXPECT_EQ(
      logger_.only_error(),
      "deserializeCudaEngine: invalid network in engine: version_compatible: version-compatible engines "
      "do not exist before TensorRT 10");
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
}
#endif

TEST_F(DeserializeTest, PayloadCorruptionIsCaughtByTheChecksum) {
  auto bytes = sample_engine("smoke");
  bytes[bytes.size() / 2] ^= 1;
  EXPECT_EQ(deserialize(bytes), nullptr);
  EXPECT_EQ(logger_.only_error(), "deserializeCudaEngine: checksum mismatch: the engine is corrupt");
}

TEST_F(DeserializeTest, TrailingBytesAreRefused) {
  auto bytes = sample_engine("smoke");
  bytes.push_back(0);
  EXPECT_EQ(deserialize(bytes), nullptr);
  EXPECT_NE(logger_.only_error().find("engine size mismatch"), std::string::npos);
}

TEST_F(DeserializeTest, AValidEngineLoadsWithoutErrors) {
  TrtPtr<nvinfer1::ICudaEngine> engine(deserialize(sample_engine("mlp")));
  ASSERT_TRUE(engine);
  EXPECT_STREQ(engine->getName(), "mlp");
  EXPECT_EQ(logger_.count(Severity::kERROR), 0);
  EXPECT_EQ(logger_.count(Severity::kWARNING), 0);
  EXPECT_EQ(logger_.count(Severity::kINFO), 0) << "the stand-in is quiet above kVERBOSE";
}

class RuntimeTest : public TrtTest {};

TEST_F(RuntimeTest, CreationRefusesAnotherMajor) {
  RecordingLogger logger;
  EXPECT_EQ(createInferRuntime_INTERNAL(&logger, kOtherMajor * 1000 + 1), nullptr);
  EXPECT_NE(logger.only_error().find("createInferRuntime: the application was built for TensorRT version"),
            std::string::npos);
  EXPECT_EQ(trt_standin_count("live_runtimes"), 0);
  EXPECT_EQ(getInferLibVersion(), NV_TENSORRT_VERSION);
}

TEST_F(RuntimeTest, PluginsInitialiseAndAreCounted) {
  RecordingLogger logger;
  EXPECT_TRUE(initLibNvInferPlugins(&logger, ""));
  EXPECT_TRUE(initLibNvInferPlugins(nullptr, nullptr));
  EXPECT_EQ(trt_standin_count("initLibNvInferPlugins"), 2);
  EXPECT_EQ(logger.count(Severity::kERROR) + logger.count(Severity::kWARNING) + logger.count(Severity::kINFO),
            0);
}

#if NV_TENSORRT_MAJOR < 10  // tensors_context_test.cpp has the named-tensor counterpart
TEST_F(RuntimeTest, InjectedFailuresHitTheChosenCallOnly) {
  RecordingLogger logger;
  trt_standin_fail("createInferRuntime", 2);
  TrtPtr<nvinfer1::IRuntime> first(nvinfer1::createInferRuntime(logger));
  EXPECT_TRUE(first);
  EXPECT_FALSE(TrtPtr<nvinfer1::IRuntime>(nvinfer1::createInferRuntime(logger)));
  EXPECT_EQ(logger.only_error(), "createInferRuntime: injected failure");
  EXPECT_TRUE(TrtPtr<nvinfer1::IRuntime>(nvinfer1::createInferRuntime(logger)));
  EXPECT_EQ(trt_standin_count("createInferRuntime"), 3);

  const auto bytes = sample_engine("smoke");
  trt_standin_fail("deserializeCudaEngine", 1);
  EXPECT_EQ(first->deserializeCudaEngine(bytes.data(), bytes.size()), nullptr);
  TrtPtr<nvinfer1::ICudaEngine> engine(first->deserializeCudaEngine(bytes.data(), bytes.size()));
  ASSERT_TRUE(engine);

  trt_standin_fail("createExecutionContext", 1);
  EXPECT_EQ(engine->createExecutionContext(), nullptr);
  TrtPtr<nvinfer1::IExecutionContext> context(engine->createExecutionContext());
  ASSERT_TRUE(context);
  EXPECT_EQ(context->getOptimizationProfile(), 0) << "a failed creation does not count as the first context";

  trt_standin_fail("setBindingDimensions", 1);
  EXPECT_FALSE(context->setBindingDimensions(0, dims({1, 340})));
  EXPECT_EQ(logger.lines.back().second, "setBindingDimensions: binding 0: injected failure");
  EXPECT_TRUE(context->setBindingDimensions(0, dims({1, 340})));
  EXPECT_TRUE(context->setBindingDimensions(1, dims({1, 340})));

  Bindings bindings(*engine, 340 * 4);
  Stream stream;
  trt_standin_fail("enqueueV2", 1);
  EXPECT_FALSE(context->enqueueV2(bindings.data(), stream.get(), nullptr));
  EXPECT_EQ(logger.count(Severity::kERROR), 3);
  EXPECT_EQ(logger.lines.back().second, "enqueueV2: injected failure");
  EXPECT_TRUE(context->enqueueV2(bindings.data(), stream.get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("enqueueV2"), 2);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);

  // A reset drops pending failures and counters but not the live objects.
  trt_standin_fail("enqueueV2", 1);
  trt_standin_reset();
  EXPECT_EQ(trt_standin_count("enqueueV2"), 0);
  EXPECT_EQ(trt_standin_last_bindings(nullptr, 0), 0);
  EXPECT_EQ(trt_standin_count("live_contexts"), 1);
  EXPECT_TRUE(context->enqueueV2(bindings.data(), stream.get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
}
#endif

}  // namespace
}  // namespace trt_test
