// Shape tensors whose values steer shapes (the test network shape_tensor: out0 = reshape(in0, shape),
// out1 = reshape(in0, shape64), shape int32 and shape64 int64 in host memory): the profiles' values in
// each release's form, the shapes the context resolves from the values at the address given, and the
// values read at enqueue time and checked against the profile.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "output_allocator.h"
#include "test_support.h"

namespace trt_test {
namespace {

using Selector = nvinfer1::OptProfileSelector;

class ShapeValuesTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(sample_engine("shape_tensor"));
    ASSERT_TRUE(l_->context);
    stream_ = std::make_unique<Stream>();
    buffers_ = std::make_unique<TensorBuffers>(*l_->engine, 24 * 4);
  }
  // in0 [rows, 6], its addresses and the outputs'; the shape tensors' addresses are the test's.
  void set_data(int rows) {
    ASSERT_TRUE(context().setInputShape("in0", dims({rows, 6})));
    for (const char* name : {"in0", "out0", "out1"})
      ASSERT_TRUE(context().setTensorAddress(name, (*buffers_)[name].get()));
  }
  void set_values(std::array<int32_t, 2> shape, std::array<int64_t, 2> shape64) {
    shape_ = shape;
    shape64_ = shape64;
    ASSERT_TRUE(context().setTensorAddress("shape", shape_.data()));
    ASSERT_TRUE(context().setTensorAddress("shape64", shape64_.data()));
  }
  nvinfer1::IExecutionContext& context() { return *l_->context; }

  std::unique_ptr<Loaded> l_;
  std::unique_ptr<Stream> stream_;
  std::unique_ptr<TensorBuffers> buffers_;
  // The shape tensors' host memory, 256-byte aligned as every address.
  alignas(256) std::array<int32_t, 2> shape_{};
  alignas(256) std::array<int64_t, 2> shape64_{};
};

template <typename T>
std::vector<int64_t> widened(const T* values, int n) {
  return values == nullptr ? std::vector<int64_t>{} : std::vector<int64_t>(values, values + n);
}

TEST_F(ShapeValuesTest, ProfileValuesInTheReleasesForm) {
  const nvinfer1::ICudaEngine& engine = *l_->engine;
  EXPECT_TRUE(engine.isShapeInferenceIO("shape"));
  EXPECT_EQ(engine.getTensorLocation("shape64"), nvinfer1::TensorLocation::kHOST);
  EXPECT_EQ(engine.getTensorDataType("shape64"), nvinfer1::DataType::kINT64);
  struct Row {
    Selector select;
    std::vector<int64_t> shape, shape64;
  };
  const Row rows[] = {
      {Selector::kMIN, {2, 3}, {1, 6}}, {Selector::kOPT, {3, 4}, {2, 6}}, {Selector::kMAX, {6, 4}, {4, 6}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.select));
#if NV_TENSORRT_MAJOR < 11
    // 10.x: the int32 tensor's values were set with setShapeValues, the int64 one's with setShapeValuesV2;
    // each form answers nullptr for the other's.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    EXPECT_EQ(widened(engine.getProfileTensorValues("shape", 0, row.select), 2), row.shape);
    EXPECT_EQ(engine.getProfileTensorValues("shape64", 0, row.select), nullptr);
    EXPECT_EQ(engine.getProfileTensorValues("in0", 0, row.select), nullptr);
    EXPECT_EQ(engine.getProfileTensorValues("shape", 1, row.select), nullptr);
#pragma GCC diagnostic pop
    EXPECT_EQ(engine.getProfileTensorValuesV2("shape", 0, row.select), nullptr);
#else
    EXPECT_EQ(widened(engine.getProfileTensorValuesV2("shape", 0, row.select), 2), row.shape);
#endif
    EXPECT_EQ(widened(engine.getProfileTensorValuesV2("shape64", 0, row.select), 2), row.shape64);
    for (const char* other : {"in0", "out0", "none"})
      EXPECT_EQ(engine.getProfileTensorValuesV2(other, 0, row.select), nullptr) << other;
    EXPECT_EQ(engine.getProfileTensorValuesV2("shape64", 1, row.select), nullptr);
    EXPECT_EQ(engine.getProfileTensorValuesV2("shape64", -1, row.select), nullptr);
  }
}

TEST_F(ShapeValuesTest, OutputShapesResolveFromTheValuesAtTheAddress) {
  set_data(2);
  // "-1 ... if setTensorAddress() has NOT been called for some input tensor(s) with isShapeInferenceIO()".
  EXPECT_EQ(extents(context().getTensorShape("out0")), (std::vector<int32_t>{-1, -1}));
  EXPECT_EQ(extents(context().getTensorShape("out1")), (std::vector<int32_t>{-1, 6}));
  EXPECT_EQ(context().getMaxOutputSize("out0"), -1);
  const char* names[3] = {};
  EXPECT_EQ(context().inferShapes(3, names), 2);
  EXPECT_STREQ(names[0], "shape");
  EXPECT_STREQ(names[1], "shape64");

  set_values({3, 4}, {2, 6});
  EXPECT_EQ(extents(context().getTensorShape("out0")), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(extents(context().getTensorShape("out1")), (std::vector<int32_t>{2, 6}));
  EXPECT_EQ(context().getMaxOutputSize("out0"), 48);
  EXPECT_EQ(context().inferShapes(0, nullptr), 0);
  shape_ = {4, 3};  // read where they lie, whenever asked
  EXPECT_EQ(extents(context().getTensorShape("out0")), (std::vector<int32_t>{4, 3}));
  shape_ = {7, 2};  // outside the profile: unresolved
  EXPECT_EQ(extents(context().getTensorShape("out0")), (std::vector<int32_t>{-1, -1}));
  EXPECT_EQ(context().inferShapes(0, nullptr), -1);
  EXPECT_EQ(
      l_->logger.only_error(),
      "inferShapes: the values [7, 2] of shape tensor 'shape' are outside the range of optimization profile "
      "0: [2, 3] to [6, 4]");
}

TEST_F(ShapeValuesTest, EnqueueReadsTheValuesWhenItIsCalled) {
  std::vector<float> in0(12);
  for (int i = 0; i < 12; ++i) in0[i] = static_cast<float>(i) - 3.5f;
  (*buffers_)["in0"].upload(in0);
  set_data(2);
  set_values({3, 4}, {2, 6});
  RecordingAllocator allocator;
  ASSERT_TRUE(context().setOutputAllocator("out0", &allocator));
  ASSERT_TRUE(context().enqueueV3(stream_->get()));
  shape_ = {4, 3};  // after the enqueue: the next one's
  ASSERT_TRUE(context().enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(allocator.calls, (std::vector<std::string>{"reallocate out0 48 256", "notify out0 [3, 4]",
                                                       "reallocate out0 48 256", "notify out0 [4, 3]"}));
  EXPECT_EQ(allocator.last().download<float>(12), in0) << "the same elements in other extents";
  EXPECT_EQ((*buffers_)["out1"].download<float>(12), in0);
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0);
}

TEST_F(ShapeValuesTest, EnqueueRefusesValuesThatDoNotFit) {
  struct Case {
    std::array<int32_t, 2> shape;
    bool with_address;
    std::string line;
  };
  const Case cases[] = {
      {{7, 2},
       true,
       "enqueueV3: the values [7, 2] of shape tensor 'shape' are outside the range of optimization profile "
       "0: "
       "[2, 3] to [6, 4]"},
      {{2, 2},
       true,
       "enqueueV3: the values [2, 2] of shape tensor 'shape' are outside the range of optimization profile "
       "0: "
       "[2, 3] to [6, 4]"},
      {{2, 4},
       true,
       "enqueueV3: layers[0] (reshape): [2, 4] from shape tensor 'shape' does not hold the 12 "
       "element(s) of [2, 6]"},
      {{3, 4},
       false,
       "enqueueV3: the values of shape tensor 'shape' are missing: set its address with setTensorAddress"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    l_->logger.lines.clear();
    trt_standin_reset();
    set_data(2);
    set_values(c.shape, {2, 6});
    if (!c.with_address) {
      ASSERT_TRUE(context().setTensorAddress("shape", nullptr));
    }
    EXPECT_FALSE(context().enqueueV3(stream_->get()));
    EXPECT_EQ(l_->logger.only_error(), c.line);
    ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
    EXPECT_EQ(trt_standin_count("network_runs"), 0) << "nothing queued";
  }
}

}  // namespace
}  // namespace trt_test
