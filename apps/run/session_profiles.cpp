#include "session_profiles.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

constexpr const char* kWhy =
    "the engine has dynamic shapes, so every session needs an optimization profile of its own (TensorRT "
    "requires separate profiles for execution contexts in concurrent use)";

}  // namespace

bool HasDynamicShapes(const EngineDesc& engine) {
  for (const BindingDesc& b : engine.bindings)
    if (std::find(b.dims.begin(), b.dims.end(), -1) != b.dims.end()) return true;
  return false;
}

std::vector<int> SessionProfiles(const Options& o, const EngineDesc& engine) {
  const int count = static_cast<int>(engine.profiles.size());
  const bool dynamic = HasDynamicShapes(engine);
  if (!o.session_profiles.empty()) {
    const std::string listed = fmt::format("{}", fmt::join(o.session_profiles, ","));
    for (size_t i = 0; i < o.session_profiles.size(); ++i) {
      const int p = o.session_profiles[i];
      if (p >= count)
        throw ToolError{kExitUsage, fmt::format("--profiles {}: the engine has {} optimization profile(s)",
                                                listed, count)};
      const auto first = std::find(o.session_profiles.begin(), o.session_profiles.end(), p);
      if (dynamic && static_cast<size_t>(first - o.session_profiles.begin()) != i)
        throw ToolError{kExitUsage,
                        fmt::format("--profiles {}: profile {} is given twice: {}", listed, p, kWhy)};
    }
    return o.session_profiles;
  }
  if (!dynamic) return std::vector<int>(static_cast<size_t>(o.sessions), o.profile);
  const int available = count - o.profile;
  if (o.sessions > count)  // no choice of profiles helps: say what would
    throw ToolError{kExitUsage,
                    fmt::format("--sessions {}: {}, and it has {}: run {}, or build the engine with more "
                                "optimization profiles or with static shapes",
                                o.sessions, kWhy, count == 1 ? "only one" : std::to_string(count),
                                count == 1 ? "one session" : fmt::format("at most {} sessions", count))};
  if (o.sessions > available)
    throw ToolError{
        kExitUsage,
        fmt::format("--sessions {}: {}, and it has {} from profile {} on (give --profiles to choose them)",
                    o.sessions, kWhy, available, o.profile)};
  std::vector<int> profiles;
  for (int i = 0; i < o.sessions; ++i) profiles.push_back(o.profile + i);
  return profiles;
}

}  // namespace inferlet_run
