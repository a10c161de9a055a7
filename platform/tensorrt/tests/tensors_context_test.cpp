// IExecutionContext of the named-tensor generation: shapes, addresses and profile switches by name,
// what the context reports about them, failure injection and the records of the control interface.
#include <cstdint>
#include <functional>
#include <sstream>

#include "test_support.h"

namespace trt_test {
namespace {

class ContextTest : public TrtTest {};

TEST_F(ContextTest, SetInputShapeRefusesWhatTheProfileDoesNotAllowAndKeepsTheShape) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  ASSERT_TRUE(c.setInputShape("in0", dims({3, 340})));
  nvinfer1::Dims huge = dims({1, 340});
  huge.d[0] = int64_t{1} << 40;  // would be 0 if cut to 32 bits
  const std::vector<std::pair<const char*, nvinfer1::Dims>> refused = {
      {"nothing", dims({3, 340})},    {"out0", dims({3, 338})},
      {nullptr, dims({3, 340})},      {"in0", dims({3})},
      {"in0", dims({3, 340, 1})},     {"in0", dims({0, 340})},
      {"in0", dims({11, 340})},       {"in0", dims({3, 341})},
      {"in0", dims({-1, 340})},       {"in0", huge},
      {"in0", nvinfer1::Dims{-1, {}}}};
  const std::vector<std::string> expected = {
      "setInputShape: tensor 'nothing' is not an input tensor of the engine",
      "setInputShape: tensor 'out0' is not an input tensor of the engine",
      "setInputShape: tensor (null) is not an input tensor of the engine",
      "setInputShape: tensor 'in0': rank 1 given, the input has rank 2",
      "setInputShape: tensor 'in0': rank 3 given, the input has rank 2",
      "setInputShape: tensor 'in0': [0, 340] is outside the range of optimization profile 0: [1, 340] to "
      "[10, 340]",
      "setInputShape: tensor 'in0': [11, 340] is outside the range of optimization profile 0: [1, 340] to "
      "[10, 340]",
      "setInputShape: tensor 'in0': [3, 341] is outside the range of optimization profile 0: [1, 340] to "
      "[10, 340]",
      "setInputShape: tensor 'in0': [-1, 340] is outside the range of optimization profile 0: [1, 340] to "
      "[10, 340]",
      "setInputShape: tensor 'in0': [1099511627776, 340] is outside the range of optimization profile 0: "
      "[1, 340] to [10, 340]",
      "setInputShape: tensor 'in0': rank -1 given, the input has rank 2"};
  for (std::size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(expected[i]);
    l->logger.lines.clear();
    EXPECT_FALSE(c.setInputShape(refused[i].first, refused[i].second));
    EXPECT_EQ(l->logger.only_error(), expected[i]);
    EXPECT_EQ(extents(c.getTensorShape("in0")), (std::vector<int32_t>{3, 340}))
        << "a refusal changes nothing";
  }
  EXPECT_EQ(trt_standin_count("setInputShape"), static_cast<long>(refused.size()) + 1);
}

TEST_F(ContextTest, CompletenessAgreesWithSetInputShapeAndInferShapes) {
  auto l = load(sample_engine("mixed_rank"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  const char* names[4] = {};
  EXPECT_FALSE(c.allInputDimensionsSpecified());
  EXPECT_EQ(c.inferShapes(0, nullptr), 2);
  EXPECT_EQ(c.inferShapes(4, names), 2);
  EXPECT_STREQ(names[0], "in0");
  EXPECT_STREQ(names[1], "in1");
  // Unset inputs and the outputs they decide answer -1 where dynamic.
  EXPECT_EQ(extents(c.getTensorShape("in1")), (std::vector<int32_t>{-1, 4, 8}));
  EXPECT_EQ(extents(c.getTensorShape("out1")), (std::vector<int32_t>{-1, 4, 8}));

  ASSERT_TRUE(c.setInputShape("in1", dims({5, 4, 8})));
  EXPECT_FALSE(c.allInputDimensionsSpecified());
  names[0] = nullptr;
  EXPECT_EQ(c.inferShapes(1, names), 1);
  EXPECT_STREQ(names[0], "in0");
  EXPECT_EQ(extents(c.getTensorShape("out1")), (std::vector<int32_t>{-1, 4, 8})) << "in0 is still unset";

  ASSERT_TRUE(c.setInputShape("in0", dims({2, 8})));
  EXPECT_TRUE(c.allInputDimensionsSpecified());
  EXPECT_EQ(c.inferShapes(0, nullptr), 0);
  EXPECT_EQ(extents(c.getTensorShape("out0")), (std::vector<int32_t>{2, 8}));
  EXPECT_EQ(extents(c.getTensorShape("out1")), (std::vector<int32_t>{5, 4, 8}));
  EXPECT_EQ(c.getTensorShape("larger").nbDims, -1);
  EXPECT_EQ(c.getTensorShape(nullptr).nbDims, -1);

  EXPECT_EQ(c.inferShapes(2, nullptr), -1);
  EXPECT_EQ(l->logger.only_error(), "inferShapes: nbMaxNames 2 with a null name array");
  EXPECT_EQ(trt_standin_count("allInputDimensionsSpecified"), 3);
  EXPECT_EQ(trt_standin_count("getTensorShape"), 7);

  // An engine whose profile pins every input is complete from the start.
  auto s = load(sample_engine("static_batch"));
  ASSERT_TRUE(s->context);
  EXPECT_TRUE(s->context->allInputDimensionsSpecified());
  EXPECT_EQ(s->context->inferShapes(0, nullptr), 0);
  EXPECT_EQ(extents(s->context->getTensorShape("out0")), (std::vector<int32_t>{4, 8}));
}

TEST_F(ContextTest, AProfileSwitchDropsShapesAndAddressesAndUsesTheNewRange) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  Stream stream;
  TensorBuffers buffers(*l->engine, 16 * 4 * 8 * 4);
  EXPECT_FALSE(c.setInputShape("in0", dims({16, 4, 8}))) << "profile 0 allows batch 1..4";
  ASSERT_TRUE(c.setInputShape("in0", dims({4, 4, 8})));
  ASSERT_TRUE(c.setInputShape("in1", dims({4, 4, 8})));
  ASSERT_TRUE(buffers.bind(c));

  for (int32_t profile : {1, 1, 0}) {  // a switch to the profile already selected counts too
    SCOPED_TRACE(profile);
    ASSERT_TRUE(c.setOptimizationProfileAsync(profile, stream.get()));
    EXPECT_EQ(c.getOptimizationProfile(), profile);
    EXPECT_FALSE(c.allInputDimensionsSpecified());
    EXPECT_EQ(c.inferShapes(0, nullptr), 2);
    EXPECT_EQ(extents(c.getTensorShape("in0")), (std::vector<int32_t>{-1, 4, 8}));
    for (const std::string& name : buffers.names) {
      EXPECT_EQ(c.getTensorAddress(name.c_str()), nullptr) << name;
    }
    ASSERT_TRUE(c.setInputShape("in0", dims({profile == 1 ? 16 : 4, 4, 8})));
    ASSERT_TRUE(c.setInputShape("in1", dims({1, 4, 8})));
    ASSERT_TRUE(buffers.bind(c));
  }
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);

  // A refused switch changes nothing.
  l->logger.lines.clear();
  EXPECT_FALSE(c.setOptimizationProfileAsync(2, stream.get()));
  EXPECT_EQ(l->logger.only_error(), "setOptimizationProfileAsync: profile index 2 is out of range [0, 2)");
  EXPECT_FALSE(c.setOptimizationProfileAsync(-1, stream.get()));
  EXPECT_EQ(c.getOptimizationProfile(), 0);
  EXPECT_TRUE(c.allInputDimensionsSpecified());
  EXPECT_EQ(c.getTensorAddress("out0"), buffers["out0"].get());
  EXPECT_EQ(trt_standin_count("setOptimizationProfileAsync"), 5);
}

TEST_F(ContextTest, PinnedExtentsStayCompleteAcrossASwitch) {
  auto l = load(engine_from_json(R"({"name": "pinned",
      "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 4]}],
      "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 4]}],
      "layers": [{"op": "relu", "inputs": ["x"], "output": "y"}],
      "profiles": [{"x": {"min": [1, 4], "opt": [2, 4], "max": [8, 4]}},
                   {"x": {"min": [3, 4], "opt": [3, 4], "max": [3, 4]}}]})"));
  ASSERT_TRUE(l->context);
  Stream stream;
  EXPECT_FALSE(l->context->allInputDimensionsSpecified());
  ASSERT_TRUE(l->context->setOptimizationProfileAsync(1, stream.get()));
  EXPECT_TRUE(l->context->allInputDimensionsSpecified()) << "profile 1 pins x to [3, 4]";
  EXPECT_EQ(extents(l->context->getTensorShape("x")), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(extents(l->context->getTensorShape("y")), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(extents(l->engine->getTensorShape("x")), (std::vector<int32_t>{-1, 4})) << "the engine's shape";
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
}

TEST_F(ContextTest, AddressesAreCheckedByNameKindAndAlignment) {
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  DeviceBuffer buffer(4096);
  auto* base = static_cast<unsigned char*>(buffer.get());
  struct Refusal {
    std::function<bool()> call;
    std::string error;
  };
  std::ostringstream misaligned;
  misaligned << static_cast<void*>(base + 128);
  const std::vector<Refusal> refusals = {
      {[&] { return c.setTensorAddress("sum", base); },
       "setTensorAddress: tensor 'sum' is not an input or output tensor of the engine"},
      {[&] { return c.setTensorAddress(nullptr, base); },
       "setTensorAddress: tensor (null) is not an input or output tensor of the engine"},
      {[&] { return c.setTensorAddress("in0", base + 128); },
       "setTensorAddress: tensor 'in0': address " + misaligned.str() + " is not aligned to 256 bytes"},
      {[&] { return c.setInputTensorAddress("out0", base); },
       "setInputTensorAddress: tensor 'out0' is not an input tensor of the engine"},
      {[&] { return c.setOutputTensorAddress("in1", base); },
       "setOutputTensorAddress: tensor 'in1' is not an output tensor of the engine"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.error);
    l->logger.lines.clear();
    EXPECT_FALSE(r.call());
    EXPECT_EQ(l->logger.only_error(), r.error);
  }
  EXPECT_EQ(c.getTensorAddress("in0"), nullptr);
  ASSERT_TRUE(c.setTensorAddress("in0", base + 256));
  ASSERT_TRUE(c.setInputTensorAddress("in1", base + 512));
  ASSERT_TRUE(c.setOutputTensorAddress("out0", base + 1024));
  EXPECT_EQ(c.getTensorAddress("in0"), base + 256);
  EXPECT_EQ(c.getTensorAddress("in1"), base + 512);
  EXPECT_EQ(c.getOutputTensorAddress("out0"), base + 1024);
  EXPECT_EQ(c.getOutputTensorAddress("in0"), nullptr) << "not an output";
  EXPECT_EQ(c.getTensorAddress("nothing"), nullptr);
  ASSERT_TRUE(c.setTensorAddress("in0", nullptr));
  EXPECT_EQ(c.getTensorAddress("in0"), nullptr);

  EXPECT_TRUE(c.setInputConsumedEvent(nullptr));
  EXPECT_EQ(c.getInputConsumedEvent(), nullptr);
  l->logger.lines.clear();
  EXPECT_FALSE(c.setInputConsumedEvent(reinterpret_cast<cudaEvent_t>(base)));
  EXPECT_EQ(l->logger.only_error(), "setInputConsumedEvent: input-consumed events are not supported");
  EXPECT_EQ(trt_standin_count("setTensorAddress"), 5);
}

TEST_F(ContextTest, InjectedFailuresHitTheChosenCallOnly) {
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  Stream stream;
  TensorBuffers buffers(*l->engine, 4 * 4 * 8 * 4);

  trt_standin_fail("setOptimizationProfileAsync", 1);
  EXPECT_FALSE(c.setOptimizationProfileAsync(0, stream.get()));
  EXPECT_EQ(l->logger.lines.back().second, "setOptimizationProfileAsync: injected failure");
  trt_standin_fail("setInputShape", 1);
  EXPECT_FALSE(c.setInputShape("in0", dims({2, 4, 8})));
  EXPECT_EQ(l->logger.lines.back().second, "setInputShape: tensor 'in0': injected failure");
  EXPECT_EQ(extents(c.getTensorShape("in0")), (std::vector<int32_t>{-1, 4, 8}));
  ASSERT_TRUE(c.setInputShape("in0", dims({2, 4, 8})));
  ASSERT_TRUE(c.setInputShape("in1", dims({2, 4, 8})));
  trt_standin_fail("allInputDimensionsSpecified", 1);
  EXPECT_FALSE(c.allInputDimensionsSpecified());
  EXPECT_TRUE(c.allInputDimensionsSpecified());
  trt_standin_fail("inferShapes", 1);
  EXPECT_EQ(c.inferShapes(0, nullptr), -1);
  EXPECT_EQ(c.inferShapes(0, nullptr), 0);
  trt_standin_fail("getTensorShape", 1);
  EXPECT_EQ(c.getTensorShape("in0").nbDims, -1);
  EXPECT_EQ(extents(c.getTensorShape("in0")), (std::vector<int32_t>{2, 4, 8}));
  trt_standin_fail("setTensorAddress", 2);
  EXPECT_FALSE(buffers.bind(c)) << "the second address fails";
  EXPECT_EQ(c.getTensorAddress("in1"), nullptr);
  EXPECT_EQ(l->logger.lines.back().second, "setTensorAddress: tensor 'in1': injected failure");
  ASSERT_TRUE(buffers.bind(c));
  trt_standin_fail("enqueueV3", 1);
  EXPECT_FALSE(c.enqueueV3(stream.get()));
  EXPECT_EQ(l->logger.lines.back().second, "enqueueV3: injected failure");
  EXPECT_TRUE(c.enqueueV3(stream.get()));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(l->logger.count(Severity::kERROR), 5);
  EXPECT_EQ(trt_standin_count("enqueueV3"), 2);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
  EXPECT_EQ(trt_standin_count("setTensorAddress"), 5);

  // A reset drops pending failures and counters but not the live objects.
  trt_standin_fail("enqueueV3", 1);
  trt_standin_reset();
  EXPECT_EQ(trt_standin_count("enqueueV3"), 0);
  EXPECT_EQ(trt_standin_count("live_contexts"), 1);
  EXPECT_TRUE(c.enqueueV3(stream.get()));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
}

TEST_F(ContextTest, RecordsUseTheBindingNumberingOfTheOlderInterface) {
  // Binding p * N + i is I/O tensor i under profile p (N = 3 here), as a TensorRT 8 engine numbers them.
  auto l = load(sample_engine("two_profiles"));
  ASSERT_TRUE(l->context);
  nvinfer1::IExecutionContext& c = *l->context;
  Stream stream;
  int nb = 0;
  int d8[8] = {};
  EXPECT_FALSE(c.setInputShape("in1", dims({7, 4, 8})));  // refused shapes are recorded too
  ASSERT_EQ(trt_standin_last_dims(1, &nb, d8), 0);
  EXPECT_EQ(nb, 3);
  EXPECT_EQ(d8[0], 7);
  ASSERT_TRUE(c.setOptimizationProfileAsync(1, stream.get()));
  ASSERT_TRUE(c.setInputShape("in0", dims({9, 4, 8})));
  ASSERT_TRUE(c.setInputShape("in1", dims({9, 4, 8})));
  EXPECT_EQ(trt_standin_last_dims(0, &nb, d8), -1) << "nothing was set under profile 0 for in0";
  ASSERT_EQ(trt_standin_last_dims(3, &nb, d8), 0);
  EXPECT_EQ(d8[0], 9);
  EXPECT_EQ(trt_standin_last_dims(5, &nb, d8), -1) << "out0 is no input";

  TensorBuffers buffers(*l->engine, 9 * 4 * 8 * 4);
  ASSERT_TRUE(buffers.bind(c));
  ASSERT_TRUE(c.enqueueV3(stream.get()));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  void* recorded[8] = {};
  ASSERT_EQ(trt_standin_last_bindings(recorded, 8), 6);
  EXPECT_EQ(recorded[0], nullptr);
  EXPECT_EQ(recorded[2], nullptr);
  EXPECT_EQ(recorded[3], buffers["in0"].get());
  EXPECT_EQ(recorded[4], buffers["in1"].get());
  EXPECT_EQ(recorded[5], buffers["out0"].get());
}

}  // namespace
}  // namespace trt_test
