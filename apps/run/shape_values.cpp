#include "shape_values.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cstdint>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

constexpr const char* kPointNames[] = {"min", "opt", "max"};
// Where the points' shapes coincide (an input that does not vary), the one TensorRT tunes for wins.
constexpr size_t kPointOrder[] = {1, 2, 0};

bool AtPoint(const ProfileConfig& profile, const std::vector<std::vector<int>>& call_shapes, size_t point) {
  for (size_t i = 0; i < profile.inputs.size(); ++i) {
    const TensorConfig& t = profile.inputs[i];
    if (!t.shape_tensor && t.point_shapes[point] != call_shapes[i]) return false;
  }
  return true;
}

// "in0 [3,6]": the other inputs at the run's shapes, for a refusal.
std::string OtherInputs(const ProfileConfig& profile, const std::vector<std::vector<int>>& call_shapes) {
  std::vector<std::string> named;
  for (size_t i = 0; i < profile.inputs.size(); ++i)
    if (!profile.inputs[i].shape_tensor)
      named.push_back(fmt::format("{} {}", profile.inputs[i].name, FormatDims(call_shapes[i])));
  return fmt::format("{}", fmt::join(named, ", "));
}

// The values in the tensor's own type: 32- or 64-bit integers, as TensorRT's shape tensors are.
std::string Encoded(const std::vector<int64_t>& values, int item_size) {
  std::string data;
  for (int64_t v : values) {
    if (item_size == 4) {
      const auto narrow = static_cast<int32_t>(v);
      data.append(reinterpret_cast<const char*>(&narrow), sizeof(narrow));
    } else {
      data.append(reinterpret_cast<const char*>(&v), sizeof(v));
    }
  }
  return data;
}

}  // namespace

std::vector<std::vector<int>> BatchShapes(const ProfileConfig& profile, int batch) {
  std::vector<std::vector<int>> shapes;
  for (const TensorConfig& t : profile.inputs) {
    shapes.emplace_back();
    if (t.shape_tensor) continue;
    shapes.back() = t.shape;
    if (!shapes.back().empty()) shapes.back()[0] = batch;
  }
  return shapes;
}

ShapeTensorValues ProfileShapeValues(const ProfileConfig& profile, size_t index,
                                     const std::vector<std::vector<int>>& call_shapes, int profile_index) {
  const TensorConfig& tensor = profile.inputs[index];
  const bool typed = tensor.item_size == 4 || tensor.item_size == 8;
  if (!typed || tensor.point_values[0].empty())
    throw ToolError{
        kExitUsage,
        fmt::format("input '{0}' is a shape tensor whose values in profile {1} the sessions library "
                    "does not tell, so inferlet-run cannot make them up; give them with --input "
                    "{0}=FILE.npy",
                    tensor.name, profile_index)};
  for (size_t point : kPointOrder) {
    if (!AtPoint(profile, call_shapes, point)) continue;
    return {tensor.point_shapes[point], Encoded(tensor.point_values[point], tensor.item_size),
            fmt::format("profile {} {} values", profile_index, kPointNames[point])};
  }
  throw ToolError{
      kExitUsage,
      fmt::format("input '{0}' is a shape tensor: inferlet-run gives it profile {1}'s values at "
                  "the point (min, opt or max) whose shapes the other inputs have, and at the "
                  "run's shapes ({2}) they are at none; give its values with --input {0}=FILE.npy",
                  tensor.name, profile_index, OtherInputs(profile, call_shapes))};
}

}  // namespace inferlet_run
