#include "network_json.h"

#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "weight_fill.h"

namespace trt_standin {
namespace {

using nlohmann::json;

struct DescriptionError {
  std::string where;
  std::string what;
};

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw DescriptionError{where, what};
}

std::string member(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}
std::string item(const std::string& path, std::size_t i) { return path + "[" + std::to_string(i) + "]"; }

const json& object_at(const json& j, const std::string& path) {
  if (!j.is_object()) fail(path.empty() ? "(top level)" : path, "expected an object");
  return j;
}

void allow_keys(const json& obj, const std::string& path, const std::set<std::string>& allowed) {
  for (auto it = obj.begin(); it != obj.end(); ++it) {
    if (allowed.count(it.key()) == 0) fail(member(path, it.key()), "unknown key");
  }
}

const json& required(const json& obj, const std::string& path, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end()) fail(member(path, key), "missing");
  return *it;
}

std::string string_at(const json& j, const std::string& path) {
  if (!j.is_string()) fail(path, "expected a string");
  return j.get<std::string>();
}

int32_t int_at(const json& j, const std::string& path) {
  if (!j.is_number_integer()) fail(path, "expected an integer");
  const auto v = j.get<int64_t>();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    fail(path, "out of the 32-bit range");
  }
  return static_cast<int32_t>(v);
}

float float_at(const json& j, const std::string& path) {
  if (!j.is_number()) fail(path, "expected a number");
  return j.get<float>();
}

const json& array_at(const json& j, const std::string& path) {
  if (!j.is_array()) fail(path, "expected an array");
  return j;
}

Shape dims_at(const json& j, const std::string& path) {
  Shape dims;
  for (std::size_t i = 0; i < array_at(j, path).size(); ++i) dims.push_back(int_at(j[i], item(path, i)));
  return dims;
}

std::vector<int64_t> values_at(const json& j, const std::string& path) {
  std::vector<int64_t> values;
  for (std::size_t i = 0; i < array_at(j, path).size(); ++i) {
    if (!j[i].is_number_integer()) fail(item(path, i), "expected an integer");
    values.push_back(j[i].get<int64_t>());
  }
  return values;
}

TensorDesc tensor_at(const json& j, const std::string& path) {
  allow_keys(object_at(j, path), path, {"name", "dtype", "dims", "format", "location"});
  TensorDesc t;
  t.name = string_at(required(j, path, "name"), member(path, "name"));
  const std::string dtype = string_at(required(j, path, "dtype"), member(path, "dtype"));
  if (!element_type_from_name(dtype, &t.type)) {
    fail(member(path, "dtype"), "unknown data type '" + dtype + "' (" + element_type_names() + ")");
  }
  t.dims = dims_at(required(j, path, "dims"), member(path, "dims"));
  if (j.contains("location")) {
    const std::string where = member(path, "location");
    const std::string location = string_at(j["location"], where);
    if (!location_from_name(location, &t.location)) {
      fail(where, "unknown location '" + location + "' (device or host)");
    }
  }
  return t;
}

TensorFormat format_at(const json& j, const std::string& path) {
  const std::string name = string_at(j, path);
  TensorFormat format;
  if (!format_from_name(name, &format)) {
    fail(path,
         "unknown format '" + name +
             "' (kLINEAR, kCHW2, kHWC8, kCHW4, kCHW16, kCHW32, kDHWC8, kCDHW32, kHWC, kHWC16 or kDHWC)");
  }
  return format;
}

// "format": one name for every profile or an array of one per profile; kLINEAR when absent.
std::vector<TensorFormat> formats_of(const json& tensor, const std::string& path, std::size_t profiles) {
  if (!tensor.contains("format")) return std::vector<TensorFormat>(profiles, TensorFormat::kLinear);
  const json& j = tensor["format"];
  const std::string where = member(path, "format");
  if (j.is_string()) return std::vector<TensorFormat>(profiles, format_at(j, where));
  if (!j.is_array()) fail(where, "expected a format name or an array of one name per profile");
  if (j.size() != profiles) {
    fail(where, std::to_string(j.size()) + " format(s) for " + std::to_string(profiles) + " profile(s)");
  }
  std::vector<TensorFormat> formats;
  for (std::size_t i = 0; i < j.size(); ++i) formats.push_back(format_at(j[i], item(where, i)));
  return formats;
}

// An array of numbers, or a fill object producing count values.
std::vector<float> weights_at(const json& j, const std::string& path, std::size_t count) {
  if (j.is_array()) {
    std::vector<float> values;
    for (std::size_t i = 0; i < j.size(); ++i) values.push_back(float_at(j[i], item(path, i)));
    return values;
  }
  if (!j.is_object()) fail(path, "expected an array of numbers or a fill object");
  const std::string fill = string_at(required(j, path, "fill"), member(path, "fill"));
  if (fill == "random") {
    allow_keys(j, path, {"fill", "seed"});
    const json& seed = required(j, path, "seed");
    if (!seed.is_number_integer() || seed.get<int64_t>() < 0)
      fail(member(path, "seed"), "expected an integer >= 0");
    return random_weights(seed.get<uint64_t>(), count);
  }
  if (fill == "constant") {
    allow_keys(j, path, {"fill", "value"});
    return std::vector<float>(count, float_at(required(j, path, "value"), member(path, "value")));
  }
  fail(member(path, "fill"), "unknown fill '" + fill + "' (random or constant)");
}

// Tracks the last extent of every tensor, which sizes generated dense and conv1d weights.
class LastExtents {
 public:
  void set(const std::string& name, int64_t extent) { extents_[name] = extent; }
  int64_t of(const std::string& name) const {
    auto it = extents_.find(name);
    return it == extents_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, int64_t> extents_;
};

Layer layer_at(const json& j, const std::string& path, LastExtents& extents) {
  object_at(j, path);
  Layer l;
  const std::string op = string_at(required(j, path, "op"), member(path, "op"));
  if (!layer_op_from_name(op, &l.op)) fail(member(path, "op"), "unknown operation '" + op + "'");
  std::set<std::string> keys = {"op", "inputs", "output"};
  if (l.op == LayerOp::kScale || l.op == LayerOp::kScaleInPlace) keys.insert({"a", "b"});
  if (l.op == LayerOp::kDense) keys.insert({"units", "weights", "bias"});
  if (l.op == LayerOp::kConv1d) keys.insert({"weights", "bias", "kernel_size"});
  if (l.op == LayerOp::kPlugin) keys.insert("creator");
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (keys.count(it.key()) == 0) fail(member(path, it.key()), "not a parameter of " + op);
  }
  const json& inputs = array_at(required(j, path, "inputs"), member(path, "inputs"));
  for (std::size_t i = 0; i < inputs.size(); ++i)
    l.inputs.push_back(string_at(inputs[i], item(member(path, "inputs"), i)));
  l.output = string_at(required(j, path, "output"), member(path, "output"));
  const int64_t in_extent = l.inputs.empty() ? 0 : extents.of(l.inputs[0]);
  int64_t out_extent = in_extent;

  if (l.op == LayerOp::kScale || l.op == LayerOp::kScaleInPlace) {
    if (j.contains("a")) l.a = float_at(j["a"], member(path, "a"));
    if (j.contains("b")) l.b = float_at(j["b"], member(path, "b"));
  }
  if (l.op == LayerOp::kDense) {
    l.units = int_at(required(j, path, "units"), member(path, "units"));
    if (l.units <= 0) fail(member(path, "units"), "must be positive");
    const std::size_t count = static_cast<std::size_t>(std::max<int64_t>(in_extent, 0)) * l.units;
    l.weights = weights_at(required(j, path, "weights"), member(path, "weights"), count);
    l.bias = j.contains("bias") ? weights_at(j["bias"], member(path, "bias"), l.units)
                                : std::vector<float>(l.units, 0.0f);
    out_extent = l.units;
  }
  if (l.op == LayerOp::kConv1d) {
    const json& w = required(j, path, "weights");
    std::size_t taps = w.is_array() ? w.size() : 0;
    if (j.contains("kernel_size")) {
      const int32_t k = int_at(j["kernel_size"], member(path, "kernel_size"));
      if (k <= 0 || (w.is_array() && static_cast<std::size_t>(k) != w.size())) {
        fail(member(path, "kernel_size"), "must be positive and match the weights");
      }
      taps = static_cast<std::size_t>(k);
    } else if (!w.is_array()) {
      fail(member(path, "kernel_size"), "needed when the weights are a fill");
    }
    l.weights = weights_at(w, member(path, "weights"), taps);
    if (j.contains("bias")) l.bias = {float_at(j["bias"], member(path, "bias"))};
    out_extent = in_extent - static_cast<int64_t>(taps) + 1;
  }
  if (l.op == LayerOp::kPlugin) {
    // The creator as TensorRT identifies it; the builder records it and loads nothing.
    const std::string where = member(path, "creator");
    const json& creator = object_at(required(j, path, "creator"), where);
    allow_keys(creator, where, {"name", "version", "namespace"});
    l.plugin_name = string_at(required(creator, where, "name"), member(where, "name"));
    l.plugin_version = string_at(required(creator, where, "version"), member(where, "version"));
    if (creator.contains("namespace"))
      l.plugin_namespace = string_at(creator["namespace"], member(where, "namespace"));
  }
  extents.set(l.output, out_extent);
  return l;
}

Profile profile_at(const json& j, const std::string& path, const std::vector<TensorDesc>& inputs) {
  object_at(j, path);
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = false;
    for (const TensorDesc& in : inputs) known = known || in.name == it.key();
    if (!known) fail(member(path, it.key()), "not an input of the network");
  }
  Profile p;
  for (const TensorDesc& in : inputs) {
    const std::string where = member(path, in.name);
    if (!j.contains(in.name)) fail(where, "missing: every input needs a range");
    const json& r = object_at(j[in.name], where);
    allow_keys(r, where, {"min", "opt", "max", "values"});
    InputRange range;
    range.min = dims_at(required(r, where, "min"), member(where, "min"));
    range.opt = dims_at(required(r, where, "opt"), member(where, "opt"));
    range.max = dims_at(required(r, where, "max"), member(where, "max"));
    if (r.contains("values")) {
      // A shape tensor's values: {"min": [...], "opt": [...], "max": [...]}.
      const std::string at = member(where, "values");
      const json& v = object_at(r["values"], at);
      allow_keys(v, at, {"min", "opt", "max"});
      range.values_min = values_at(required(v, at, "min"), member(at, "min"));
      range.values_opt = values_at(required(v, at, "opt"), member(at, "opt"));
      range.values_max = values_at(required(v, at, "max"), member(at, "max"));
    }
    p.inputs.push_back(std::move(range));
  }
  return p;
}

Network network_at(const json& root) {
  allow_keys(object_at(root, ""), "",
             {"name", "max_batch_size", "refittable", "version_compatible", "inputs", "outputs", "layers",
              "profiles"});
  Network net;
  net.name = string_at(required(root, "", "name"), "name");
  if (root.contains("max_batch_size")) net.max_batch_size = int_at(root["max_batch_size"], "max_batch_size");
  if (root.contains("refittable")) {
    if (!root["refittable"].is_boolean()) fail("refittable", "expected true or false");
    net.refittable = root["refittable"].get<bool>();
  }
  if (root.contains("version_compatible")) {
    if (!root["version_compatible"].is_boolean()) fail("version_compatible", "expected true or false");
    net.version_compatible = root["version_compatible"].get<bool>();
  }
  const json& inputs = array_at(required(root, "", "inputs"), "inputs");
  for (std::size_t i = 0; i < inputs.size(); ++i)
    net.inputs.push_back(tensor_at(inputs[i], item("inputs", i)));
  const json& outputs = array_at(required(root, "", "outputs"), "outputs");
  for (std::size_t i = 0; i < outputs.size(); ++i)
    net.outputs.push_back(tensor_at(outputs[i], item("outputs", i)));
  const json& profiles = array_at(required(root, "", "profiles"), "profiles");
  for (std::size_t i = 0; i < profiles.size(); ++i) {
    net.profiles.push_back(profile_at(profiles[i], item("profiles", i), net.inputs));
  }
  for (std::size_t i = 0; i < inputs.size(); ++i)
    net.inputs[i].formats = formats_of(inputs[i], item("inputs", i), net.profiles.size());
  for (std::size_t i = 0; i < outputs.size(); ++i)
    net.outputs[i].formats = formats_of(outputs[i], item("outputs", i), net.profiles.size());
  LastExtents extents;
  for (std::size_t i = 0; i < net.inputs.size(); ++i) {
    const Shape& opt = net.profiles.empty() ? net.inputs[i].dims : net.profiles[0].inputs[i].opt;
    extents.set(net.inputs[i].name, opt.empty() ? 0 : opt.back());
  }
  const json& layers = array_at(required(root, "", "layers"), "layers");
  for (std::size_t i = 0; i < layers.size(); ++i)
    net.layers.push_back(layer_at(layers[i], item("layers", i), extents));
  return net;
}

}  // namespace

bool network_from_json(const std::string& text, Network* network, std::string* error) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    *error = std::string("not valid JSON: ") + e.what();
    return false;
  }
  try {
    *network = network_at(root);
    return true;
  } catch (const DescriptionError& e) {
    *error = e.where + ": " + e.what;
    return false;
  }
}

}  // namespace trt_standin
