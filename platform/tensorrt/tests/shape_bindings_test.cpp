// Shape bindings of 7 and 8 (the test network shape_tensor_int32: out0 = reshape(in0, shape), shape an
// int32 shape tensor in host memory; bindings in0 0, shape 1, out0 2): getProfileShapeValues, the values
// given with setInputShapeBinding, the output dimensions they resolve and enqueueV2 without a binding for
// the shape tensor.
#include <string>
#include <vector>

#include "test_support.h"

namespace trt_test {
namespace {

using Selector = nvinfer1::OptProfileSelector;

class ShapeBindingsTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(sample_engine("shape_tensor_int32"));
    ASSERT_TRUE(l_->context);
    ASSERT_TRUE(l_->context->setBindingDimensions(0, dims({2, 6})));
  }
  nvinfer1::IExecutionContext& context() { return *l_->context; }

  std::unique_ptr<Loaded> l_;
};

std::vector<int32_t> values_of(const int32_t* values) {
  return values == nullptr ? std::vector<int32_t>{} : std::vector<int32_t>(values, values + 2);
}

TEST_F(ShapeBindingsTest, TheEngineAnswersTheProfilesValues) {
  const nvinfer1::ICudaEngine& engine = *l_->engine;
  EXPECT_TRUE(engine.isShapeBinding(1));
  EXPECT_FALSE(engine.isExecutionBinding(1)) << "only its values are used";
  EXPECT_TRUE(engine.isExecutionBinding(0));
  EXPECT_EQ(values_of(engine.getProfileShapeValues(0, 1, Selector::kMIN)), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(values_of(engine.getProfileShapeValues(0, 1, Selector::kOPT)), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(values_of(engine.getProfileShapeValues(0, 1, Selector::kMAX)), (std::vector<int32_t>{6, 4}));
  for (int32_t binding : {0, 2, 3, -1})
    EXPECT_EQ(engine.getProfileShapeValues(0, binding, Selector::kMIN), nullptr);
  EXPECT_EQ(engine.getProfileShapeValues(1, 1, Selector::kMIN), nullptr) << "one profile";
  EXPECT_EQ(engine.getProfileShapeValues(-1, 1, Selector::kMIN), nullptr);
}

TEST_F(ShapeBindingsTest, ValuesResolveTheOutputAndAreRefusedWhereTheyDoNotFit) {
  EXPECT_FALSE(context().allInputShapesSpecified());
  EXPECT_EQ(extents(context().getBindingDimensions(2)), (std::vector<int32_t>{-1, -1}));
  int32_t read[2] = {};
  EXPECT_FALSE(context().getShapeBinding(1, read));

  const int32_t wide[2] = {7, 2}, good[2] = {4, 3};
  const std::vector<std::pair<int32_t, const int32_t*>> refused = {
      {0, good}, {2, good}, {1, nullptr}, {1, wide}};
  for (const auto& [binding, data] : refused) EXPECT_FALSE(context().setInputShapeBinding(binding, data));
  std::vector<std::string> lines;
  for (const auto& line : l_->logger.lines) {
    if (line.first == Severity::kERROR) lines.push_back(line.second);
  }
  EXPECT_EQ(lines,
            (std::vector<std::string>{
                "setInputShapeBinding: binding 0 is not an input shape binding of the selected optimization "
                "profile 0",
                "setInputShapeBinding: binding 2 is not an input shape binding of the selected optimization "
                "profile 0",
                "setInputShapeBinding: binding 1: the values are null",
                "setInputShapeBinding: binding 1: the values [7, 2] are outside the optimization profile's "
                "range [2, 3] to [6, 4]"}));
  EXPECT_FALSE(context().allInputShapesSpecified());

  ASSERT_TRUE(context().setInputShapeBinding(1, good));
  EXPECT_TRUE(context().allInputShapesSpecified());
  ASSERT_TRUE(context().getShapeBinding(1, read));
  EXPECT_EQ(std::vector<int32_t>(read, read + 2), (std::vector<int32_t>{4, 3}));
  EXPECT_EQ(extents(context().getBindingDimensions(2)), (std::vector<int32_t>{4, 3}));
}

TEST_F(ShapeBindingsTest, EnqueueNeedsTheValuesNotABinding) {
  Stream stream;
  DeviceBuffer in0(12 * 4), out0(12 * 4);
  std::vector<float> values(12);
  for (int i = 0; i < 12; ++i) values[i] = static_cast<float>(i) * 0.5f - 2;
  in0.upload(values);
  void* bindings[3] = {in0.get(), nullptr, out0.get()};  // the shape binding is no execution binding
  EXPECT_FALSE(context().enqueueV2(bindings, stream.get(), nullptr));
  EXPECT_EQ(
      l_->logger.only_error(),
      "enqueueV2: the values of shape binding 1 (shape) are missing: set them with setInputShapeBinding");

  const int32_t wrong_volume[2] = {2, 4}, good[2] = {3, 4};
  ASSERT_TRUE(context().setInputShapeBinding(1, wrong_volume));
  EXPECT_FALSE(context().enqueueV2(bindings, stream.get(), nullptr));
  EXPECT_EQ(
      l_->logger.lines.back().second,
      "enqueueV2: layers[0] (reshape): [2, 4] from shape tensor 'shape' does not hold the 12 element(s) of "
      "[2, 6]");

  ASSERT_TRUE(context().setInputShapeBinding(1, good));
  // "the first enqueueV2() call after a setInputShapeBinding() call will cause failure in stream capture"
  ASSERT_EQ(cudaStreamBeginCapture(stream.get(), cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_FALSE(context().enqueueV2(bindings, stream.get(), nullptr));
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream.get(), &graph), cudaSuccess);
  if (graph != nullptr) cudaGraphDestroy(graph);
  EXPECT_EQ(
      l_->logger.lines.back().second,
      "enqueueV2: the first enqueue after setOptimizationProfile or setBindingDimensions cannot be captured "
      "into a CUDA graph: enqueue once outside the capture first");

  ASSERT_TRUE(context().enqueueV2(bindings, stream.get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(out0.download<float>(12), values);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 3);
}

}  // namespace
}  // namespace trt_test
