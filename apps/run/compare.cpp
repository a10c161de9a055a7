#include "compare.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "exit_codes.h"
#include "run_files.h"
#include "tensor_data.h"

namespace inferlet_run {

namespace {

std::string DescrOf(const TensorConfig& t) { return t.ItemMatchesDType() ? t.dtype.npy_descr : kNpyBytes; }

double Element(const Reference& r, const NpyArray& a, size_t i) {
  if (!r.typed) return static_cast<unsigned char>(a.data[i]);
  return ElementValue(r.type, a.data.data(), i);
}

std::string ShapeText(const std::vector<size_t>& shape) { return fmt::format("({})", fmt::join(shape, ",")); }

ToolError Mismatch(std::string message) { return ToolError{kExitInput, "--compare: " + std::move(message)}; }

}  // namespace

std::vector<Reference> ReadReferences(const std::string& dir, const ProfileConfig& profile) {
  std::vector<Reference> references;
  for (const TensorConfig& t : profile.outputs) {
    Reference r;
    r.output = t.name;
    r.path = OutputFile(dir, t.name);
    r.type = t.dtype;
    r.typed = t.ItemMatchesDType();
    try {
      r.array = ReadNpy(r.path);
    } catch (ToolError& e) {
      e.message = "--compare: " + e.message;
      throw;
    }
    if (r.array.descr != DescrOf(t))
      throw Mismatch(
          fmt::format("{} holds {}, output '{}' is {}", r.path, r.array.descr, t.name, DescrOf(t)));
    references.push_back(std::move(r));
  }
  return references;
}

OutputComparison CompareOutput(const Reference& reference, const NpyArray& output, double rtol, double atol) {
  const NpyArray& b = reference.array;
  if (output.descr != b.descr)
    throw Mismatch(fmt::format("{} holds {}, output '{}' is {}", reference.path, b.descr, reference.output,
                               output.descr));
  if (output.shape != b.shape)
    throw Mismatch(fmt::format("{} has shape {}, output '{}' of the last call has {}", reference.path,
                               ShapeText(b.shape), reference.output, ShapeText(output.shape)));
  OutputComparison c;
  c.name = reference.output;
  c.file = reference.path;
  c.elements = b.data.size() / static_cast<size_t>(NpyItemSize(b.descr));
  for (size_t i = 0; i < c.elements; ++i) {
    const double x = Element(reference, output, i), y = Element(reference, b, i);
    if (std::isinf(x) || std::isinf(y)) {  // close only to the same infinity
      if (x == y) continue;
      ++c.out_of_tolerance;
      if (!std::isnan(c.max_abs_diff)) c.max_abs_diff = HUGE_VAL;  // a NaN, once seen, stays the answer
      if (y != 0 && !std::isnan(c.max_rel_diff)) c.max_rel_diff = HUGE_VAL;
      continue;
    }
    const double diff = std::fabs(x - y);
    if (std::isnan(diff)) {
      ++c.out_of_tolerance;
      c.max_abs_diff = c.max_rel_diff = NAN;
      continue;
    }
    if (!(diff <= atol + rtol * std::fabs(y))) ++c.out_of_tolerance;
    if (!std::isnan(c.max_abs_diff)) c.max_abs_diff = std::max(c.max_abs_diff, diff);
    if (y != 0 && !std::isnan(c.max_rel_diff)) c.max_rel_diff = std::max(c.max_rel_diff, diff / std::fabs(y));
  }
  return c;
}

bool CompareReport::passed() const { return Failed().empty(); }

std::vector<std::string> CompareReport::Failed() const {
  std::vector<std::string> names;
  for (const OutputComparison& c : outputs)
    if (!c.passed()) names.push_back(c.name);
  return names;
}

std::string CompareReport::FailureMessage() const {
  return fmt::format("out of tolerance against {} (rtol {:g}, atol {:g}): {}", dir, rtol, atol,
                     fmt::join(Failed(), ", "));
}

}  // namespace inferlet_run
