// The inputs of every call of a run: per input of the profile, a .npy file named with --input or
// made-up data, and the batch they hold.
#ifndef INFERLET_APPS_INPUT_PLAN_H_
#define INFERLET_APPS_INPUT_PLAN_H_

#include <string>
#include <vector>

#include "model_config.h"
#include "options.h"

namespace inferlet_run {

struct InputPlan {
  std::vector<std::string> data;     // per input of the profile, batch samples
  std::vector<std::string> sources;  // per input: the file, "zeros" or "random (seed N)"
  std::vector<bool> from_file;       // per input
  // Per input: the shape of a shape tensor, whatever the batch (its file's); empty for the others.
  std::vector<std::vector<int>> own_shapes;
  int batch = 0;
};

// The batch is --batch, else the samples the files hold, else the largest batch the profile is
// configured for. Throws ToolError for an --input naming no input of the profile, a file that does
// not fit its input, files of different batches, and a batch that is not positive. An input read
// from a file must have a sample size (RequireSampleSize); a made-up one of none gets no data. A shape
// tensor's values come from a file (its shape its own, not counted in the batch), else from the profile
// at the point of the other inputs' shapes (ProfileShapeValues, which refuses where there is none).
InputPlan PlanInputs(const Options& options, const ProfileConfig& profile);

// Throws ToolError (usage) when the input's configuration gives no size of one sample.
void RequireSampleSize(const TensorConfig& input);

// Made-up inputs (--fill, --seed) at the given shapes, one per input of the profile (a row of
// --shapes); the batch is the first input's first extent. A shape tensor takes the profile's values at
// the point of the row's shapes (ProfileShapeValues), at that point's shape (own_shapes).
InputPlan PlanShapedInputs(const Options& options, const ProfileConfig& profile,
                           const std::vector<std::vector<int>>& shapes);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_INPUT_PLAN_H_
