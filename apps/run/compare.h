// --compare DIR: the last call's outputs against reference .npy files, element by element, with
// numpy's allclose rule |a - b| <= atol + rtol * |b| (b the reference; NaN is never close, infinities
// are close to the same infinity).
#ifndef INFERLET_APPS_COMPARE_H_
#define INFERLET_APPS_COMPARE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "model_config.h"
#include "npy.h"

namespace inferlet_run {

struct Reference {
  std::string output;
  std::string path;
  NpyArray array;
  DataType type;      // of the output: how its elements read as numbers (the raw-byte floats decoded)
  bool typed = true;  // false: the output's item size is not its type's, and elements are bytes
};

// DIR/<output>.npy of every output of the profile, read before anything runs. Throws ToolError (input)
// for a file that is missing or unreadable, or whose element type is not the output's.
std::vector<Reference> ReadReferences(const std::string& dir, const ProfileConfig& profile);

struct OutputComparison {
  std::string name;
  std::string file;
  size_t elements = 0;
  size_t out_of_tolerance = 0;
  double max_abs_diff = 0;  // largest |a - b|
  double max_rel_diff = 0;  // largest |a - b| / |b| where b is not 0
  bool passed() const { return out_of_tolerance == 0; }
};

struct CompareReport {
  std::string dir;  // empty: no --compare
  double rtol = 0;
  double atol = 0;
  std::vector<OutputComparison> outputs;
  bool passed() const;
  std::vector<std::string> Failed() const;  // names of the outputs out of tolerance
  // "out of tolerance against DIR (rtol R, atol A): out0, out1"
  std::string FailureMessage() const;
};

// Throws ToolError (input) when the output's element type or shape is not the reference's. Elements are
// compared as numbers of the reference's type, so bfloat16 and fp8 by their exact values.
OutputComparison CompareOutput(const Reference& reference, const NpyArray& output, double rtol, double atol);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_COMPARE_H_
