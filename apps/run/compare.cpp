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

NpyKind KindOf(const TensorConfig& t) { return t.ItemMatchesDType() ? NpyKindOf(t.dtype) : NpyKind::kUint8; }

template <typename T>
T Load(const std::string& data, size_t i) {
  T value;
  std::memcpy(&value, data.data() + i * sizeof(T), sizeof(T));
  return value;
}

double Element(const NpyArray& a, size_t i) {
  switch (a.kind) {
    case NpyKind::kFloat32:
      return Load<float>(a.data, i);
    case NpyKind::kFloat16:
      return HalfToFloat(Load<uint16_t>(a.data, i));
    case NpyKind::kInt8:
      return Load<int8_t>(a.data, i);
    case NpyKind::kInt32:
      return Load<int32_t>(a.data, i);
    case NpyKind::kBool:
      return Load<uint8_t>(a.data, i) != 0;
    case NpyKind::kUint8:
      return Load<uint8_t>(a.data, i);
  }
  return 0;
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
    try {
      r.array = ReadNpy(r.path);
    } catch (ToolError& e) {
      e.message = "--compare: " + e.message;
      throw;
    }
    if (r.array.kind != KindOf(t))
      throw Mismatch(fmt::format("{} holds {}, output '{}' is {}", r.path, NpyDescr(r.array.kind), t.name,
                                 NpyDescr(KindOf(t))));
    references.push_back(std::move(r));
  }
  return references;
}

OutputComparison CompareOutput(const Reference& reference, const NpyArray& output, double rtol, double atol) {
  const NpyArray& b = reference.array;
  if (output.kind != b.kind)
    throw Mismatch(fmt::format("{} holds {}, output '{}' is {}", reference.path, NpyDescr(b.kind),
                               reference.output, NpyDescr(output.kind)));
  if (output.shape != b.shape)
    throw Mismatch(fmt::format("{} has shape {}, output '{}' of the last call has {}", reference.path,
                               ShapeText(b.shape), reference.output, ShapeText(output.shape)));
  OutputComparison c;
  c.name = reference.output;
  c.file = reference.path;
  c.elements = b.data.size() / static_cast<size_t>(NpyItemSize(b.kind));
  for (size_t i = 0; i < c.elements; ++i) {
    const double x = Element(output, i), y = Element(b, i);
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
