#include "model_config.h"

#include <fmt/format.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "exit_codes.h"

namespace inferlet_run {

long long TensorConfig::SampleBytes() const {
  if (shape.size() < 2 || item_size <= 0) return -1;
  long long bytes = item_size;
  for (size_t i = 1; i < shape.size(); ++i) {
    if (shape[i] <= 0) return -1;
    bytes *= shape[i];
    if (bytes > INT_MAX) return -1;
  }
  return bytes;
}

long long TensorConfig::BufferBytes() const {
  const long long sample = SampleBytes();
  return sample < 0 || shape[0] <= 0 ? -1 : sample * shape[0];
}

long long ModelConfig::BufferBytes() const {
  long long total = 0;
  for (const ProfileConfig& p : profiles) {
    for (const auto* list : {&p.inputs, &p.outputs}) {
      for (const TensorConfig& t : *list) {
        const long long bytes = t.BufferBytes();
        if (bytes < 0) return -1;
        total += bytes;
      }
    }
  }
  return total;
}

namespace {

ToolError Usage(std::string message) { return ToolError{kExitUsage, std::move(message)}; }

bool ParseInt(const std::string& text, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) return false;
  *value = static_cast<int>(parsed);
  return true;
}

std::vector<TensorConfig*> Matching(ModelConfig& config, const TensorOverride& o, const char* flag) {
  if (o.profile >= static_cast<int>(config.profiles.size()))
    throw Usage(fmt::format("{} {}:{}: the engine has {} optimization profile(s)", flag, o.profile, o.name,
                            config.profiles.size()));
  std::vector<TensorConfig*> found;
  for (size_t p = 0; p < config.profiles.size(); ++p) {
    if (o.profile >= 0 && o.profile != static_cast<int>(p)) continue;
    for (auto* list : {&config.profiles[p].inputs, &config.profiles[p].outputs})
      for (TensorConfig& t : *list)
        if (t.name == o.name) found.push_back(&t);
  }
  if (found.empty()) throw Usage(fmt::format("{}: the engine has no tensor named '{}'", flag, o.name));
  return found;
}

}  // namespace

TensorOverride ParseOverride(const std::string& text, const char* flag) {
  TensorOverride o;
  const size_t eq = text.rfind('=');
  if (eq == std::string::npos) throw Usage(fmt::format("{} '{}': expected [PROFILE:]NAME=VALUE", flag, text));
  std::string target = text.substr(0, eq);
  o.value = text.substr(eq + 1);
  size_t digits = 0;
  while (digits < target.size() && std::isdigit(static_cast<unsigned char>(target[digits]))) ++digits;
  if (digits > 0 && digits < target.size() && target[digits] == ':') {
    if (!ParseInt(target.substr(0, digits), &o.profile))
      throw Usage(fmt::format("{} '{}': bad profile number", flag, text));
    target = target.substr(digits + 1);
  }
  if (target.empty()) throw Usage(fmt::format("{} '{}': no tensor name", flag, text));
  o.name = target;
  return o;
}

std::vector<int> ParseDims(const std::string& text, const char* flag) {
  std::vector<int> dims;
  size_t start = 0;
  while (true) {
    const size_t x = text.find('x', start);
    int value = 0;
    if (!ParseInt(text.substr(start, x - start), &value))
      throw Usage(fmt::format("{}: '{}' is not a list of extents such as 10x340", flag, text));
    dims.push_back(value);
    if (x == std::string::npos) break;
    start = x + 1;
  }
  return dims;
}

namespace {

// Per profile, per input (or output), one field of each tensor.
template <typename Field>
auto PerProfile(const std::vector<ProfileConfig>& profiles, bool inputs, Field field) {
  std::vector<std::vector<decltype(field(profiles[0].inputs[0]))>> out;
  for (const ProfileConfig& p : profiles) {
    out.emplace_back();
    for (const TensorConfig& t : inputs ? p.inputs : p.outputs) out.back().push_back(field(t));
  }
  return out;
}

std::vector<int> ShapeOf(const TensorConfig& t) { return t.shape; }
int ItemSizeOf(const TensorConfig& t) { return t.item_size; }

}  // namespace

ModelConfig::Shapes ModelConfig::InShapes() const { return PerProfile(profiles, true, ShapeOf); }
ModelConfig::ItemSizes ModelConfig::InItemSizes() const { return PerProfile(profiles, true, ItemSizeOf); }
ModelConfig::Shapes ModelConfig::OutShapes() const { return PerProfile(profiles, false, ShapeOf); }
ModelConfig::ItemSizes ModelConfig::OutItemSizes() const { return PerProfile(profiles, false, ItemSizeOf); }

// An input's shapes at the profile's three points and, for a shape tensor, its values there.
static void PointsOf(const EngineDesc& engine, int profile, int binding, TensorConfig& t) {
  t.point_shapes = {engine.MinDims(profile, binding), engine.OptDims(profile, binding),
                    engine.MaxDims(profile, binding)};
  const ProfileDesc& desc = engine.profiles[static_cast<size_t>(profile)];
  const auto own = static_cast<size_t>(binding - profile * engine.BindingsPerProfile());
  const std::vector<std::vector<int64_t>>* values[] = {&desc.min_values, &desc.opt_values, &desc.max_values};
  for (size_t point = 0; point < 3; ++point)
    if (own < values[point]->size()) t.point_values[point] = (*values[point])[own];
}

ModelConfig DeriveConfig(const EngineDesc& engine, const std::vector<TensorOverride>& shapes,
                         const std::vector<TensorOverride>& item_sizes) {
  ModelConfig config;
  for (size_t p = 0; p < engine.profiles.size(); ++p) {
    ProfileConfig profile;
    for (const auto* list : {&engine.profiles[p].inputs, &engine.profiles[p].outputs}) {
      for (int b : *list) {
        const BindingDesc& binding = engine.bindings[b];
        TensorConfig t;
        t.binding = b;
        t.name = binding.base_name;
        t.is_input = binding.is_input;
        t.dtype = binding.type;
        t.shape = engine.MaxDims(static_cast<int>(p), b);
        t.item_size = binding.type.Size();
        t.data_dependent = binding.data_dependent;
        t.shape_tensor = binding.shape_tensor;
        if (t.is_input) PointsOf(engine, static_cast<int>(p), b, t);
        (t.is_input ? profile.inputs : profile.outputs).push_back(std::move(t));
      }
    }
    config.profiles.push_back(std::move(profile));
  }

  std::vector<const TensorConfig*> overridden;
  for (const TensorOverride& o : shapes) {
    const std::vector<int> dims = ParseDims(o.value, "--shape");
    for (TensorConfig* t : Matching(config, o, "--shape")) {
      t->shape = dims;
      overridden.push_back(t);
    }
  }
  for (const TensorOverride& o : item_sizes) {
    int size = 0;
    if (!ParseInt(o.value, &size))
      throw Usage(fmt::format("--item-size {}: '{}' is not a number", o.name, o.value));
    for (TensorConfig* t : Matching(config, o, "--item-size")) t->item_size = size;
  }

  for (size_t p = 0; p < config.profiles.size(); ++p) {
    for (const auto* list : {&config.profiles[p].inputs, &config.profiles[p].outputs}) {
      for (const TensorConfig& t : *list) {
        bool open = t.shape.empty();
        for (int d : t.shape) open = open || d < 0;
        bool fixed_by_user = false;
        for (const TensorConfig* o : overridden) fixed_by_user = fixed_by_user || o == &t;
        if (open && !fixed_by_user && !t.data_dependent)
          throw Usage(
              fmt::format("cannot tell the largest shape of '{}' in profile {} (the engine says {}); "
                          "give it with --shape {}:{}=...",
                          t.name, p, FormatDims(t.shape), p, t.name));
      }
    }
  }
  return config;
}

}  // namespace inferlet_run
