// --shapes: the input shapes of a sweep, one report row each. `--shapes in0=1x340,4x340` gives input
// in0 a shape per row; every input named gets the same number of shapes, and an input not named takes
// in each row the first extent of the first named input, its configured extents after it.
#ifndef INFERLET_APPS_SHAPE_SWEEP_H_
#define INFERLET_APPS_SHAPE_SWEEP_H_

#include <string>
#include <vector>

#include "model_config.h"

namespace inferlet_run {

struct ShapeRow {
  std::vector<std::vector<int>> inputs;  // per input of the profile, in its order
};

// Throws ToolError (usage) for a flag that names no input of the profile (or one twice), shapes of the
// wrong rank or that are not extents, and inputs with different numbers of shapes.
std::vector<ShapeRow> PlanShapeRows(const std::vector<std::string>& flags, const ProfileConfig& profile,
                                    int profile_index);

// With --api legacy a call sets only the batch: the row's one first extent, its other extents those
// configured. Throws ToolError (usage) for a row that needs more.
int LegacyRowBatch(const ShapeRow& row, const ProfileConfig& profile);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_SHAPE_SWEEP_H_
