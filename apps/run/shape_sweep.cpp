#include "shape_sweep.h"

#include <fmt/format.h>

#include <algorithm>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

[[noreturn]] void Usage(const std::string& message) { throw ToolError{kExitUsage, message}; }

// The shapes of one input, "1x340,4x340".
std::vector<std::vector<int>> ParseShapes(const std::string& flag, const std::string& values,
                                          const TensorConfig& input) {
  std::vector<std::vector<int>> shapes;
  size_t start = 0;
  while (true) {
    const size_t comma = values.find(',', start);
    std::vector<int> dims = ParseDims(
        values.substr(start, comma == std::string::npos ? std::string::npos : comma - start), "--shapes");
    if (dims.size() != input.shape.size())
      Usage(fmt::format("--shapes {}: input '{}' has {} dimensions ({})", flag, input.name,
                        input.shape.size(), FormatDims(input.shape)));
    for (int d : dims)
      if (d < 1) Usage(fmt::format("--shapes {}: every extent must be at least 1", flag));
    shapes.push_back(std::move(dims));
    if (comma == std::string::npos) return shapes;
    start = comma + 1;
  }
}

}  // namespace

std::vector<ShapeRow> PlanShapeRows(const std::vector<std::string>& flags, const ProfileConfig& profile,
                                    int profile_index) {
  std::vector<std::vector<std::vector<int>>> per_input(profile.inputs.size());
  int first_named = -1;
  for (const std::string& flag : flags) {
    const TensorOverride target = ParseOverride(flag, "--shapes");
    if (target.profile >= 0) Usage(fmt::format("--shapes {}: give NAME=DxD,DxD..", flag));
    const auto it = std::find_if(profile.inputs.begin(), profile.inputs.end(),
                                 [&](const TensorConfig& t) { return t.name == target.name; });
    if (it == profile.inputs.end())
      Usage(fmt::format("--shapes: profile {} has no input named '{}'", profile_index, target.name));
    const size_t i = static_cast<size_t>(it - profile.inputs.begin());
    if (!per_input[i].empty()) Usage(fmt::format("--shapes: input '{}' is given twice", target.name));
    per_input[i] = ParseShapes(flag, target.value, *it);
    if (first_named < 0) first_named = static_cast<int>(i);
  }
  const std::vector<std::vector<int>>& lead = per_input[static_cast<size_t>(first_named)];
  for (size_t i = 0; i < per_input.size(); ++i)
    if (!per_input[i].empty() && per_input[i].size() != lead.size())
      Usage(fmt::format("--shapes: input '{}' has {} shape(s), '{}' {}; give every input the same number",
                        profile.inputs[static_cast<size_t>(first_named)].name, lead.size(),
                        profile.inputs[i].name, per_input[i].size()));
  std::vector<ShapeRow> rows(lead.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t i = 0; i < per_input.size(); ++i) {
      if (!per_input[i].empty()) {
        rows[r].inputs.push_back(per_input[i][r]);
        continue;
      }
      std::vector<int> shape = profile.inputs[i].shape;
      if (!shape.empty()) shape[0] = lead[r][0];
      rows[r].inputs.push_back(std::move(shape));
    }
  }
  return rows;
}

int LegacyRowBatch(const ShapeRow& row, const ProfileConfig& profile) {
  const int batch = row.inputs.empty() || row.inputs[0].empty() ? 1 : row.inputs[0][0];
  for (size_t i = 0; i < row.inputs.size(); ++i) {
    const std::vector<int>& shape = row.inputs[i];
    const std::vector<int>& configured = profile.inputs[i].shape;
    if (!std::equal(shape.begin() + 1, shape.end(), configured.begin() + 1, configured.end()))
      Usage(
          fmt::format("--shapes: input '{}' {} differs from its configured {} after the batch: with --api "
                      "legacy a call sets only the batch (give --api sessions, or --shape)",
                      profile.inputs[i].name, FormatDims(shape), FormatDims(configured)));
    if (shape[0] != batch)
      Usage(fmt::format(
          "--shapes: with --api legacy every input of a call takes one batch, not {} for '{}' and "
          "{} for '{}'",
          batch, profile.inputs[0].name, shape[0], profile.inputs[i].name));
  }
  return batch;
}

}  // namespace inferlet_run
