// Network descriptions of shapes decided at run time: outputs of data-dependent extent (keep_positive),
// refused before TensorRT 10 by the builder and on load.
#include <gtest/gtest.h>

#include "engine_format.h"
#include "graph.h"
#include "network_json.h"

namespace trt_standin {
namespace {

// x [-1, 4] -> kept [-1] = keep_positive(x); each case below breaks one part of it.
const char* kKeepPositive = R"({"name": "n",
  "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 4]}],
  "outputs": [{"name": "kept", "dtype": "float", "dims": [-1]}],
  "layers": [{"op": "keep_positive", "inputs": ["x"], "output": "kept"}],
  "profiles": [{"x": {"min": [1, 4], "opt": [2, 4], "max": [8, 4]}}]})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string graph_error(const std::string& json, Graph* graph = nullptr) {
  Network net;
  Graph local;
  std::string error;
  if (network_from_json(json, &net, &error) && build_graph(net, graph ? graph : &local, &error)) return "";
  return error;
}

TEST(BuilderShapesTest, KeepPositiveOutputIsDataDependentWithItsUpperBound) {
  Graph graph;
  ASSERT_EQ(graph_error(kKeepPositive, &graph), "");
  EXPECT_EQ(graph.data_dependent, (std::vector<bool>{false, true}));
  EXPECT_TRUE(graph.has_data_dependent_output());
  EXPECT_EQ(graph.profile_dims[0], (std::vector<Shape>{{-1, 4}, {-1}}));
  EXPECT_EQ(graph.io_bytes, (std::vector<std::size_t>{8 * 4 * 4, 8 * 4 * 4}))
      << "bounded by the input's volume";
  std::vector<Shape> shapes;
  std::string error;
  ASSERT_TRUE(infer_shapes(graph, {{3, 4}}, &shapes, &error)) << error;
  EXPECT_EQ(shapes[1], (Shape{12}));
}

TEST(BuilderShapesTest, DataDependentOutputsAreCheckedWithTheirKey) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {replaced(kKeepPositive, R"("dims": [-1]})", R"("dims": [-1, 4]})"),
       "outputs[0].dims: the layer computes a data-dependent extent: the dims are [-1], not [-1, 4]"},
      {replaced(kKeepPositive, R"("dims": [-1]})", R"("dims": [32]})"),
       "outputs[0].dims: the layer computes a data-dependent extent: the dims are [-1], not [32]"},
      {replaced(kKeepPositive, R"("dims": [-1]})", R"("dims": [-1], "format": "kHWC"})"),
       "outputs[0].format: kHWC needs rank 3 or more, the tensor has rank 1"},
      {replaced(kKeepPositive, R"("output": "kept"}],)",
                R"("output": "k"}, {"op": "relu", "inputs": ["k"], "output": "kept"}],)"),
       "layers[1].inputs[0]: 'k' has a data-dependent shape: no layer reads such a tensor, only a network "
       "output "
       "may be one"},
      {replaced(kKeepPositive, R"("dtype": "float", "dims": [-1, 4])",
                R"("dtype": "int64", "dims": [-1, 4])"),
       "layers[0].inputs[0]: keep_positive computes on float tensors only"},
      {replaced(kKeepPositive, R"("output": "kept"}])", R"("output": "kept", "a": 2}])"),
       "layers[0].a: not a parameter of keep_positive"},
  };
  for (const auto& [json, error] : cases) EXPECT_EQ(graph_error(json), error);
}

TEST(BuilderShapesTest, DataDependentShapesAreRefusedBeforeTensorRT10ByTheBuilderAndOnLoad) {
  Network net;
  std::string error;
  ASSERT_TRUE(network_from_json(kKeepPositive, &net, &error)) << error;
  for (uint32_t major : {7u, 8u, 10u, 11u}) {
    SCOPED_TRACE(major);
    const std::vector<unsigned char> bytes = serialize_engine(net, major);
    Graph graph;
    if (major < 10) {
      const std::string refusal =
          "layers[0].op: keep_positive computes a data-dependent shape, which needs IOutputAllocator: "
          "TensorRT 10 "
          "and later";
      EXPECT_FALSE(check_network_of_major(net, major, &error));
      EXPECT_EQ(error, refusal);
      EXPECT_FALSE(deserialize_engine(bytes.data(), bytes.size(), major, &graph, &error));
      EXPECT_EQ(error, "invalid network in engine: " + refusal);
      continue;
    }
    ASSERT_TRUE(check_network_of_major(net, major, &error)) << error;
    ASSERT_TRUE(deserialize_engine(bytes.data(), bytes.size(), major, &graph, &error)) << error;
    EXPECT_EQ(graph.network.layers[0].op, LayerOp::kKeepPositive);
    EXPECT_EQ(graph.data_dependent, (std::vector<bool>{false, true}));
  }
}

}  // namespace
}  // namespace trt_standin
