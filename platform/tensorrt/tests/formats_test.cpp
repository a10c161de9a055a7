// I/O formats: what each generation reports per format and profile, the layouts an enqueue reads and
// writes scalar by scalar, and buffers sized as dense tensors caught out of bounds.
#include <algorithm>
#include <functional>

#include "io_support.h"

namespace trt_test {
namespace {

// x (fixed dims, the format under test) -> identity -> y (kLINEAR).
std::string one_format(const std::string& format, const std::string& dtype, const std::string& dims) {
  return R"({"name": "layout", "inputs": [{"name": "x", "dtype": ")" + dtype + R"(", "dims": )" + dims +
         R"(, "format": ")" + format + R"("}], "outputs": [{"name": "y", "dtype": ")" + dtype +
         R"(", "dims": )" + dims + R"(}], "layers": [{"op": "identity", "inputs": ["x"], "output": "y"}],
      "profiles": [{"x": {"min": )" +
         dims + R"(, "opt": )" + dims + R"(, "max": )" + dims + "}}]}";
}

bool ends_with(const char* text, const std::string& tail) {
  const std::string s = text == nullptr ? "" : text;
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class FormatsTest : public TrtTest {};

TEST_F(FormatsTest, EachFormatIsReportedThroughEveryQuery) {
  struct Case {
    const char* format;
    const char* dtype;
    const char* dims;
    int value;
    int32_t vectorized_dim, components, bytes;
    std::vector<int64_t> strides;  // in elements of `components` scalars
    int first_major = 7;           // engines of earlier majors are refused
  };
  const std::vector<Case> cases = {
      {"kLINEAR", "float", "[2, 5, 3, 2]", 0, -1, 1, 4, {30, 6, 2, 1}},
      {"kCHW2", "half", "[2, 5, 3, 2]", 1, 1, 2, 2, {18, 6, 2, 1}},
      {"kHWC8", "float", "[2, 5, 3, 2]", 2, 1, 8, 4, {6, 1, 2, 1}},
      {"kCHW4", "float", "[2, 5, 3, 2]", 3, 1, 4, 4, {12, 6, 2, 1}},
      {"kCHW4", "float", "[3, 2, 5, 1, 2]", 3, 2, 4, 4, {8, 4, 2, 2, 1}},
      {"kCHW16", "int8", "[2, 5, 3, 2]", 4, 1, 16, 1, {6, 6, 2, 1}},
      {"kCHW32", "float", "[2, 5, 3, 2]", 5, 1, 32, 4, {6, 6, 2, 1}},
      {"kDHWC8", "float", "[1, 5, 2, 3, 2]", 6, 1, 8, 4, {12, 1, 6, 2, 1}},
      {"kCDHW32", "half", "[1, 5, 2, 3, 2]", 7, 1, 32, 2, {12, 12, 6, 2, 1}},
      {"kHWC", "float", "[2, 5, 3, 2]", 8, -1, 1, 4, {30, 1, 10, 5}},
      {"kHWC16", "half", "[2, 5, 3, 2]", 11, 1, 16, 2, {6, 1, 2, 1}, 8},
      {"kDHWC", "int32", "[1, 5, 2, 3, 2]", 12, -1, 1, 4, {60, 1, 30, 10, 5}, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.dims);
    auto l = load(engine_from_json(one_format(c.format, c.dtype, c.dims)));
    if (NV_TENSORRT_MAJOR < c.first_major) {
      EXPECT_FALSE(l->engine);
      EXPECT_EQ(
          l->logger.only_error(),
          "deserializeCudaEngine: invalid network in engine: inputs[0].format: " + std::string(c.format) +
              " does not exist before TensorRT " + std::to_string(c.first_major));
      continue;
    }
    ASSERT_TRUE(l->context);
    const LayoutAnswers x = layout_answers(*l, "x", 0);
    EXPECT_EQ(x.format, c.value);
    EXPECT_TRUE(ends_with(x.description, std::string("(") + c.format + ")")) << x.description;
    EXPECT_EQ(x.vectorized_dim, c.vectorized_dim);
    EXPECT_EQ(x.components, c.components);
    EXPECT_EQ(x.bytes, c.bytes);
    EXPECT_EQ(x.strides, c.strides);
    const LayoutAnswers y = layout_answers(*l, "y", 0);
    EXPECT_EQ(y.format, 0) << "the output keeps the default";
    EXPECT_TRUE(ends_with(y.description, "(kLINEAR)"));
    EXPECT_EQ(y.components, 1);
#if NV_TENSORRT_MAJOR >= 10
    // The forms without a profile answer for profile 0.
    const nvinfer1::ICudaEngine& e = *l->engine;
    EXPECT_EQ(static_cast<int>(e.getTensorFormat("x")), c.value);
    EXPECT_STREQ(e.getTensorFormatDesc("x"), x.description);
    EXPECT_EQ(e.getTensorVectorizedDim("x"), c.vectorized_dim);
    EXPECT_EQ(e.getTensorComponentsPerElement("x"), c.components);
    EXPECT_EQ(e.getTensorBytesPerComponent("x"), c.bytes);
#endif
  }
}

TEST_F(FormatsTest, UnknownTensorsAndProfilesGetAnswersNoFormatGives) {
  auto l = load(sample_engine("layout_chw4"));
  ASSERT_TRUE(l->context);
  auto expect_none = [](const LayoutAnswers& a) {
    EXPECT_EQ(a.format, -1);
    EXPECT_EQ(a.description, nullptr);
    EXPECT_EQ(a.vectorized_dim, -2) << "-1 would read as a format of one scalar per element";
    EXPECT_EQ(a.components, -1);
    EXPECT_EQ(a.bytes, -1);
  };
#if NV_TENSORRT_MAJOR >= 10
  const nvinfer1::ICudaEngine& e = *l->engine;
  for (const char* name : {"nothing", static_cast<const char*>(nullptr)}) {
    const LayoutAnswers a = layout_answers(*l, name, 0);
    expect_none(a);
    EXPECT_TRUE(a.strides_invalid);
    EXPECT_EQ(e.getTensorLocation(name), nvinfer1::TensorLocation::kDEVICE);
    EXPECT_FALSE(e.isShapeInferenceIO(name));
  }
  for (int32_t profile : {-1, 1}) {
    SCOPED_TRACE(profile);
    expect_none(layout_answers(*l, "in0", profile));
  }
#else
  const nvinfer1::ICudaEngine& e = *l->engine;
  for (int32_t b : {-1, e.getNbBindings()}) {
    SCOPED_TRACE(b);
    expect_none({static_cast<int>(e.getBindingFormat(b)),
                 e.getBindingFormatDesc(b),
                 e.getBindingVectorizedDim(b),
                 e.getBindingComponentsPerElement(b),
                 e.getBindingBytesPerComponent(b),
                 {},
                 true});
    EXPECT_EQ(l->context->getStrides(b).nbDims, -1);
    EXPECT_EQ(static_cast<int>(e.getLocation(b)), -1);
    EXPECT_FALSE(e.isShapeBinding(b));
    EXPECT_FALSE(e.isExecutionBinding(b));
  }
  EXPECT_EQ(e.getLocation(0), nvinfer1::TensorLocation::kDEVICE);
  EXPECT_TRUE(e.isExecutionBinding(0));
#endif
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0) << "queries do not log";
}

TEST_F(FormatsTest, EachProfileHasItsOwnFormat) {
  auto l = load(sample_engine("layout_per_profile"));
  ASSERT_TRUE(l->context);
  Stream stream;
  const LayoutAnswers linear = layout_answers(*l, "in0", 0);
  EXPECT_EQ(linear.format, 0);
  EXPECT_EQ(linear.vectorized_dim, -1);
  const LayoutAnswers vectorized = layout_answers(*l, "in0", 1);
  EXPECT_EQ(vectorized.format, 5);
  EXPECT_TRUE(ends_with(vectorized.description, "(kCHW32)"));
  EXPECT_EQ(vectorized.vectorized_dim, 1);
  EXPECT_EQ(vectorized.components, 32);
  // The context's strides follow its profile and the shape set on it.
  ASSERT_TRUE(select_profile(*l, 1, stream.get()));
  ASSERT_TRUE(set_shape(*l, "in0", dims({4, 3, 2, 2})));
  EXPECT_EQ(layout_answers(*l, "in0", 1).strides, (std::vector<int64_t>{4, 4, 2, 1}));
  EXPECT_EQ(layout_answers(*l, "out0", 1).strides, (std::vector<int64_t>{12, 4, 2, 1}));
}

// Where scalar (n, c, h, w) of a [N, 3, 2, 2] tensor lies in a layout, in scalars.
using Position = std::function<int(int n, int c, int h, int w)>;
const Position kDense = [](int n, int c, int h, int w) { return ((n * 3 + c) * 2 + h) * 2 + w; };
const Position kCHW4 = [](int n, int c, int h, int w) { return ((n * 2 + h) * 2 + w) * 4 + c; };
const Position kCHW32 = [](int n, int c, int h, int w) { return ((n * 2 + h) * 2 + w) * 32 + c; };
const Position kHWC8 = [](int n, int c, int h, int w) { return ((n * 2 + h) * 2 + w) * 8 + c; };
const Position kHWC = [](int n, int c, int h, int w) { return ((n * 2 + h) * 2 + w) * 3 + c; };

TEST_F(FormatsTest, EnqueueReadsAndWritesEveryScalarAtItsLayoutPosition) {
  struct Case {
    const char* name;
    std::vector<unsigned char> engine;
    const char* input;
    int32_t profile, batch;
    Position in;
    int in_scalars;  // the padded extent
    Position out;
    int out_scalars;
  };
  const std::string chw4_to_hwc8 = R"({"name": "chw4_to_hwc8",
      "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 3, 2, 2], "format": "kCHW4"}],
      "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 3, 2, 2], "format": "kHWC8"}],
      "layers": [{"op": "relu", "inputs": ["x"], "output": "y"}],
      "profiles": [{"x": {"min": [1, 3, 2, 2], "opt": [2, 3, 2, 2], "max": [2, 3, 2, 2]}}]})";
  const std::vector<Case> cases = {
      {"kCHW4 in, kHWC8 out", engine_from_json(chw4_to_hwc8), "x", 0, 2, kCHW4, 2 * 4 * 4, kHWC8, 2 * 4 * 8},
      {"layout_hwc", sample_engine("layout_hwc"), "in0", 0, 2, kHWC, 2 * 12, kDense, 2 * 12},
      {"layout_hwc8_out", sample_engine("layout_hwc8_out"), "in0", 0, 1, kDense, 12, kHWC8, 4 * 8},
      {"layout_per_profile, profile 1", sample_engine("layout_per_profile"), "in0", 1, 4, kCHW32, 4 * 4 * 32,
       kDense, 4 * 12},
  };
  constexpr float kInputPadding = 555.0f;  // never read
  constexpr float kUntouched = -9.0f;      // past the padded extent: never written
  constexpr int kSlack = 16;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto l = load(c.engine);
    ASSERT_TRUE(l->context);
    Stream stream;
    ASSERT_TRUE(c.profile == 0 || select_profile(*l, c.profile, stream.get()));
    ASSERT_TRUE(set_shape(*l, c.input, dims({c.batch, 3, 2, 2})));

    std::vector<float> in(c.in_scalars, kInputPadding);
    std::vector<float> expected(c.out_scalars, 0.0f);
    for (int n = 0; n < c.batch; ++n) {
      for (int ch = 0; ch < 3; ++ch) {
        for (int h = 0; h < 2; ++h) {
          for (int w = 0; w < 2; ++w) {
            const float v = static_cast<float>((n * 3 + ch) * 4 + h * 2 + w + 1) * (ch == 1 ? -1.0f : 1.0f);
            in[c.in(n, ch, h, w)] = v;
            expected[c.out(n, ch, h, w)] = v > 0 ? v : 0.0f;
          }
        }
      }
    }
    expected.resize(c.out_scalars + kSlack, kUntouched);
    DeviceBuffer input(in.size() * sizeof(float)), output(expected.size() * sizeof(float));
    input.upload(in);
    output.upload(std::vector<float>(expected.size(), kUntouched));
    ASSERT_TRUE(enqueue(*l, {input.get(), output.get()}, stream.get()));
    ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
    EXPECT_EQ(output.download<float>(expected.size()), expected) << "scalars, padding zeros, untouched tail";
    EXPECT_EQ(trt_standin_count("network_runs"), 1);
    trt_standin_reset();
  }
}

TEST_F(FormatsTest, PaddingIsWrittenAsZerosOverWhatAnEarlierProfileLeft) {
  auto l = load(engine_from_json(R"({"name": "padding",
      "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 3, 2, 2]}],
      "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 3, 2, 2], "format": ["kLINEAR", "kHWC8"]}],
      "layers": [{"op": "relu", "inputs": ["x"], "output": "y"}],
      "profiles": [{"x": {"min": [1, 3, 2, 2], "opt": [2, 3, 2, 2], "max": [2, 3, 2, 2]}},
                   {"x": {"min": [1, 3, 2, 2], "opt": [1, 3, 2, 2], "max": [1, 3, 2, 2]}}]})"));
  ASSERT_TRUE(l->context);
  Stream stream;
  DeviceBuffer x(2 * 12 * sizeof(float)), y(2 * 32 * sizeof(float));
  x.upload(std::vector<float>(2 * 12, 5.0f));
  ASSERT_TRUE(set_shape(*l, "x", dims({2, 3, 2, 2})));
  ASSERT_TRUE(enqueue(*l, {x.get(), y.get()}, stream.get()));  // 24 dense fives in the staging memory
  ASSERT_TRUE(select_profile(*l, 1, stream.get()));
  ASSERT_TRUE(set_shape(*l, "x", dims({1, 3, 2, 2})));
  ASSERT_TRUE(enqueue(*l, {x.get(), y.get()}, stream.get()));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  std::vector<float> expected(4 * 8, 0.0f);
  for (int hw = 0; hw < 4; ++hw) std::fill_n(expected.begin() + hw * 8, 3, 5.0f);
  EXPECT_EQ(y.download<float>(4 * 8), expected);
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
}

TEST_F(FormatsTest, BuffersSizedAsDenseTensorsAreOutOfBounds) {
  struct Case {
    const char* engine;
    int dense_sized;  // the I/O tensor whose buffer holds only the dense [2, 3, 2, 2]
  };
  const std::size_t dense_bytes = 2 * 12 * sizeof(float);
  for (const Case& c : {Case{"layout_chw4", 0}, Case{"layout_hwc8_out", 1}}) {
    SCOPED_TRACE(c.engine);
    auto l = load(sample_engine(c.engine));
    ASSERT_TRUE(l->context);
    ASSERT_TRUE(set_shape(*l, "in0", dims({2, 3, 2, 2})));
    DeviceBuffer small(dense_bytes), large(4 * dense_bytes);
    std::vector<void*> addresses = {large.get(), large.get()};
    addresses[c.dense_sized] = small.get();
    const uint64_t violations = cudaemu_violations();
    Stream stream;
    EXPECT_FALSE(enqueue(*l, addresses, stream.get()));
    EXPECT_EQ(l->logger.only_error(), refused_copy_line());
    EXPECT_EQ(cudaemu_violations(), violations + 1);
    EXPECT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess) << "refused at issue, not a device fault";
    ++expected_violations_;
  }
}

}  // namespace
}  // namespace trt_test
