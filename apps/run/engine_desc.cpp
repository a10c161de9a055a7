#include "engine_desc.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <stdexcept>

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

std::string StripProfileSuffix(const std::string& binding_name) {
  static const std::regex suffix(R"( \[profile [0-9]+\]$)");
  return std::regex_replace(binding_name, suffix, "");
}

std::string FormatDims(const std::vector<int>& dims) { return fmt::format("[{}]", fmt::join(dims, ",")); }

EngineDesc ParseEngineDesc(const std::string& json_text) {
  EngineDesc desc;
  try {
    const nlohmann::json j = nlohmann::json::parse(json_text);
    desc.trt_major = j.at("trt_major").get<int>();
    desc.name = j.at("name").get<std::string>();
    desc.max_batch_size = j.at("max_batch_size").get<int>();
    desc.refittable = j.at("refittable").get<bool>();
    for (const auto& b : j.at("bindings")) {
      BindingDesc binding;
      binding.index = b.at("index").get<int>();
      binding.name = b.at("name").get<std::string>();
      binding.base_name = StripProfileSuffix(binding.name);
      binding.is_input = b.at("input").get<bool>();
      binding.dtype = b.at("dtype").get<int>();
      if (binding.dtype < 0)
        throw std::runtime_error(
            fmt::format("binding {} has an unknown data type {}", binding.name, binding.dtype));
      binding.dims = b.at("dims").get<std::vector<int>>();
      desc.bindings.push_back(std::move(binding));
    }
    for (const auto& p : j.at("profiles")) {
      ProfileDesc profile;
      profile.min_dims = p.at("min").get<std::vector<std::vector<int>>>();
      profile.opt_dims = p.at("opt").get<std::vector<std::vector<int>>>();
      profile.max_dims = p.at("max").get<std::vector<std::vector<int>>>();
      desc.profiles.push_back(std::move(profile));
    }
    if (const auto memory = j.find("device_memory"); memory != j.end()) {
      desc.engine_device_bytes = memory->at("engine").get<long long>();
      desc.context_device_bytes = memory->at("context").get<long long>();
    }
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(std::string("malformed engine description: ") + e.what());
  }
  if (desc.profiles.empty()) throw std::runtime_error("the engine has no optimization profile");
  const int per_profile = desc.BindingsPerProfile();
  for (size_t p = 0; p < desc.profiles.size(); ++p) {
    ProfileDesc& profile = desc.profiles[p];
    if (static_cast<int>(profile.max_dims.size()) != per_profile ||
        static_cast<int>(profile.min_dims.size()) != per_profile ||
        static_cast<int>(profile.opt_dims.size()) != per_profile)
      throw std::runtime_error("malformed engine description: profile block size");
    for (int k = 0; k < per_profile; ++k) {
      const int b = static_cast<int>(p) * per_profile + k;
      (desc.bindings[b].is_input ? profile.inputs : profile.outputs).push_back(b);
    }
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

}  // namespace inferlet_run
