#include "graph.h"

#include <algorithm>
#include <limits>
#include <set>
#include <sstream>
#include <utility>

#include "layout.h"

namespace trt_standin {
namespace {

constexpr std::size_t kMaxNameLength = 1024;
constexpr int kMaxBindingsPerProfile = 256;
constexpr int64_t kMaxElements = int64_t{1} << 30;

struct Checker {
  std::string* error;

  bool fail(const std::string& where, const std::string& what) {
    *error = where + ": " + what;
    return false;
  }
};

std::string indexed(const char* key, std::size_t i) {
  return std::string(key) + "[" + std::to_string(i) + "]";
}

// Saturates at kMaxElements + 1 so callers can reject oversized tensors without overflow.
int64_t capped_volume(const Shape& shape) {
  int64_t v = 1;
  for (int32_t d : shape) {
    if (d <= 0) return 0;
    v *= d;
    if (v > kMaxElements) return kMaxElements + 1;
  }
  return v;
}

bool check_dims(Checker& c, const std::string& where, const Shape& dims, bool allow_wildcard) {
  if (dims.size() > static_cast<std::size_t>(kMaxRank)) {
    return c.fail(where, "rank " + std::to_string(dims.size()) + " exceeds 8");
  }
  for (int32_t d : dims) {
    if (d < (allow_wildcard ? -1 : 0)) return c.fail(where, "invalid extent " + std::to_string(d));
  }
  return true;
}

bool check_tensor(Checker& c, const std::string& where, const TensorDesc& t) {
  if (t.name.empty() || t.name.size() > kMaxNameLength) return c.fail(where + ".name", "empty or too long");
  if (static_cast<int>(t.type) >= kElementTypeCount) return c.fail(where + ".dtype", "unknown data type");
  return check_dims(c, where + ".dims", t.dims, true);
}

// The formats (one per profile) and the location of an I/O tensor.
bool check_layout(Checker& c, const std::string& where, const TensorDesc& t, bool is_input,
                  std::size_t profiles) {
  const std::string format_key = where + ".format";
  if (t.formats.size() != profiles) {
    return c.fail(format_key, std::to_string(t.formats.size()) + " format(s) for " +
                                  std::to_string(profiles) + " profile(s)");
  }
  const int rank = static_cast<int>(t.dims.size());
  for (TensorFormat f : t.formats) {
    const FormatTraits* traits = format_traits(f);
    if (traits == nullptr) return c.fail(format_key, "unknown format " + std::to_string(static_cast<int>(f)));
    if (traits->dla)
      return c.fail(format_key, std::string(traits->name) + " is a DLA format: DLA is not modelled");
    if (rank < minimum_rank(f)) {
      return c.fail(format_key, std::string(traits->name) + " needs rank " + std::to_string(minimum_rank(f)) +
                                    " or more, the tensor has rank " + std::to_string(rank));
    }
  }
  if (is_packed(t.type)) {
    for (TensorFormat f : t.formats) {
      if (f != TensorFormat::kLinear) {
        return c.fail(format_key, std::string(format_traits(f)->name) + " is not for " +
                                      element_type_name(t.type) + ": a tensor of 4-bit elements is kLINEAR");
      }
    }
  }
  const std::string location_key = where + ".location";
  if (static_cast<int>(t.location) >= kTensorLocationCount) {
    return c.fail(location_key, "unknown location " + std::to_string(static_cast<int>(t.location)));
  }
  if (t.location != TensorLocation::kHost) return true;
  // A host tensor is a shape tensor: int32 or int64, linear, fixed extents.
  if (!is_input) return c.fail(location_key, "only an input can be in host memory");
  if (t.type != ElementType::kInt32 && t.type != ElementType::kInt64) {
    return c.fail(location_key,
                  std::string("a host tensor is int32 or int64, not ") + element_type_name(t.type));
  }
  for (TensorFormat f : t.formats) {
    if (f != TensorFormat::kLinear) {
      return c.fail(location_key, std::string("a host tensor is kLINEAR, not ") + format_traits(f)->name);
    }
  }
  if (t.dims.empty()) return c.fail(location_key, "a host tensor needs rank 1 or more");
  if (std::any_of(t.dims.begin(), t.dims.end(), [](int32_t d) { return d < 0; })) {
    return c.fail(location_key, "a host tensor needs fixed dims, not " + shape_to_string(t.dims));
  }
  return true;
}

bool check_range(Checker& c, const std::string& where, const TensorDesc& input, const InputRange& r) {
  const Shape* parts[3] = {&r.min, &r.opt, &r.max};
  const char* keys[3] = {".min", ".opt", ".max"};
  for (int k = 0; k < 3; ++k) {
    if (parts[k]->size() != input.dims.size()) {
      return c.fail(where + keys[k], "rank " + std::to_string(parts[k]->size()) +
                                         " does not match the input's " + std::to_string(input.dims.size()));
    }
    if (!check_dims(c, where + keys[k], *parts[k], false)) return false;
  }
  for (std::size_t i = 0; i < input.dims.size(); ++i) {
    if (r.min[i] > r.opt[i] || r.opt[i] > r.max[i]) {
      return c.fail(where, "axis " + std::to_string(i) + " needs min <= opt <= max");
    }
    if (input.dims[i] >= 0 && (r.min[i] != input.dims[i] || r.max[i] != input.dims[i])) {
      return c.fail(where, "axis " + std::to_string(i) + " is fixed at " + std::to_string(input.dims[i]) +
                               " by the input's dims");
    }
  }
  return true;
}

// A shape tensor's values in a profile: one per element of its fixed dims, min <= opt <= max, within
// its type.
bool check_values(Checker& c, const std::string& where, const TensorDesc& input, const InputRange& r) {
  if (!r.has_values()) return true;
  if (input.location != TensorLocation::kHost) {
    return c.fail(where + ".values", "only a shape tensor (an input in host memory) has values");
  }
  const auto count = static_cast<std::size_t>(volume(input.dims));
  const std::vector<int64_t>* parts[3] = {&r.values_min, &r.values_opt, &r.values_max};
  const char* keys[3] = {".values.min", ".values.opt", ".values.max"};
  for (int k = 0; k < 3; ++k) {
    if (parts[k]->size() != count) {
      return c.fail(where + keys[k], std::to_string(parts[k]->size()) + " value(s) for a shape tensor of " +
                                         std::to_string(count) + " element(s)");
    }
    for (int64_t v : *parts[k]) {
      if (input.type == ElementType::kInt32 &&
          (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())) {
        return c.fail(where + keys[k], std::to_string(v) + " is outside the range of an int32 shape tensor");
      }
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (r.values_min[i] > r.values_opt[i] || r.values_opt[i] > r.values_max[i]) {
      return c.fail(where + ".values", "value " + std::to_string(i) + " needs min <= opt <= max");
    }
  }
  return true;
}

// TensorRT's creator strings are NUL-terminated and at most 1024 bytes with the terminator.
constexpr std::size_t kMaxCreatorStringLength = 1023;

// A plugin layer names its creator (name and version, a namespace that may be empty); no other
// layer names one.
bool check_plugin_creator(Checker& c, const std::string& where, const Layer& l) {
  if (l.op != LayerOp::kPlugin) {
    if (!l.plugin_name.empty() || !l.plugin_version.empty() || !l.plugin_namespace.empty())
      return c.fail(where, std::string(layer_op_name(l.op)) + " names no plugin creator");
    return true;
  }
  const std::pair<const char*, const std::string*> parts[] = {{".creator.name", &l.plugin_name},
                                                              {".creator.version", &l.plugin_version},
                                                              {".creator.namespace", &l.plugin_namespace}};
  for (const auto& [key, value] : parts) {
    if (value->size() > kMaxCreatorStringLength) return c.fail(where + key, "longer than 1023 bytes");
    if (value->find('\0') != std::string::npos) return c.fail(where + key, "holds a NUL byte");
  }
  if (l.plugin_name.empty()) return c.fail(where + ".creator.name", "empty");
  if (l.plugin_version.empty()) return c.fail(where + ".creator.version", "empty");
  return true;
}

bool check_layer_params(Checker& c, const std::string& where, const Layer& l) {
  const bool uses_weights = l.op == LayerOp::kDense || l.op == LayerOp::kConv1d;
  if (!uses_weights && (!l.weights.empty() || !l.bias.empty() || l.units != 0)) {
    return c.fail(where, std::string(layer_op_name(l.op)) + " takes no weights, bias or units");
  }
  if (l.op != LayerOp::kScale && l.op != LayerOp::kScaleInPlace && (l.a != 1.0f || l.b != 0.0f)) {
    return c.fail(where, std::string(layer_op_name(l.op)) + " takes no a or b");
  }
  if (l.op == LayerOp::kDense) {
    if (l.units <= 0) return c.fail(where + ".units", "must be positive");
    if (l.weights.empty() || l.weights.size() % static_cast<std::size_t>(l.units) != 0) {
      return c.fail(where + ".weights", "size " + std::to_string(l.weights.size()) +
                                            " is not a multiple of units " + std::to_string(l.units));
    }
    if (l.bias.size() != static_cast<std::size_t>(l.units)) {
      return c.fail(where + ".bias",
                    "needs " + std::to_string(l.units) + " values, has " + std::to_string(l.bias.size()));
    }
  }
  if (l.op == LayerOp::kConv1d) {
    if (l.weights.empty()) return c.fail(where + ".weights", "needs at least one tap");
    if (l.bias.size() > 1) return c.fail(where + ".bias", "is a single value");
  }
  return check_plugin_creator(c, where, l);
}

bool is_elementwise(LayerOp op) { return layer_op_arity(op) == 2; }

// Identity copies any type; the element-wise layers also compute on int64, as TensorRT's do on
// integers (the stand-in's int32 and int8 stay float-only); everything else computes on float.
bool computes_on(LayerOp op, ElementType type) {
  if (op == LayerOp::kIdentity || op == LayerOp::kReshape || type == ElementType::kFloat) return true;
  return is_elementwise(op) && type == ElementType::kInt64;
}

bool keeps_type(LayerOp op) {
  return op == LayerOp::kIdentity || op == LayerOp::kReshape || is_elementwise(op);
}

// A reshape's second input: a network input in host memory of rank 1 whose values the profiles bound.
bool check_shape_operand(Checker& c, const std::string& where, const Graph& g, int id) {
  const std::string& name = g.tensor_names[id];
  if (id >= g.input_count() || g.network.inputs[id].location != TensorLocation::kHost ||
      g.network.inputs[id].dims.size() != 1) {
    return c.fail(
        where, "reshape takes its extents from a shape tensor (an input in host memory of rank 1), '" + name +
                   "' is not one");
  }
  if (!g.input_has_values(id)) {
    return c.fail(where, "shape tensor '" + name +
                             "' has no values in the profiles: reshape takes its extents "
                             "from them");
  }
  return true;
}

bool check_layers(Checker& c, Graph* g) {
  const Network& net = g->network;
  std::set<std::string> names(g->tensor_names.begin(), g->tensor_names.end());
  for (std::size_t i = 0; i < net.layers.size(); ++i) {
    const Layer& l = net.layers[i];
    const std::string where = indexed("layers", i);
    if (static_cast<int>(l.op) >= kLayerOpCount) return c.fail(where + ".op", "unknown operation");
    if (static_cast<int>(l.inputs.size()) != layer_op_arity(l.op)) {
      return c.fail(where + ".inputs", std::string(layer_op_name(l.op)) + " takes " +
                                           std::to_string(layer_op_arity(l.op)) + " input(s)");
    }
    std::vector<int> ids;
    for (std::size_t k = 0; k < l.inputs.size(); ++k) {
      auto it = std::find(g->tensor_names.begin(), g->tensor_names.end(), l.inputs[k]);
      if (it == g->tensor_names.end()) {
        return c.fail(where + indexed(".inputs", k), "unknown tensor '" + l.inputs[k] + "'");
      }
      const int id = static_cast<int>(it - g->tensor_names.begin());
      if (g->data_dependent[id]) {
        return c.fail(where + indexed(".inputs", k),
                      "'" + l.inputs[k] +
                          "' has a data-dependent shape: no layer reads such a tensor, only a network output "
                          "may be one");
      }
      if (!computes_on(l.op, g->tensor_types[id])) {
        return c.fail(where + indexed(".inputs", k), std::string(layer_op_name(l.op)) + " computes on " +
                                                         (is_elementwise(l.op) ? "float or int64" : "float") +
                                                         " tensors only");
      }
      if (l.op == LayerOp::kReshape && k == 1) {
        if (!check_shape_operand(c, where + indexed(".inputs", k), *g, id)) return false;
        ids.push_back(id);
        continue;
      }
      if (k > 0 && g->tensor_types[id] != g->tensor_types[ids[0]]) {
        return c.fail(where + indexed(".inputs", k),
                      std::string(layer_op_name(l.op)) + " takes inputs of one type, the first is " +
                          element_type_name(g->tensor_types[ids[0]]) + " and this one " +
                          element_type_name(g->tensor_types[id]));
      }
      ids.push_back(id);
    }
    if (l.output.empty() || l.output.size() > kMaxNameLength)
      return c.fail(where + ".output", "empty or too long");
    if (!names.insert(l.output).second)
      return c.fail(where + ".output", "tensor '" + l.output + "' already exists");
    if (!check_layer_params(c, where, l)) return false;
    g->tensor_names.push_back(l.output);
    g->tensor_types.push_back(keeps_type(l.op) ? g->tensor_types[ids[0]] : ElementType::kFloat);
    g->data_dependent.push_back(l.op == LayerOp::kKeepPositive);
    g->layer_inputs.push_back(std::move(ids));
  }
  return true;
}

// An output of data-dependent extent is declared [-1] (its rank, the extent unknown until it is
// computed) and is kLINEAR: the layer writes its elements densely.
bool check_data_dependent_output(Checker& c, const std::string& where, const TensorDesc& out) {
  if (out.dims != Shape{-1}) {
    return c.fail(where + ".dims", "the layer computes a data-dependent extent: the dims are [-1], not " +
                                       shape_to_string(out.dims));
  }
  for (TensorFormat f : out.formats) {
    if (f != TensorFormat::kLinear) {
      return c.fail(where + ".format", std::string("a tensor of data-dependent shape is kLINEAR, not ") +
                                           format_traits(f)->name);
    }
  }
  return true;
}

// A scale_in_place layer reads a network input in device memory and writes a network output of the
// same dims and formats that shares that input's memory; no two outputs share one input.
bool check_aliases(Checker& c, Graph* g) {
  const Network& net = g->network;
  g->aliased_input.assign(net.outputs.size(), -1);
  for (std::size_t i = 0; i < net.layers.size(); ++i) {
    const Layer& l = net.layers[i];
    if (l.op != LayerOp::kScaleInPlace) continue;
    const std::string where = indexed("layers", i);
    const int in = g->layer_inputs[i][0];
    const std::string prefix = "scale_in_place writes into its input's memory: ";
    if (in >= g->input_count() || net.inputs[in].location != TensorLocation::kDevice) {
      return c.fail(where + ".inputs[0]",
                    prefix + "'" + l.inputs[0] + "' is not a network input in device memory");
    }
    const int tensor = g->layer_output_tensor(static_cast<int>(i));
    const auto it = std::find(g->output_tensors.begin(), g->output_tensors.end(), tensor);
    if (it == g->output_tensors.end()) {
      return c.fail(where + ".output", prefix + "'" + l.output + "' must be a network output");
    }
    const std::size_t j = static_cast<std::size_t>(it - g->output_tensors.begin());
    const std::string out_where = indexed("outputs", j);
    const std::string alias = "an output that shares the memory of input '" + net.inputs[in].name + "'";
    if (net.outputs[j].dims != net.inputs[in].dims) {
      return c.fail(out_where + ".dims", alias + " has its dims " + shape_to_string(net.inputs[in].dims) +
                                             ", not " + shape_to_string(net.outputs[j].dims));
    }
    if (net.outputs[j].formats != net.inputs[in].formats) {
      return c.fail(out_where + ".format", alias + " has its format in every profile");
    }
    if (std::find(g->aliased_input.begin(), g->aliased_input.end(), in) != g->aliased_input.end()) {
      return c.fail(where + ".inputs[0]",
                    prefix + "input '" + net.inputs[in].name + "' is shared by another output already");
    }
    g->aliased_input[j] = in;
  }
  return true;
}

bool check_outputs(Checker& c, Graph* g) {
  const Network& net = g->network;
  std::set<std::string> seen;
  for (std::size_t j = 0; j < net.outputs.size(); ++j) {
    const TensorDesc& out = net.outputs[j];
    const std::string where = indexed("outputs", j);
    if (!check_tensor(c, where, out) || !check_layout(c, where, out, false, net.profiles.size()))
      return false;
    if (!seen.insert(out.name).second) return c.fail(where + ".name", "duplicate output '" + out.name + "'");
    auto it = std::find(g->tensor_names.begin() + g->input_count(), g->tensor_names.end(), out.name);
    if (it == g->tensor_names.end()) {
      return c.fail(where + ".name", "no layer produces '" + out.name + "'");
    }
    const int id = static_cast<int>(it - g->tensor_names.begin());
    if (g->tensor_types[id] != out.type) {
      return c.fail(where + ".dtype",
                    std::string("the layer produces ") + element_type_name(g->tensor_types[id]));
    }
    if (g->data_dependent[id] && !check_data_dependent_output(c, where, out)) return false;
    g->output_tensors.push_back(id);
  }
  return true;
}

// Extents of one binding over a profile: fixed where min and max agree, -1 elsewhere.
Shape merge_extents(const Shape& at_min, const Shape& at_max) {
  Shape merged(at_min.size());
  for (std::size_t i = 0; i < at_min.size(); ++i) merged[i] = at_min[i] == at_max[i] ? at_min[i] : -1;
  return merged;
}

// Checks profile p's input ranges and values and infers every tensor's shape at its min, opt and max:
// the inputs' extremes in *mins and *maxs, the shapes at min and max in *at_min and *at_max.
bool shapes_at_extremes(Checker& c, const Graph& g, std::size_t p, std::vector<Shape>* mins,
                        std::vector<Shape>* maxs, std::vector<Shape>* at_min, std::vector<Shape>* at_max) {
  const Network& net = g.network;
  const std::string where = indexed("profiles", p);
  std::vector<Shape> opts, at_opt;
  std::vector<std::vector<int64_t>> values_min, values_opt, values_max;
  for (std::size_t i = 0; i < net.inputs.size(); ++i) {
    const std::string input_where = where + "." + net.inputs[i].name;
    const InputRange& range = net.profiles[p].inputs[i];
    if (!check_range(c, input_where, net.inputs[i], range)) return false;
    if (!check_values(c, input_where, net.inputs[i], range)) return false;
    if (range.has_values() != g.input_has_values(static_cast<int>(i))) {
      return c.fail(input_where + ".values", "every profile or none gives a shape tensor's values");
    }
    mins->push_back(range.min);
    opts.push_back(range.opt);
    maxs->push_back(range.max);
    values_min.push_back(range.values_min);
    values_opt.push_back(range.values_opt);
    values_max.push_back(range.values_max);
  }
  std::string why;
  if (!infer_shapes(g, *mins, at_min, &why, &values_min)) return c.fail(where + " at min", why);
  if (!infer_shapes(g, opts, &at_opt, &why, &values_opt)) return c.fail(where + " at opt", why);
  if (!infer_shapes(g, *maxs, at_max, &why, &values_max)) return c.fail(where + " at max", why);
  return true;
}

bool check_profiles(Checker& c, Graph* g) {
  const Network& net = g->network;
  g->max_bytes.assign(g->tensor_names.size(), 0);
  g->io_bytes.assign(g->bindings_per_profile(), 0);
  for (std::size_t p = 0; p < net.profiles.size(); ++p) {
    const std::string where = indexed("profiles", p);
    const Profile& prof = net.profiles[p];
    if (prof.inputs.size() != net.inputs.size()) {
      return c.fail(where, "has " + std::to_string(prof.inputs.size()) + " input ranges for " +
                               std::to_string(net.inputs.size()) + " inputs");
    }
    std::vector<Shape> mins, maxs, at_min, at_max;
    if (!shapes_at_extremes(c, *g, p, &mins, &maxs, &at_min, &at_max)) return false;

    std::vector<Shape> dims;
    for (std::size_t i = 0; i < net.inputs.size(); ++i) dims.push_back(merge_extents(mins[i], maxs[i]));
    for (std::size_t j = 0; j < net.outputs.size(); ++j) {
      const int id = g->output_tensors[j];
      if (g->data_dependent[id]) {
        dims.push_back(Shape{-1});  // known once the network has run
        continue;
      }
      const Shape& declared = net.outputs[j].dims;
      Shape merged = merge_extents(at_min[id], at_max[id]);
      bool agrees = declared.size() == merged.size();
      for (std::size_t k = 0; agrees && k < declared.size(); ++k)
        agrees = declared[k] < 0 || declared[k] == merged[k];
      if (!agrees) {
        return c.fail(indexed("outputs", j) + ".dims", shape_to_string(declared) + " does not match " +
                                                           shape_to_string(merged) + " computed for " +
                                                           where);
      }
      dims.push_back(std::move(merged));
    }
    g->profile_dims.push_back(std::move(dims));

    for (std::size_t t = 0; t < at_max.size(); ++t) {
      const int64_t elements = capped_volume(at_max[t]);
      if (elements > kMaxElements) return c.fail(where, "tensor '" + g->tensor_names[t] + "' is too large");
      const std::size_t bytes = tensor_bytes(g->tensor_types[t], elements);
      g->max_bytes[t] = std::max(g->max_bytes[t], bytes);
    }
    // Padding makes a layout up to 32 times the dense tensor: no overflow, but it may be too large.
    for (int io = 0; io < g->bindings_per_profile(); ++io) {
      const Shape& shape = at_max[g->io_tensor(io)];
      if (layout_scalars(g->io_format(io, static_cast<int>(p)), shape) > kMaxElements) {
        return c.fail(where, "tensor '" + g->io_desc(io).name + "' is too large in its format");
      }
      g->io_bytes[io] = std::max(g->io_bytes[io], g->io_layout_bytes(io, static_cast<int>(p), shape));
    }
  }
  return true;
}

// The description's names of the types a major has: "float, half, int8, int32 and bool".
std::string types_of_major(uint32_t trt_major) {
  std::vector<const char*> names;
  for (int i = 0; i < kElementTypeCount; ++i) {
    const ElementTraits* type = element_traits(static_cast<ElementType>(i));
    if (static_cast<uint32_t>(type->first_major) <= trt_major) names.push_back(type->name);
  }
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

bool build_graph(Network net, Graph* graph, std::string* error) {
  Checker c{error};
  Graph g;
  g.network = std::move(net);
  const Network& n = g.network;
  if (n.name.size() > kMaxNameLength) return c.fail("name", "too long");
  if (n.max_batch_size < 1) return c.fail("max_batch_size", "must be at least 1");
  if (n.inputs.empty()) return c.fail("inputs", "at least one input is needed");
  if (n.outputs.empty()) return c.fail("outputs", "at least one output is needed");
  if (n.inputs.size() + n.outputs.size() > static_cast<std::size_t>(kMaxBindingsPerProfile)) {
    return c.fail("inputs", "too many inputs and outputs");
  }
  if (n.profiles.empty() || n.profiles.size() > static_cast<std::size_t>(kMaxProfiles)) {
    return c.fail("profiles", "needs 1 to " + std::to_string(kMaxProfiles) + " profiles");
  }
  std::set<std::string> names;
  for (std::size_t i = 0; i < n.inputs.size(); ++i) {
    const std::string where = indexed("inputs", i);
    if (!check_tensor(c, where, n.inputs[i]) || !check_layout(c, where, n.inputs[i], true, n.profiles.size()))
      return false;
    if (!names.insert(n.inputs[i].name).second)
      return c.fail(where + ".name", "duplicate '" + n.inputs[i].name + "'");
    g.tensor_names.push_back(n.inputs[i].name);
    g.tensor_types.push_back(n.inputs[i].type);
    g.data_dependent.push_back(false);
  }
  if (!check_layers(c, &g) || !check_outputs(c, &g) || !check_aliases(c, &g) || !check_profiles(c, &g)) {
    return false;
  }
  *graph = std::move(g);
  return true;
}

std::size_t Graph::io_layout_bytes(int io, int profile, const Shape& shape) const {
  return tensor_bytes(tensor_types[io_tensor(io)], layout_scalars(io_format(io, profile), shape));
}

bool Graph::input_read_as_data(int input) const {
  for (std::size_t l = 0; l < layer_inputs.size(); ++l) {
    const std::vector<int>& in = layer_inputs[l];
    for (std::size_t k = 0; k < in.size(); ++k) {
      const bool shape_operand = network.layers[l].op == LayerOp::kReshape && k == 1;
      if (in[k] == input && !shape_operand) return true;
    }
  }
  return false;
}

bool Graph::has_data_dependent_output() const {
  return std::any_of(output_tensors.begin(), output_tensors.end(),
                     [this](int t) { return data_dependent[t]; });
}

bool Graph::io_needs_dense_copy(int io) const {
  const std::vector<TensorFormat>& formats = io_desc(io).formats;
  return std::any_of(formats.begin(), formats.end(),
                     [](TensorFormat f) { return f != TensorFormat::kLinear; });
}

bool check_network_of_major(const Network& net, uint32_t trt_major, std::string* error) {
  Checker c{error};
  if (net.version_compatible && trt_major < kFirstMajorWithVersionCompatibility) {
    return c.fail("version_compatible", "version-compatible engines do not exist before TensorRT " +
                                            std::to_string(kFirstMajorWithVersionCompatibility));
  }
  for (std::size_t i = 0; i < net.layers.size(); ++i) {
    if (net.layers[i].op == LayerOp::kScaleInPlace && trt_major < kFirstMajorWithAliasedOutputs) {
      return c.fail(
          indexed("layers", i) + ".op",
          "scale_in_place writes its output into its input's memory, which an application learns only "
          "from ICudaEngine::getAliasedInputTensor: TensorRT " +
              std::to_string(kFirstMajorWithAliasedOutputs) + " and later");
    }
    if (net.layers[i].op == LayerOp::kKeepPositive && trt_major < kFirstMajorWithDataDependentShapes) {
      return c.fail(indexed("layers", i) + ".op",
                    "keep_positive computes a data-dependent shape, which needs IOutputAllocator: TensorRT " +
                        std::to_string(kFirstMajorWithDataDependentShapes) + " and later");
    }
  }
  const std::vector<TensorDesc>* groups[2] = {&net.inputs, &net.outputs};
  const char* keys[2] = {"inputs", "outputs"};
  for (int k = 0; k < 2; ++k) {
    for (std::size_t i = 0; i < groups[k]->size(); ++i) {
      const TensorDesc& t = (*groups[k])[i];
      const ElementTraits* type = element_traits(t.type);
      if (type != nullptr && static_cast<uint32_t>(type->first_major) > trt_major) {
        return c.fail(indexed(keys[k], i) + ".dtype",
                      std::string(type->name) + " does not exist before TensorRT " +
                          std::to_string(type->first_major) + " (TensorRT " + std::to_string(trt_major) +
                          " has " + types_of_major(trt_major) + ")");
      }
      for (TensorFormat f : t.formats) {
        const FormatTraits* traits = format_traits(f);
        if (traits != nullptr && static_cast<uint32_t>(traits->first_major) > trt_major) {
          return c.fail(indexed(keys[k], i) + ".format", std::string(traits->name) +
                                                             " does not exist before TensorRT " +
                                                             std::to_string(traits->first_major));
        }
      }
    }
  }
  return true;
}

namespace {

// The extents a reshape takes from its shape tensor's values; its volume must be its input's.
bool reshaped(const Graph& graph, const std::string& where, const Shape& x, int shape_input,
              const std::vector<std::vector<int64_t>>* values, Shape* out, std::string* error) {
  const std::string& name = graph.tensor_names[shape_input];
  if (values == nullptr || static_cast<std::size_t>(shape_input) >= values->size() ||
      (*values)[shape_input].empty()) {
    *error = where + ": the values of shape tensor '" + name + "' are not known";
    return false;
  }
  Shape extents;
  for (int64_t v : (*values)[shape_input]) {
    if (v < 0 || v > std::numeric_limits<int32_t>::max()) {
      *error = where + ": shape tensor '" + name + "' gives the extent " + std::to_string(v);
      return false;
    }
    extents.push_back(static_cast<int32_t>(v));
  }
  if (capped_volume(extents) != capped_volume(x)) {
    *error = where + ": " + shape_to_string(extents) + " from shape tensor '" + name +
             "' does not hold the " + std::to_string(capped_volume(x)) + " element(s) of " +
             shape_to_string(x);
    return false;
  }
  *out = std::move(extents);
  return true;
}

}  // namespace

bool infer_shapes(const Graph& graph, const std::vector<Shape>& input_shapes, std::vector<Shape>* shapes,
                  std::string* error, const std::vector<std::vector<int64_t>>* values) {
  const Network& net = graph.network;
  if (input_shapes.size() != net.inputs.size()) {
    *error = "expected " + std::to_string(net.inputs.size()) + " input shapes";
    return false;
  }
  std::vector<Shape> s(input_shapes);
  s.reserve(graph.tensor_names.size());
  for (std::size_t i = 0; i < net.layers.size(); ++i) {
    const Layer& l = net.layers[i];
    const std::vector<int>& in = graph.layer_inputs[i];
    const Shape& x = s[in[0]];
    const std::string where = indexed("layers", i) + " (" + layer_op_name(l.op) + ")";
    Shape out = x;
    switch (l.op) {
      case LayerOp::kAdd:
      case LayerOp::kSub:
      case LayerOp::kMul:
      case LayerOp::kMax:
        if (s[in[1]] != x) {
          *error = where + ": input shapes " + shape_to_string(x) + " and " + shape_to_string(s[in[1]]) +
                   " differ";
          return false;
        }
        break;
      case LayerOp::kDense: {
        const int64_t features = x.empty() ? 0 : x.back();
        if (features <= 0 ||
            static_cast<std::size_t>(features) * static_cast<std::size_t>(l.units) != l.weights.size()) {
          *error = where + ": input " + shape_to_string(x) + " does not fit " +
                   std::to_string(l.weights.size()) + " weights for " + std::to_string(l.units) + " units";
          return false;
        }
        out.back() = l.units;
        break;
      }
      case LayerOp::kConv1d: {
        const int64_t length = x.empty() ? 0 : x.back();
        if (length < static_cast<int64_t>(l.weights.size())) {
          *error = where + ": input " + shape_to_string(x) + " is shorter than the " +
                   std::to_string(l.weights.size()) + "-tap kernel";
          return false;
        }
        out.back() = static_cast<int32_t>(length - static_cast<int64_t>(l.weights.size()) + 1);
        break;
      }
      case LayerOp::kReshape:
        if (!reshaped(graph, where, x, in[1], values, &out, error)) return false;
        break;
      case LayerOp::kKeepPositive:
        // At most every element is kept: the upper bound the buffers are sized for.
        out = Shape{static_cast<int32_t>(capped_volume(x))};
        break;
      default:
        break;
    }
    s.push_back(std::move(out));
  }
  *shapes = std::move(s);
  return true;
}

int64_t volume(const Shape& shape) {
  int64_t v = 1;
  for (int32_t d : shape) v *= d < 0 ? 0 : d;
  return v;
}

std::string shape_to_string(const Shape& shape) {
  std::ostringstream os;
  os << "[";
  for (std::size_t i = 0; i < shape.size(); ++i) os << (i ? ", " : "") << shape[i];
  os << "]";
  return os.str();
}

}  // namespace trt_standin
