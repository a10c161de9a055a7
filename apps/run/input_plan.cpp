#include "input_plan.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <map>
#include <vector>

#include "exit_codes.h"
#include "npy.h"
#include "shape_values.h"
#include "tensor_data.h"

namespace inferlet_run {

namespace {

struct InputFile {
  std::string path;
  NpyArray array;
};

// The files named with --input, by input name (a later --input of the same input wins).
std::map<std::string, InputFile> ReadInputFiles(const Options& o, const ProfileConfig& profile) {
  std::map<std::string, InputFile> files;
  for (const std::string& entry : o.inputs) {
    const TensorOverride target = ParseOverride(entry, "--input");
    if (target.profile >= 0)
      throw ToolError{kExitUsage, fmt::format("--input {}: give NAME=FILE.npy", entry)};
    bool known = false;
    for (const TensorConfig& t : profile.inputs) known = known || t.name == target.name;
    if (!known)
      throw ToolError{kExitUsage,
                      fmt::format("--input: profile {} has no input named '{}'", o.profile, target.name)};
    files[target.name] = InputFile{target.value, ReadNpy(target.value)};
  }
  return files;
}

// The samples a file holds: its first extent when it is of the input's data type (and then its other
// extents must be the input's), else its bytes in whole samples.
int SamplesIn(const InputFile& file, const TensorConfig& t) {
  if (t.shape_tensor) return 0;  // a shape tensor's extents are its own, not samples
  RequireSampleSize(t);
  const NpyArray& a = file.array;
  if (!t.ItemMatchesDType()) {
    const size_t sample = static_cast<size_t>(t.SampleBytes());
    if (a.data.size() % sample != 0)
      throw ToolError{kExitInput, fmt::format("{}: {} bytes is not a whole number of {}-byte samples of '{}'",
                                              file.path, a.data.size(), sample, t.name)};
    return static_cast<int>(a.data.size() / sample);
  }
  if (a.descr != t.dtype.npy_descr)
    throw ToolError{kExitInput, fmt::format("{}: holds {} but input '{}' is {}", file.path, a.descr, t.name,
                                            t.dtype.npy_descr)};
  const std::vector<size_t> expected(t.shape.begin() + 1, t.shape.end());
  if (a.shape.size() != t.shape.size() || !std::equal(expected.begin(), expected.end(), a.shape.begin() + 1))
    throw ToolError{kExitInput, fmt::format("{}: shape ({}) does not fit input '{}' configured as {}",
                                            file.path, fmt::join(a.shape, ","), t.name, FormatDims(t.shape))};
  return static_cast<int>(a.shape[0]);
}

// The largest batch every input of the profile is configured for; 0 when none says.
int LargestBatch(const ProfileConfig& profile) {
  int largest = 0;
  for (const TensorConfig& t : profile.inputs)
    if (!t.shape_tensor && !t.shape.empty() && t.shape[0] > 0 && (largest == 0 || t.shape[0] < largest))
      largest = t.shape[0];
  return largest;
}

// --batch above the profile's largest batch, in words before anything runs: the library would refuse
// the first call.
void RequireBatchWithinProfile(const Options& o, const ProfileConfig& profile) {
  const int largest = LargestBatch(profile);
  if (largest > 0 && o.batch > largest)
    throw ToolError{kExitUsage, fmt::format("--batch {}: profile {} takes at most {} samples per call",
                                            o.batch, o.profile, largest)};
}

int ChooseBatch(const Options& o, const ProfileConfig& profile,
                const std::map<std::string, InputFile>& files) {
  RequireBatchWithinProfile(o, profile);
  int batch = o.batch;
  for (const TensorConfig& t : profile.inputs) {
    const auto file = files.find(t.name);
    if (file == files.end()) continue;
    if (t.shape_tensor) continue;
    const int samples = SamplesIn(file->second, t);
    if (batch == 0) batch = samples;
    if (samples != batch)
      throw ToolError{kExitInput, fmt::format("{}: holds {} samples, but the batch is {}", file->second.path,
                                              samples, batch)};
  }
  if (batch == 0)
    batch = profile.inputs.empty() || profile.inputs[0].shape.empty() ? 1 : profile.inputs[0].shape[0];
  if (batch <= 0)
    throw ToolError{kExitUsage,
                    fmt::format("the configured batch of profile {} is {}; give --batch", o.profile, batch)};
  return batch;
}

}  // namespace

// A shape tensor's values that no file gives: the profile's at the point of the calls' shapes.
void TakeProfileValues(const ProfileConfig& profile, size_t index,
                       const std::vector<std::vector<int>>& shapes, int profile_index, InputPlan& plan) {
  ShapeTensorValues values = ProfileShapeValues(profile, index, shapes, profile_index);
  plan.own_shapes[index] = std::move(values.shape);
  plan.data.push_back(std::move(values.data));
  plan.sources.push_back(std::move(values.source));
}

// A shape tensor's values as its file holds them, at the file's shape.
void TakeShapeTensorFile(const TensorConfig& t, InputFile& file, InputPlan& plan) {
  if (file.array.descr != t.dtype.npy_descr)
    throw ToolError{kExitInput, fmt::format("{}: holds {} but input '{}' is {}", file.path, file.array.descr,
                                            t.name, t.dtype.npy_descr)};
  plan.own_shapes.back().assign(file.array.shape.begin(), file.array.shape.end());
  plan.data.push_back(std::move(file.array.data));
  plan.sources.push_back(file.path);
}

void RequireSampleSize(const TensorConfig& input) {
  if (input.SampleBytes() <= 0)
    throw ToolError{kExitUsage,
                    fmt::format("input '{}' is configured as {} with item size {}: no sample size",
                                input.name, FormatDims(input.shape), input.item_size)};
}

InputPlan PlanShapedInputs(const Options& o, const ProfileConfig& profile,
                           const std::vector<std::vector<int>>& shapes) {
  InputPlan plan;
  plan.batch = shapes.empty() || shapes[0].empty() ? 1 : shapes[0][0];
  for (size_t i = 0; i < profile.inputs.size(); ++i) {
    const TensorConfig& t = profile.inputs[i];
    plan.own_shapes.emplace_back();
    plan.from_file.push_back(false);
    if (t.shape_tensor) {
      TakeProfileValues(profile, i, shapes, o.profile, plan);
      continue;
    }
    size_t bytes = static_cast<size_t>(std::max(t.item_size, 0));
    for (int d : shapes[i]) bytes *= static_cast<size_t>(std::max(d, 0));
    plan.data.push_back(MakeInputData(t.dtype, t.ItemMatchesDType(), bytes, o.fill, o.seed, t.name));
    plan.sources.push_back(o.fill == FillMode::kZeros ? "zeros" : fmt::format("random (seed {})", o.seed));
  }
  return plan;
}

InputPlan PlanInputs(const Options& o, const ProfileConfig& profile) {
  std::map<std::string, InputFile> files = ReadInputFiles(o, profile);
  InputPlan plan;
  plan.batch = ChooseBatch(o, profile, files);
  for (size_t i = 0; i < profile.inputs.size(); ++i) {
    const TensorConfig& t = profile.inputs[i];
    auto file = files.find(t.name);
    plan.from_file.push_back(file != files.end());
    plan.own_shapes.emplace_back();
    if (file == files.end() && t.shape_tensor) {
      TakeProfileValues(profile, i, BatchShapes(profile, plan.batch), o.profile, plan);
      continue;
    }
    if (file != files.end() && t.shape_tensor) {
      TakeShapeTensorFile(t, file->second, plan);
      continue;
    }
    if (file != files.end()) {
      plan.data.push_back(std::move(file->second.array.data));
      plan.sources.push_back(file->second.path);
      continue;
    }
    const long long sample = t.SampleBytes();
    const size_t bytes = sample > 0 ? static_cast<size_t>(sample) * static_cast<size_t>(plan.batch) : 0;
    plan.data.push_back(MakeInputData(t.dtype, t.ItemMatchesDType(), bytes, o.fill, o.seed, t.name));
    plan.sources.push_back(o.fill == FillMode::kZeros ? "zeros" : fmt::format("random (seed {})", o.seed));
  }
  return plan;
}

}  // namespace inferlet_run
