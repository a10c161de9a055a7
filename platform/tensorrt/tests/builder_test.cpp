// Network descriptions: errors that name the key, generated weights, and the engine round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "engine_format.h"
#include "graph.h"
#include "network_json.h"
#include "weight_fill.h"

namespace trt_standin {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A correct description; each case below breaks one part of it.
const char* kBase = R"({"name": "n",
  "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 4]}],
  "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 2]}],
  "layers": [{"op": "dense", "inputs": ["x"], "output": "y", "units": 2, "weights": {"fill": "constant", "value": 1}}],
  "profiles": [{"x": {"min": [1, 4], "opt": [2, 4], "max": [8, 4]}}]})";

std::string replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string error_of(const std::string& json) {
  Network net;
  Graph graph;
  std::string error;
  if (network_from_json(json, &net, &error) && build_graph(net, &graph, &error)) return "";
  return error;
}

TEST(BuilderTest, SamplesAreValid) {
  for (const char* name : {"smoke", "two_profiles", "mixed_rank", "mlp"}) {
    const std::string text = read_file(std::string(TRT_STANDIN_SAMPLE_DIR) + "/" + name + ".json");
    ASSERT_FALSE(text.empty()) << name;
    EXPECT_EQ(error_of(text), "") << name;
  }
  EXPECT_EQ(error_of(kBase), "");
}

TEST(BuilderTest, ErrorsNameTheKey) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{", "not valid JSON: "},
      {replace(kBase, R"("name": "n",)", R"("name": "n", "colour": 1,)"), "colour: unknown key"},
      {replace(kBase, R"("name": "n",)", ""), "name: missing"},
      {replace(kBase, R"("dtype": "float", "dims": [-1, 4])", R"("dtype": "double", "dims": [-1, 4])"),
       "inputs[0].dtype: unknown data type 'double'"},
      {replace(kBase, R"("op": "dense")", R"("op": "conv2d")"), "layers[0].op: unknown operation 'conv2d'"},
      {replace(kBase, R"("units": 2,)", R"("units": 2, "a": 3,)"), "layers[0].a: not a parameter of dense"},
      {replace(kBase, R"({"fill": "constant", "value": 1})", "[1, 2, 3]"),
       "layers[0].weights: size 3 is not a multiple of units 2"},
      {replace(kBase, R"({"fill": "constant", "value": 1})", R"({"fill": "zeros"})"),
       "layers[0].weights.fill: unknown fill 'zeros'"},
      {replace(kBase, R"("inputs": ["x"])", R"("inputs": ["z"])"), "layers[0].inputs[0]: unknown tensor 'z'"},
      {replace(kBase, R"("dims": [-1, 2])", R"("dims": [-1, 3])"),
       "outputs[0].dims: [-1, 3] does not match [-1, 2] computed for profiles[0]"},
      {replace(kBase, R"("max": [8, 4])", R"("max": [8, 5])"), "profiles[0].x: axis 1 is fixed at 4"},
      {replace(kBase, R"("min": [1, 4])", R"("min": [4, 4])"),
       "profiles[0].x: axis 0 needs min <= opt <= max"},
      {replace(kBase, R"({"x": {)", R"({"w": {"min": [1], "opt": [1], "max": [1]}, "x": {)"),
       "profiles[0].w: not an input of the network"},
      {replace(kBase, R"([{"x": {"min": [1, 4], "opt": [2, 4], "max": [8, 4]}}])", "[{}]"),
       "profiles[0].x: missing: every input needs a range"},
      {replace(kBase, R"("output": "y")", R"("output": "x")"), "layers[0].output: tensor 'x' already exists"},
      {replace(kBase, R"("dtype": "float", "dims": [-1, 4])", R"("dtype": "int32", "dims": [-1, 4])"),
       "layers[0].inputs[0]: dense computes on float tensors only"},
      {replace(kBase, R"("output": "y", "units")", R"("output": "h", "units")"),
       "outputs[0].name: no layer produces 'y'"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(c.first);
    EXPECT_EQ(error.rfind(c.second, 0), 0u) << "got: " << error << "\nwanted: " << c.second;
  }
}

TEST(BuilderTest, Conv1dFillNeedsAKernelSize) {
  const std::string conv =
      replace(replace(kBase, R"("op": "dense")", R"("op": "conv1d")"), R"("units": 2,)", "");
  EXPECT_EQ(error_of(conv), "layers[0].kernel_size: needed when the weights are a fill");
  const std::string sized = replace(conv, R"("output": "y",)", R"("output": "y", "kernel_size": 3,)");
  EXPECT_EQ(error_of(sized), "");
}

TEST(BuilderTest, GeneratedWeights) {
  const std::vector<float> a = random_weights(7, 1000), b = random_weights(7, 1000),
                           c = random_weights(8, 1000);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  double sum = 0;
  for (float v : a) {
    ASSERT_GE(v, -1.0f);
    ASSERT_LT(v, 1.0f);
    sum += v;
  }
  EXPECT_LT(std::abs(sum / 1000), 0.1) << "not centred on 0";

  Network net;
  std::string error;
  ASSERT_TRUE(network_from_json(kBase, &net, &error)) << error;
  EXPECT_EQ(net.layers[0].weights, std::vector<float>(8, 1.0f));  // 4 features x 2 units
  EXPECT_EQ(net.layers[0].bias, std::vector<float>(2, 0.0f));
}

TEST(BuilderTest, EngineRoundTripKeepsTheNetwork) {
  Network net;
  std::string error;
  ASSERT_TRUE(network_from_json(read_file(std::string(TRT_STANDIN_SAMPLE_DIR) + "/mlp.json"), &net, &error));
  const std::vector<unsigned char> bytes = serialize_engine(net, 8);
  Graph graph;
  ASSERT_TRUE(deserialize_engine(bytes.data(), bytes.size(), 8, &graph, &error)) << error;
  EXPECT_EQ(graph.network.name, "mlp");
  ASSERT_EQ(graph.network.layers.size(), 3u);
  EXPECT_EQ(graph.network.layers[0].weights, net.layers[0].weights);
  EXPECT_EQ(graph.network.layers[2].bias, net.layers[2].bias);
  EXPECT_EQ(graph.profile_dims[0][1], (Shape{-1, 4}));
  EXPECT_FALSE(deserialize_engine(bytes.data(), bytes.size(), 7, &graph, &error));
}

}  // namespace
}  // namespace trt_standin
