#include "engine_desc.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "exit_codes.h"

namespace inferlet_run {

int EngineDesc::BindingsPerProfile() const {
  return profiles.empty() ? 0 : static_cast<int>(bindings.size() / profiles.size());
}

const std::vector<int>& EngineDesc::MinDims(int profile, int binding) const {
  return profiles.at(profile).min_dims.at(binding - profile * BindingsPerProfile());
}

const std::vector<int>& EngineDesc::OptDims(int profile, int binding) const {
  return profiles.at(profile).opt_dims.at(binding - profile * BindingsPerProfile());
}

const std::vector<int>& EngineDesc::MaxDims(int profile, int binding) const {
  return profiles.at(profile).max_dims.at(binding - profile * BindingsPerProfile());
}

std::string FormatDims(const std::vector<int>& dims) { return fmt::format("[{}]", fmt::join(dims, ",")); }

namespace {

std::vector<int> ToInts(const inferlet_loader::Dims& dims) {
  return std::vector<int>(dims.begin(), dims.end());
}

bool AllKnown(const inferlet_loader::Dims& dims) {
  for (int64_t d : dims)
    if (d < 0) return false;
  return !dims.empty();
}

// Every tensor's dimensions at one point of a profile (resolved: as the library answered them).
std::vector<std::vector<int>> AtPoint(const inferlet_loader::EngineDescription& description,
                                      const std::vector<inferlet_loader::Dims>& resolved) {
  int batch = -1;
  for (size_t t = 0; t < description.tensors.size() && batch < 0; ++t)
    if (description.tensors[t].is_input && !resolved[t].empty()) batch = static_cast<int>(resolved[t][0]);
  std::vector<std::vector<int>> dims;
  for (size_t t = 0; t < description.tensors.size(); ++t) {
    const inferlet_loader::TensorDescription& tensor = description.tensors[t];
    if (tensor.is_input || tensor.data_dependent || AllKnown(resolved[t])) {
      dims.push_back(ToInts(resolved[t]));
      continue;
    }
    std::vector<int> own = ToInts(tensor.dims);
    if (!own.empty() && own[0] < 0) own[0] = batch;
    dims.push_back(std::move(own));
  }
  return dims;
}

}  // namespace

EngineDesc DescribeEngine(const inferlet_loader::EngineDescription& description) {
  if (description.profiles.empty()) throw ToolError{kExitInput, "the engine has no optimization profile"};
  EngineDesc desc;
  desc.trt_major = description.trt_major;
  desc.name = description.name;
  desc.max_batch_size = description.max_batch_size;
  desc.refittable = description.refittable;
  desc.engine_device_bytes = static_cast<long long>(description.engine_bytes);
  desc.context_device_bytes = static_cast<long long>(description.context_bytes);
  for (size_t p = 0; p < description.profiles.size(); ++p) {
    ProfileDesc profile;
    for (const inferlet_loader::TensorDescription& tensor : description.tensors) {
      BindingDesc binding;
      binding.index = static_cast<int>(desc.bindings.size());
      binding.base_name = tensor.name;
      binding.name = p == 0 ? tensor.name : fmt::format("{} [profile {}]", tensor.name, p);
      binding.is_input = tensor.is_input;
      binding.dtype = tensor.dtype;
      binding.dims = ToInts(tensor.dims);
      binding.data_dependent = tensor.data_dependent;
      binding.shape_tensor = tensor.is_input && tensor.on_host;
      (binding.is_input ? profile.inputs : profile.outputs).push_back(binding.index);
      desc.bindings.push_back(std::move(binding));
    }
    profile.min_dims = AtPoint(description, description.profiles[p].min);
    profile.opt_dims = AtPoint(description, description.profiles[p].opt);
    profile.max_dims = AtPoint(description, description.profiles[p].max);
    profile.min_values = description.profiles[p].min_values;
    profile.opt_values = description.profiles[p].opt_values;
    profile.max_values = description.profiles[p].max_values;
    desc.profiles.push_back(std::move(profile));
  }
  return desc;
}

void DescribeTypes(EngineDesc& engine, const DataTypes& types) {
  for (BindingDesc& b : engine.bindings) {
    if (b.dtype < 0 || b.dtype >= static_cast<int>(types.all().size()))
      throw ToolError{kExitInput, fmt::format("binding {} has an unknown data type {}", b.name, b.dtype)};
    b.type = types.Of(b.dtype);
  }
}

void RequireServableTypes(const EngineDesc& engine) {
  for (const BindingDesc& b : engine.bindings)
    if (!b.type.Servable())
      throw ToolError{kExitInput, fmt::format("{} '{}' is of data type {}, which inferlet-run cannot {}",
                                              b.is_input ? "input" : "output", b.base_name, b.type.trt_name,
                                              b.is_input ? "fill or read" : "read")};
}

void RequireLegacyServable(const EngineDesc& engine) {
  for (const BindingDesc& b : engine.bindings) {
    if (!b.data_dependent && !b.shape_tensor) continue;
    const std::string what =
        b.data_dependent
            ? fmt::format("output '{}' is data-dependent (its extents are known once a call has run)",
                          b.base_name)
            : fmt::format("input '{}' is a shape tensor (its values steer shapes)", b.base_name);
    throw ToolError{kExitInput,
                    what + ", which the legacy kestrel_trt_* interface cannot serve: give --api sessions"};
  }
}

}  // namespace inferlet_run
