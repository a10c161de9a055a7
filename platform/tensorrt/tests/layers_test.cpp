// Numeric results of every layer, against values worked out by hand.
#include <cstdint>

#include "test_support.h"
#include "weight_fill.h"

namespace trt_test {
namespace {

// One layer over inputs a (and b) of [-1, 4], batch 1..4, output y of out_dims.
std::string one_layer(const std::string& op, bool binary, const std::string& params,
                      const std::string& out_dims, const std::string& dtype = "float") {
  const std::string range = R"({"min": [1, 4], "opt": [2, 4], "max": [4, 4]})";
  return R"({"name": "one_)" + op + R"(", "inputs": [{"name": "a", "dtype": ")" + dtype +
         R"(", "dims": [-1, 4]})" + (binary ? R"(, {"name": "b", "dtype": "float", "dims": [-1, 4]})" : "") +
         R"(], "outputs": [{"name": "y", "dtype": ")" + dtype + R"(", "dims": )" + out_dims + R"(}],
      "layers": [{"op": ")" +
         op + R"(", "inputs": ["a")" + (binary ? R"(, "b")" : "") + R"(], "output": "y")" + params +
         R"(}], "profiles": [{"a": )" + range + (binary ? R"(, "b": )" + range : "") + "}]}";
}

const std::vector<float> kA = {1, -2, 3, -4, 0.5f, 6, -7, 8};
const std::vector<float> kB = {2, 2, -1, -5, 0.5f, -6, 7, 1};

struct LayerCase {
  const char* op;
  bool binary;
  const char* params;
  const char* out_dims;
  std::vector<float> expected;  // batch 2
};

class LayersTest : public TrtTest {};

TEST_F(LayersTest, EveryFloatLayerMatchesHandValues) {
  const std::vector<LayerCase> cases = {
      {"add", true, "", "[-1, 4]", {3, 0, 2, -9, 1, 0, 0, 9}},
      {"sub", true, "", "[-1, 4]", {-1, -4, 4, 1, 0, 12, -14, 7}},
      {"mul", true, "", "[-1, 4]", {2, -4, -3, 20, 0.25f, -36, -49, 8}},
      {"max", true, "", "[-1, 4]", {2, 2, 3, -4, 0.5f, 6, 7, 8}},
      {"relu", false, "", "[-1, 4]", {1, 0, 3, 0, 0.5f, 6, 0, 8}},
      {"scale", false, R"(, "a": 2, "b": 1)", "[-1, 4]", {3, -3, 7, -7, 2, 13, -13, 17}},
      // w is [4 features][2 units]: y0 = x0 + x2 + 2 x3 + 0.5, y1 = x1 + x2 - x3 - 1
      {"dense",
       false,
       R"(, "units": 2, "weights": [1, 0, 0, 1, 1, 1, 2, -1], "bias": [0.5, -1])",
       "[-1, 2]",
       {-3.5f, 4, 10, -10}},
      // out[k] = x[k] + 2 x[k+1] - x[k+2] + 0.5
      {"conv1d", false, R"(, "weights": [1, 2, -1], "bias": 0.5)", "[-1, 2]", {-5.5f, 8.5f, 20, -15.5f}},
  };
  for (const LayerCase& c : cases) {
    SCOPED_TRACE(c.op);
    auto l = load(engine_from_json(one_layer(c.op, c.binary, c.params, c.out_dims)));
    ASSERT_TRUE(l->context);
    const int32_t out = c.binary ? 2 : 1;
    ASSERT_TRUE(l->context->setBindingDimensions(0, dims({2, 4})));
    if (c.binary) {
      ASSERT_TRUE(l->context->setBindingDimensions(1, dims({2, 4})));
    }
    std::vector<std::pair<int32_t, std::vector<float>>> inputs = {{0, kA}};
    if (c.binary) inputs.emplace_back(1, kB);
    EXPECT_EQ(run_floats(*l, inputs, out, c.expected.size()), c.expected);
  }
}

TEST_F(LayersTest, IdentityCopiesTheBytesOfEveryDataType) {
  // Bytes chosen so that a float conversion anywhere would change them (NaN patterns, odd halves).
  const unsigned char pattern[16] = {0xFF, 0xFF, 0xC0, 0x7F, 0x01, 0x80, 0x00, 0x7C,
                                     0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
  std::vector<unsigned char> bytes;
  for (int i = 0; i < 32; ++i) bytes.push_back(static_cast<unsigned char>(pattern[i % 16] + i / 16));
  const std::vector<std::pair<const char*, std::size_t>> types = {
      {"float", 4}, {"half", 2}, {"int8", 1}, {"int32", 4}, {"bool", 1}};
  for (const auto& type : types) {
    SCOPED_TRACE(type.first);
    auto l = load(engine_from_json(one_layer("identity", false, "", "[-1, 4]", type.first)));
    ASSERT_TRUE(l->context);
    EXPECT_EQ(static_cast<int>(l->engine->getBindingDataType(1)),
              static_cast<int>(l->engine->getBindingDataType(0)));
    const std::size_t n = 2 * 4 * type.second;  // batch 2
    ASSERT_TRUE(l->context->setBindingDimensions(0, dims({2, 4})));
    Bindings bindings(*l->engine, 64);
    bindings[0].upload(std::vector<unsigned char>(bytes.begin(), bytes.begin() + n));
    bindings[1].upload(std::vector<unsigned char>(64, 0xAA));
    Stream stream;
    ASSERT_TRUE(l->context->enqueueV2(bindings.data(), stream.get(), nullptr));
    ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
    const std::vector<unsigned char> out = bindings[1].download<unsigned char>(n + 1);
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + n),
              std::vector<unsigned char>(bytes.begin(), bytes.begin() + n));
    EXPECT_EQ(out[n], 0xAA) << "wrote past the output for batch 2";
  }
}

TEST_F(LayersTest, SmokeSampleIsConv1dOfTheSum) {
  // in0[r][i] = (r + 1) * i, in1 = 1: the sum is (r + 1) i + 1 and the [0.25, 0.5, 0.25] kernel gives
  // out[r][k] = (r + 1) k + (r + 1) + 1.
  auto l = load(sample_engine("smoke"));
  ASSERT_TRUE(l->context);
  const int batch = 3;
  std::vector<float> in0(batch * 340), in1(batch * 340, 1.0f);
  for (int r = 0; r < batch; ++r) {
    for (int i = 0; i < 340; ++i) in0[r * 340 + i] = static_cast<float>((r + 1) * i);
  }
  ASSERT_TRUE(l->context->setBindingDimensions(0, dims({batch, 340})));
  ASSERT_TRUE(l->context->setBindingDimensions(1, dims({batch, 340})));
  EXPECT_EQ(extents(l->context->getBindingDimensions(2)), (std::vector<int32_t>{batch, 338}));
  const std::vector<float> out = run_floats(*l, {{0, in0}, {1, in1}}, 2, batch * 338);
  for (int r = 0; r < batch; ++r) {
    for (int k = 0; k < 338; ++k) {
      ASSERT_EQ(out[r * 338 + k], static_cast<float>((r + 1) * k + r + 2)) << "row " << r << " column " << k;
    }
  }
}

TEST_F(LayersTest, MixedRankSampleComputesBothOutputs) {
  auto l = load(sample_engine("mixed_rank"));
  ASSERT_TRUE(l->context);
  ASSERT_TRUE(l->context->setBindingDimensions(0, dims({1, 8})));
  ASSERT_TRUE(l->context->setBindingDimensions(1, dims({1, 4, 8})));
  const std::vector<float> in0 = {-1, 2, -3, 4, -5, 6, -7, 8};
  std::vector<float> in1(32);
  for (int i = 0; i < 32; ++i) in1[i] = static_cast<float>(i);
  Bindings bindings(*l->engine, 1024);
  bindings[0].upload(in0);
  bindings[1].upload(in1);
  Stream stream;
  ASSERT_TRUE(l->context->enqueueV2(bindings.data(), stream.get(), nullptr));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(bindings[2].download<float>(8), (std::vector<float>{0, 2, 0, 4, 0, 6, 0, 8}));
  const std::vector<float> out1 = bindings[3].download<float>(32);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(out1[i], 0.5f * i);
}

TEST_F(LayersTest, MlpSampleUsesTheSeededWeights) {
  auto l = load(sample_engine("mlp"));
  ASSERT_TRUE(l->context);
  const int batch = 2;
  std::vector<float> x(batch * 16);
  for (int i = 0; i < batch * 16; ++i) x[i] = 0.125f * static_cast<float>(i % 7) - 0.25f;
  ASSERT_TRUE(l->context->setBindingDimensions(0, dims({batch, 16})));
  const std::vector<float> y = run_floats(*l, {{0, x}}, 1, batch * 4);

  const auto w1 = trt_standin::random_weights(1, 16 * 32), b1 = trt_standin::random_weights(2, 32);
  const auto w2 = trt_standin::random_weights(3, 32 * 4), b2 = trt_standin::random_weights(4, 4);
  for (int r = 0; r < batch; ++r) {
    std::vector<double> hidden(32);
    for (int m = 0; m < 32; ++m) {
      double acc = b1[m];
      for (int k = 0; k < 16; ++k) acc += x[r * 16 + k] * w1[k * 32 + m];
      hidden[m] = acc > 0 ? acc : 0;
    }
    for (int m = 0; m < 4; ++m) {
      double acc = b2[m];
      for (int k = 0; k < 32; ++k) acc += hidden[k] * w2[k * 4 + m];
      EXPECT_NEAR(y[r * 4 + m], acc, 1e-4) << "row " << r << " unit " << m;
    }
  }
}

}  // namespace
}  // namespace trt_test
