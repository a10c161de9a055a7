// The values inferlet-run gives a shape tensor that no --input file gives: the profile's own at the point
// (min, opt or max) whose shapes the run's other inputs have, as the sessions library tells them.
#ifndef INFERLET_APPS_SHAPE_VALUES_H_
#define INFERLET_APPS_SHAPE_VALUES_H_

#include <string>
#include <vector>

#include "model_config.h"

namespace inferlet_run {

struct ShapeTensorValues {
  std::vector<int> shape;  // the tensor's own, at the point
  std::string data;        // the values, in the tensor's type
  std::string source;      // as the report names where an input came from: "profile 0 max values"
};

// The values of the shape tensor profile.inputs[index] for calls whose inputs have call_shapes (per
// input of the profile; shape tensors' entries are not looked at): those of the point every other input
// is at, opt first where several are. Throws ToolError (usage) naming the tensor where the inputs are
// at no point, or where the library told no values of it.
ShapeTensorValues ProfileShapeValues(const ProfileConfig& profile, size_t index,
                                     const std::vector<std::vector<int>>& call_shapes, int profile_index);

// The shapes of a run's calls without --shapes: every input at its configured shape with the batch as
// its first extent; a shape tensor's entry empty (its shape is its values').
std::vector<std::vector<int>> BatchShapes(const ProfileConfig& profile, int batch);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_SHAPE_VALUES_H_
