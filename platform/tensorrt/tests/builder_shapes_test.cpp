// Network descriptions of shapes decided at run time: outputs of data-dependent extent (keep_positive)
// and shape tensors whose values steer shapes (reshape, profile values), each refused before TensorRT 10
// by the builder and on load.
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

// x [-1, 6] -> y = reshape(x, s), s an int32 shape tensor of two values.
const char* kReshape = R"({"name": "n",
  "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 6]},
             {"name": "s", "dtype": "int32", "dims": [2], "location": "host"}],
  "outputs": [{"name": "y", "dtype": "float", "dims": [-1, -1]}],
  "layers": [{"op": "reshape", "inputs": ["x", "s"], "output": "y"}],
  "profiles": [{"x": {"min": [1, 6], "opt": [2, 6], "max": [4, 6]},
                "s": {"min": [2], "opt": [2], "max": [2], "values": {"min": [2, 3], "opt": [3, 4], "max": [6, 4]}}}]})";

TEST(BuilderShapesTest, ReshapeTakesItsExtentsFromTheShapeTensorsValues) {
  Graph graph;
  ASSERT_EQ(graph_error(kReshape, &graph), "");
  EXPECT_EQ(graph.profile_dims[0], (std::vector<Shape>{{-1, 6}, {2}, {-1, -1}}));
  EXPECT_TRUE(graph.input_has_values(1));
  EXPECT_FALSE(graph.input_has_values(0));
  std::vector<Shape> shapes;
  std::string error;
  const std::vector<std::vector<int64_t>> values = {{}, {4, 3}};
  ASSERT_TRUE(infer_shapes(graph, {{2, 6}, {2}}, &shapes, &error, &values)) << error;
  EXPECT_EQ(shapes[2], (Shape{4, 3}));
  EXPECT_FALSE(infer_shapes(graph, {{2, 6}, {2}}, &shapes, &error));
  EXPECT_EQ(error, "layers[0] (reshape): the values of shape tensor 's' are not known");
  const std::vector<std::vector<int64_t>> wrong = {{}, {2, 4}};
  EXPECT_FALSE(infer_shapes(graph, {{2, 6}, {2}}, &shapes, &error, &wrong));
  EXPECT_EQ(error,
            "layers[0] (reshape): [2, 4] from shape tensor 's' does not hold the 12 element(s) of [2, 6]");
}

TEST(BuilderShapesTest, ShapeTensorValuesAreCheckedWithTheirKey) {
  const std::string values = R"("values": {"min": [2, 3], "opt": [3, 4], "max": [6, 4]})";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {replaced(kReshape, values, R"("values": {"min": [2, 3], "opt": [3, 4]})"),
       "profiles[0].s.values.max: missing"},
      {replaced(kReshape, values, R"("values": {"min": [2, 3], "opt": [3, 4], "max": [6, 4], "step": 1})"),
       "profiles[0].s.values.step: unknown key"},
      {replaced(kReshape, values, R"("values": {"min": [2], "opt": [3, 4], "max": [6, 4]})"),
       "profiles[0].s.values.min: 1 value(s) for a shape tensor of 2 element(s)"},
      {replaced(kReshape, values, R"("values": {"min": [2, 3], "opt": [3, 4], "max": [6, 4.5]})"),
       "profiles[0].s.values.max[1]: expected an integer"},
      {replaced(kReshape, values, R"("values": {"min": [2, 5], "opt": [3, 4], "max": [6, 4]})"),
       "profiles[0].s.values: value 1 needs min <= opt <= max"},
      {replaced(kReshape, values, R"("values": {"min": [2, 3], "opt": [3, 4], "max": [6, 4294967296]})"),
       "profiles[0].s.values.max: 4294967296 is outside the range of an int32 shape tensor"},
      {replaced(kReshape, R"("max": [4, 6]},)",
                R"("max": [4, 6], "values": {"min": [1], "opt": [1], "max": [1]}},)"),
       "profiles[0].x.values: only a shape tensor (an input in host memory) has values"},
      {replaced(kReshape, ", " + values, ""),
       "layers[0].inputs[1]: shape tensor 's' has no values in the profiles: reshape takes its extents from "
       "them"},
      {replaced(kReshape, R"("inputs": ["x", "s"])", R"("inputs": ["x", "x"])"),
       "layers[0].inputs[1]: reshape takes its extents from a shape tensor (an input in host memory of rank "
       "1), "
       "'x' is not one"},
      {replaced(kReshape, R"("max": [6, 4]})", R"("max": [6, 5]})"),
       "profiles[0] at max: layers[0] (reshape): [6, 5] from shape tensor 's' does not hold the 24 "
       "element(s) of "
       "[4, 6]"},
      {replaced(kReshape, R"("dims": [-1, -1]})", R"("dims": [-1, 4]})"),
       "outputs[0].dims: [-1, 4] does not match [-1, -1] computed for profiles[0]"},
  };
  for (const auto& [json, error] : cases) EXPECT_EQ(graph_error(json), error);
  // int64 shape tensors take values beyond 32 bits (the volume check then refuses these).
  EXPECT_EQ(graph_error(replaced(replaced(kReshape, R"("dtype": "int32")", R"("dtype": "int64")"),
                                 R"("max": [6, 4]})", R"("max": [6, 4294967296]})")),
            "profiles[0] at max: layers[0] (reshape): shape tensor 's' gives the extent 4294967296");
}

TEST(BuilderShapesTest, ShapeValuesRoundTripForEveryMajorInt64OnlyFrom10) {
  Network net;
  std::string error;
  ASSERT_TRUE(network_from_json(kReshape, &net, &error)) << error;
  for (uint32_t major : {7u, 8u, 10u, 11u}) {
    SCOPED_TRACE(major);
    const std::vector<unsigned char> bytes = serialize_engine(net, major);
    Graph graph;
    ASSERT_TRUE(check_network_of_major(net, major, &error)) << error;
    ASSERT_TRUE(deserialize_engine(bytes.data(), bytes.size(), major, &graph, &error)) << error;
    const InputRange& s = graph.network.profiles[0].inputs[1];
    EXPECT_EQ(s.values_min, (std::vector<int64_t>{2, 3}));
    EXPECT_EQ(s.values_opt, (std::vector<int64_t>{3, 4}));
    EXPECT_EQ(s.values_max, (std::vector<int64_t>{6, 4}));
    EXPECT_FALSE(graph.network.profiles[0].inputs[0].has_values());
    EXPECT_FALSE(graph.input_read_as_data(1)) << "only its values give the reshape its extents";
    EXPECT_TRUE(graph.input_read_as_data(0));
  }
  Network wide;
  ASSERT_TRUE(
      network_from_json(replaced(kReshape, R"("dtype": "int32")", R"("dtype": "int64")"), &wide, &error));
  EXPECT_FALSE(check_network_of_major(wide, 8, &error));
  EXPECT_EQ(
      error,
      "inputs[1].dtype: int64 does not exist before TensorRT 10 (TensorRT 8 has float, half, int8, int32 and "
      "bool)");
  // An engine without values keeps its bytes: the values come after the layers, under a flag.
  Network plain = net;
  for (InputRange& r : plain.profiles[0].inputs) r.values_min = r.values_opt = r.values_max = {};
  EXPECT_EQ(serialize_engine(net, 10).size(), serialize_engine(plain, 10).size() + 2 * 4 + 3 * 2 * 8)
      << "one count per input, three pairs of int64 values for s";
}

// x [-1, 4] -> y = scale_in_place(x), y sharing x's memory.
const char* kInPlace = R"({"name": "n",
  "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 4]}],
  "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 4]}],
  "layers": [{"op": "scale_in_place", "inputs": ["x"], "output": "y", "a": 2, "b": 1}],
  "profiles": [{"x": {"min": [1, 4], "opt": [2, 4], "max": [8, 4]}}]})";

TEST(BuilderShapesTest, InPlaceOutputsShareTheirInputsMemory) {
  Graph graph;
  ASSERT_EQ(graph_error(kInPlace, &graph), "");
  EXPECT_EQ(graph.aliased_input, std::vector<int>{0});
  EXPECT_EQ(graph.network.layers[0].a, 2.0f);
  const std::string prefix = "scale_in_place writes into its input's memory: ";
  const char* other_format = R"({"name": "n",
    "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 2, 4]}],
    "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 2, 4], "format": "kHWC"}],
    "layers": [{"op": "scale_in_place", "inputs": ["x"], "output": "y"}],
    "profiles": [{"x": {"min": [1, 2, 4], "opt": [2, 2, 4], "max": [8, 2, 4]}}]})";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {replaced(
           kInPlace, R"("op": "scale_in_place", "inputs": ["x"], "output": "y", "a": 2, "b": 1}])",
           R"("op": "relu", "inputs": ["x"], "output": "h"}, {"op": "scale_in_place", "inputs": ["h"], "output": "y"}])"),
       "layers[1].inputs[0]: " + prefix + "'h' is not a network input in device memory"},
      {replaced(kInPlace, R"("output": "y", "a": 2, "b": 1}])",
                R"("output": "h"}, {"op": "relu", "inputs": ["h"], "output": "y"}])"),
       "layers[0].output: " + prefix + "'h' must be a network output"},
      {replaced(
           replaced(
               kInPlace, R"({"name": "y", "dtype": "float", "dims": [-1, 4]}])",
               R"({"name": "y", "dtype": "float", "dims": [-1, 4]}, {"name": "z", "dtype": "float", "dims": [-1, 4]}])"),
           R"("b": 1}])", R"("b": 1}, {"op": "scale_in_place", "inputs": ["x"], "output": "z"}])"),
       "layers[1].inputs[0]: " + prefix + "input 'x' is shared by another output already"},
      {replaced(kInPlace, R"("dims": [-1, 4]}],
  "layers")",
                R"("dims": [-1, -1]}],
  "layers")"),
       "outputs[0].dims: an output that shares the memory of input 'x' has its dims [-1, 4], not [-1, -1]"},
      {other_format,
       "outputs[0].format: an output that shares the memory of input 'x' has its format in every "
       "profile"},
  };
  for (const auto& [json, error] : cases) EXPECT_EQ(graph_error(json), error);

  Network net;
  std::string error;
  ASSERT_TRUE(network_from_json(kInPlace, &net, &error)) << error;
  for (uint32_t major : {7u, 8u, 10u}) {
    SCOPED_TRACE(major);
    EXPECT_FALSE(check_network_of_major(net, major, &error));
    EXPECT_EQ(
        error,
        "layers[0].op: scale_in_place writes its output into its input's memory, which an application learns "
        "only from ICudaEngine::getAliasedInputTensor: TensorRT 11 and later");
  }
  const std::vector<unsigned char> bytes = serialize_engine(net, 11);
  ASSERT_TRUE(deserialize_engine(bytes.data(), bytes.size(), 11, &graph, &error)) << error;
  EXPECT_EQ(graph.aliased_input, std::vector<int>{0});
  EXPECT_EQ(graph.network.layers[0].b, 1.0f);
}

}  // namespace
}  // namespace trt_standin
