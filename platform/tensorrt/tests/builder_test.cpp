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

// Inputs of rank 4 and a host tensor; each case below changes one part.
const char* kLayouts = R"({"name": "n",
  "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 3, 2, 2]},
             {"name": "s", "dtype": "int32", "dims": [2], "location": "host"}],
  "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 3, 2, 2]}],
  "layers": [{"op": "relu", "inputs": ["x"], "output": "y"}],
  "profiles": [{"x": {"min": [1, 3, 2, 2], "opt": [2, 3, 2, 2], "max": [2, 3, 2, 2]},
                "s": {"min": [2], "opt": [2], "max": [2]}}]})";

TEST(BuilderTest, FormatsAndLocationsAreCheckedWithTheirKey) {
  const std::string x = R"("dims": [-1, 3, 2, 2]})";
  const std::string y = R"("dims": [-1, 3, 2, 2]}],)";
  const std::string s = R"("location": "host"})";
  auto x_with = [&](const std::string& keys) {
    return replace(kLayouts, x, R"("dims": [-1, 3, 2, 2], )" + keys + "}");
  };
  // An empty expectation: accepted.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {kLayouts, ""},
      {x_with(R"("format": "kCHW4")"), ""},
      {x_with(R"("format": ["kHWC16"])"), ""},
      {x_with(R"("format": "kDHWC8", "location": "device")"), ""},
      {replace(kLayouts, y, R"("dims": [-1, 3, 2, 2], "format": "kCHW32"}],)"), ""},
      {x_with(R"("format": "kNCHW")"), "inputs[0].format: unknown format 'kNCHW' (kLINEAR, kCHW2, "},
      {x_with(R"("format": ["kCHW4", "kLINEAR"])"), "inputs[0].format: 2 format(s) for 1 profile(s)"},
      {x_with(R"("format": [])"), "inputs[0].format: 0 format(s) for 1 profile(s)"},
      {x_with(R"("format": ["kchw4"])"), "inputs[0].format[0]: unknown format 'kchw4'"},
      {x_with(R"("format": 4)"),
       "inputs[0].format: expected a format name or an array of one name per profile"},
      {x_with(R"("format": "kDLA_LINEAR")"),
       "inputs[0].format: kDLA_LINEAR is a DLA format: DLA is not modelled"},
      {x_with(R"("format": "kDLA_HWC4")"),
       "inputs[0].format: kDLA_HWC4 is a DLA format: DLA is not modelled"},
      {replace(kBase, R"("dims": [-1, 4]})", R"("dims": [-1, 4], "format": "kCHW2"})"),
       "inputs[0].format: kCHW2 needs rank 3 or more, the tensor has rank 2"},
      {x_with(R"("format": "kCDHW32")"), ""},
      {replace(replace(replace(kLayouts, "[-1, 3, 2, 2]", "[-1, 3, 2]"), "[-1, 3, 2, 2]", "[-1, 3, 2]"),
               R"("dims": [-1, 3, 2]}],)", R"("dims": [-1, 3, 2], "format": "kDHWC"}],)"),
       "outputs[0].format: kDHWC needs rank 4 or more, the tensor has rank 3"},
      {x_with(R"("location": "shared")"), "inputs[0].location: unknown location 'shared' (device or host)"},
      {replace(kLayouts, y, R"("dims": [-1, 3, 2, 2], "location": "host"}],)"),
       "outputs[0].location: only an input can be in host memory"},
      {replace(kLayouts, R"("dtype": "int32", "dims": [2])", R"("dtype": "float", "dims": [2])"),
       "inputs[1].location: a host tensor is int32 or int64, not float"},
      {replace(kLayouts, s, R"("location": "host", "format": "kHWC"})"),
       "inputs[1].format: kHWC needs rank 3 or more, the tensor has rank 1"},
      {replace(replace(kLayouts, R"("dims": [2])", R"("dims": [2, 1, 1])"),
               R"({"min": [2], "opt": [2], "max": [2]})",
               R"({"min": [2, 1, 1], "opt": [2, 1, 1], "max": [2, 1, 1]})"),
       ""},
      {replace(replace(replace(kLayouts, R"("dims": [2])", R"("dims": [2, 1, 1])"),
                       R"({"min": [2], "opt": [2], "max": [2]})",
                       R"({"min": [2, 1, 1], "opt": [2, 1, 1], "max": [2, 1, 1]})"),
               s, R"("location": "host", "format": "kCHW4"})"),
       "inputs[1].location: a host tensor is kLINEAR, not kCHW4"},
      {replace(replace(kLayouts, R"("dims": [2])", R"("dims": [-1])"),
               R"({"min": [2], "opt": [2], "max": [2]})", R"({"min": [1], "opt": [2], "max": [2]})"),
       "inputs[1].location: a host tensor needs fixed dims, not [-1]"},
      {replace(replace(kLayouts, R"("dims": [2])", R"("dims": [])"),
               R"({"min": [2], "opt": [2], "max": [2]})", R"({"min": [], "opt": [], "max": []})"),
       "inputs[1].location: a host tensor needs rank 1 or more"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(c.first);
    if (c.second.empty()) {
      EXPECT_EQ(error, "") << c.first;
    } else {
      EXPECT_EQ(error.rfind(c.second, 0), 0u) << "got: " << error << "\nwanted: " << c.second;
    }
  }
}

// Formats are per profile, and a format is refused for the majors before the one that brought it.
TEST(BuilderTest, FormatsArePerProfileAndEachNeedsTheMajorThatHasIt) {
  struct Case {
    const char* format;
    uint32_t first_major;
  };
  for (const Case& c : {Case{"kDHWC", 10}, Case{"kHWC16", 8}}) {
    SCOPED_TRACE(c.format);
    const std::string two = std::string(R"({"name": "n",
    "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 3, 2, 2, 2], "format": ["kLINEAR", ")") +
                            c.format + R"("]}],
    "outputs": [{"name": "y", "dtype": "float", "dims": [-1, 3, 2, 2, 2]}],
    "layers": [{"op": "relu", "inputs": ["x"], "output": "y"}],
    "profiles": [{"x": {"min": [1, 3, 2, 2, 2], "opt": [1, 3, 2, 2, 2], "max": [1, 3, 2, 2, 2]}},
                 {"x": {"min": [1, 3, 2, 2, 2], "opt": [2, 3, 2, 2, 2], "max": [4, 3, 2, 2, 2]}}]})";
    Network net;
    std::string error;
    ASSERT_TRUE(network_from_json(two, &net, &error)) << error;
    TensorFormat format{};
    ASSERT_TRUE(format_from_name(c.format, &format));
    EXPECT_EQ(net.inputs[0].formats, (std::vector<TensorFormat>{TensorFormat::kLinear, format}));
    EXPECT_EQ(net.outputs[0].formats,
              (std::vector<TensorFormat>{TensorFormat::kLinear, TensorFormat::kLinear}));
    for (uint32_t major : {7u, 8u, 10u, 11u}) {
      error.clear();
      if (major < c.first_major) {
        EXPECT_FALSE(check_network_of_major(net, major, &error)) << major;
        EXPECT_EQ(error, "inputs[0].format: " + std::string(c.format) + " does not exist before TensorRT " +
                             std::to_string(c.first_major));
      } else {
        EXPECT_TRUE(check_network_of_major(net, major, &error)) << major << ": " << error;
      }
    }
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

// A plugin layer names its creator as TensorRT identifies creators; the builder records it (and needs no
// plugin library), the engine keeps it, and the runtime finds the creator when it deserializes.
TEST(BuilderTest, PluginLayerNamesItsCreator) {
  const std::string base = replace(
      replace(kBase, R"("dims": [-1, 2])", R"("dims": [-1, 4])"),
      R"("op": "dense", "inputs": ["x"], "output": "y", "units": 2, "weights": {"fill": "constant", "value": 1}})",
      R"("op": "plugin", "inputs": ["x"], "output": "y", "creator": {"name": "P", "version": "2"}})");
  EXPECT_EQ(error_of(base), "");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {replace(base, R"(, "creator": {"name": "P", "version": "2"})", ""), "layers[0].creator: missing"},
      {replace(base, R"("version": "2")", R"("version": "2", "type": "x")"),
       "layers[0].creator.type: unknown key"},
      {replace(base, R"("version": "2")", R"("namespace": 3, "version": "2")"),
       "layers[0].creator.namespace: expected a string"},
      {replace(base, R"("name": "P", )", ""), "layers[0].creator.name: missing"},
      {replace(base, R"("name": "P")", R"("name": "")"), "layers[0].creator.name: empty"},
      {replace(base, R"("version": "2")", R"("version": "")"), "layers[0].creator.version: empty"},
      {replace(base, R"("name": "P")", R"("name": ")" + std::string(1024, 'p') + "\""),
       "layers[0].creator.name: longer than 1023 bytes"},
      {replace(base, R"(, "creator")", R"(, "a": 2, "creator")"), "layers[0].a: not a parameter of plugin"},
      {replace(kBase, R"("units": 2,)", R"("units": 2, "creator": {},)"),
       "layers[0].creator: not a parameter of dense"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(c.first);
    EXPECT_EQ(error.rfind(c.second, 0), 0u) << "got: " << error << "\nwanted: " << c.second;
  }
  Network net;
  std::string error;
  ASSERT_TRUE(network_from_json(replace(base, R"("version": "2")", R"("version": "2", "namespace": "ns")"),
                                &net, &error));
  const std::vector<unsigned char> bytes = serialize_engine(net, 10);
  Graph graph;
  ASSERT_TRUE(deserialize_engine(bytes.data(), bytes.size(), 10, &graph, &error)) << error;
  const Layer& layer = graph.network.layers.at(0);
  EXPECT_EQ(layer.op, LayerOp::kPlugin);
  EXPECT_EQ(layer.plugin_name, "P");
  EXPECT_EQ(layer.plugin_version, "2");
  EXPECT_EQ(layer.plugin_namespace, "ns");
}

TEST(BuilderTest, EngineRoundTripKeepsFormatsAndLocations) {
  const std::string text = replace(replace(kLayouts, R"("dims": [-1, 3, 2, 2]})",
                                           R"("dims": [-1, 3, 2, 2], "format": ["kCHW32", "kHWC8"]})"),
                                   R"("s": {"min": [2], "opt": [2], "max": [2]}}]})",
                                   R"("s": {"min": [2], "opt": [2], "max": [2]}},
      {"x": {"min": [1, 3, 2, 2], "opt": [4, 3, 2, 2], "max": [4, 3, 2, 2]}, "s": {"min": [2], "opt": [2], "max": [2]}}]})");
  Network net;
  std::string error;
  ASSERT_TRUE(network_from_json(text, &net, &error)) << error;
  const std::vector<unsigned char> bytes = serialize_engine(net, 10);
  Graph graph;
  ASSERT_TRUE(deserialize_engine(bytes.data(), bytes.size(), 10, &graph, &error)) << error;
  const Network& back = graph.network;
  EXPECT_EQ(back.inputs[0].formats, (std::vector<TensorFormat>{TensorFormat::kCHW32, TensorFormat::kHWC8}));
  EXPECT_EQ(back.inputs[0].location, TensorLocation::kDevice);
  EXPECT_EQ(back.inputs[1].formats,
            (std::vector<TensorFormat>{TensorFormat::kLinear, TensorFormat::kLinear}));
  EXPECT_EQ(back.inputs[1].location, TensorLocation::kHost);
  EXPECT_EQ(back.outputs[0].formats, net.outputs[0].formats);
  // Staging for x: the larger of batch 2 in kCHW32 (2*1*2*2*32 floats) and batch 4 in kHWC8 (4*2*2*8).
  EXPECT_EQ(graph.io_bytes[0], 2u * 2 * 2 * 32 * 4);
  EXPECT_EQ(graph.io_bytes[1], 2u * 4);
  EXPECT_EQ(graph.io_bytes[2], 4u * 12 * 4) << "y is linear";
}

// One identity network per data type: x [-1, 3] (batch up to 3) copied to y.
std::string identity_of(const std::string& dtype) {
  return R"({"name": "n",
    "inputs": [{"name": "x", "dtype": ")" +
         dtype + R"(", "dims": [-1, 3]}],
    "outputs": [{"name": "y", "dtype": ")" +
         dtype + R"(", "dims": [-1, 3]}],
    "layers": [{"op": "identity", "inputs": ["x"], "output": "y"}],
    "profiles": [{"x": {"min": [1, 3], "opt": [2, 3], "max": [3, 3]}}]})";
}

TEST(BuilderTest, EveryDataTypeBuildsForTheMajorsThatHaveItAndIsRefusedBefore) {
  struct Row {
    const char* name;
    ElementType type;
    const char* enumerator;
    int first_major;
    std::size_t bytes_of_9;  // 3 x 3 elements: 4-bit types pack two a byte
  };
  const Row rows[] = {
      {"float", ElementType::kFloat, "kFLOAT", 7, 36},  {"half", ElementType::kHalf, "kHALF", 7, 18},
      {"int8", ElementType::kInt8, "kINT8", 7, 9},      {"int32", ElementType::kInt32, "kINT32", 7, 36},
      {"bool", ElementType::kBool, "kBOOL", 7, 9},      {"uint8", ElementType::kUint8, "kUINT8", 10, 9},
      {"fp8", ElementType::kFp8, "kFP8", 10, 9},        {"bf16", ElementType::kBf16, "kBF16", 10, 18},
      {"int64", ElementType::kInt64, "kINT64", 10, 72}, {"int4", ElementType::kInt4, "kINT4", 10, 5},
      {"fp4", ElementType::kFp4, "kFP4", 10, 5},        {"e8m0", ElementType::kE8M0, "kE8M0", 10, 9},
  };
  ASSERT_EQ(std::size(rows), static_cast<std::size_t>(kElementTypeCount));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(static_cast<int>(row.type), &row - rows) << "numbered as nvinfer1::DataType";
    EXPECT_STREQ(element_traits(row.type)->enumerator, row.enumerator);
    Network net;
    std::string error;
    ASSERT_TRUE(network_from_json(identity_of(row.name), &net, &error)) << error;
    for (uint32_t major : {7u, 8u, 10u, 11u}) {
      SCOPED_TRACE(major);
      const std::vector<unsigned char> bytes = serialize_engine(net, major);
      Graph graph;
      if (static_cast<int>(major) < row.first_major) {
        const std::string refusal = std::string("inputs[0].dtype: ") + row.name +
                                    " does not exist before TensorRT 10 (TensorRT " + std::to_string(major) +
                                    " has float, half, int8, int32 and bool)";
        EXPECT_FALSE(check_network_of_major(net, major, &error));
        EXPECT_EQ(error, refusal);
        EXPECT_FALSE(deserialize_engine(bytes.data(), bytes.size(), major, &graph, &error));
        EXPECT_EQ(error, "invalid network in engine: " + refusal) << "loading refuses it too";
        continue;
      }
      ASSERT_TRUE(check_network_of_major(net, major, &error)) << error;
      ASSERT_TRUE(deserialize_engine(bytes.data(), bytes.size(), major, &graph, &error)) << error;
      EXPECT_EQ(graph.network.inputs[0].type, row.type);
      EXPECT_EQ(graph.tensor_types, (std::vector<ElementType>{row.type, row.type}));
      EXPECT_EQ(graph.io_bytes, (std::vector<std::size_t>{row.bytes_of_9, row.bytes_of_9}));
    }
  }
  EXPECT_EQ(error_of(identity_of("double")),
            "inputs[0].dtype: unknown data type 'double' (float, half, int8, int32, bool, uint8, fp8, bf16, "
            "int64, int4, fp4 or e8m0)");
}

TEST(BuilderTest, LayersTakeTheTypesTheyComputeOn) {
  auto two_inputs = [](const char* x, const char* z, const char* y, const std::string& layer) {
    return std::string(R"({"name": "n",
      "inputs": [{"name": "x", "dtype": ")") +
           x + R"(", "dims": [-1, 3]}, {"name": "z", "dtype": ")" + z + R"(", "dims": [-1, 3]}],
      "outputs": [{"name": "y", "dtype": ")" +
           y + R"(", "dims": [-1, 3]}],
      "layers": [)" +
           layer + R"(],
      "profiles": [{"x": {"min": [1, 3], "opt": [2, 3], "max": [3, 3]},
                    "z": {"min": [1, 3], "opt": [2, 3], "max": [3, 3]}}]})";
  };
  const std::string add = R"({"op": "add", "inputs": ["x", "z"], "output": "y"})";
  // An empty expectation: accepted.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {two_inputs("int64", "int64", "int64", add), ""},
      {two_inputs("int64", "int64", "int64", R"({"op": "max", "inputs": ["x", "z"], "output": "y"})"), ""},
      {two_inputs("int64", "int64", "float", add), "outputs[0].dtype: the layer produces int64"},
      {two_inputs("int64", "float", "int64", add),
       "layers[0].inputs[1]: add takes inputs of one type, the first is int64 and this one float"},
      {two_inputs("uint8", "uint8", "uint8", add),
       "layers[0].inputs[0]: add computes on float or int64 tensors only"},
      {two_inputs("int32", "int32", "int32", R"({"op": "sub", "inputs": ["x", "z"], "output": "y"})"),
       "layers[0].inputs[0]: sub computes on float or int64 tensors only"},
      {two_inputs("bf16", "bf16", "bf16", add),
       "layers[0].inputs[0]: add computes on float or int64 tensors only"},
      {two_inputs("int64", "int64", "int64", R"({"op": "relu", "inputs": ["x"], "output": "y"})"),
       "layers[0].inputs[0]: relu computes on float tensors only"},
      {replace(kLayouts, R"("dtype": "float", "dims": [-1, 3, 2, 2]})",
               R"("dtype": "int4", "dims": [-1, 3, 2, 2], "format": "kHWC8"})"),
       "inputs[0].format: kHWC8 is not for int4: a tensor of 4-bit elements is kLINEAR"},
  };
  for (const auto& c : cases) {
    const std::string error = error_of(c.first);
    if (c.second.empty()) {
      EXPECT_EQ(error, "") << c.first;
    } else {
      EXPECT_EQ(error, c.second) << c.first;
    }
  }
}

}  // namespace
}  // namespace trt_standin
