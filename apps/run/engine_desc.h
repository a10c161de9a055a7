// What an engine declares about itself, as inferlet-run uses it.
#ifndef INFERLET_APPS_ENGINE_DESC_H_
#define INFERLET_APPS_ENGINE_DESC_H_

#include <cstdint>
#include <string>
#include <vector>

#include "data_types.h"
#include "engine_reader.h"

namespace inferlet_run {

struct BindingDesc {
  int index = 0;
  std::string name;       // as the engine reports it, " [profile k]" suffix included
  std::string base_name;  // without that suffix: the tensor's own name
  bool is_input = false;
  int dtype = 0;          // numbered as TensorRT's DataType
  DataType type;          // what the sessions library's table says of it (DescribeTypes)
  std::vector<int> dims;  // -1 where a profile lets the extent vary
  // An output whose extents a call learns only as it runs: -1 in them at every profile point too.
  bool data_dependent = false;
  bool shape_tensor = false;  // an input TensorRT reads from host memory, whose values steer shapes
};

struct ProfileDesc {
  std::vector<int> inputs;   // binding indices, in binding order
  std::vector<int> outputs;  // binding indices, in binding order
  // Per binding of the profile's block, in binding order: the profile's smallest, optimal and largest
  // dimensions.
  std::vector<std::vector<int>> min_dims, opt_dims, max_dims;
  // Per binding of the block: a shape tensor's values at the three points; empty for the others.
  std::vector<std::vector<int64_t>> min_values, opt_values, max_values;
};

struct EngineDesc {
  int trt_major = 0;
  std::string name;
  int max_batch_size = 0;
  bool refittable = false;
  std::vector<BindingDesc> bindings;
  std::vector<ProfileDesc> profiles;
  // Device memory of one engine and of one execution context, in bytes; -1 when not known.
  long long engine_device_bytes = -1;
  long long context_device_bytes = -1;

  int BindingsPerProfile() const;
  // Smallest, optimal and largest dimensions of a binding within its profile.
  const std::vector<int>& MinDims(int profile, int binding) const;
  const std::vector<int>& OptDims(int profile, int binding) const;
  const std::vector<int>& MaxDims(int profile, int binding) const;
};

// The engine as the sessions library described it, in TensorRT 8's bindings (one block per profile,
// " [profile k]" after the names of profile k >= 1). An output's dimensions at a profile's point are
// those TensorRT infers when it infers every extent, else the engine's, whose leading -1 is then the
// inputs' batch (a data-dependent output keeps its -1). Throws ToolError (input) for an engine without a
// profile. The bindings' types are numbers only until DescribeTypes.
EngineDesc DescribeEngine(const inferlet_loader::EngineDescription& description);

// Every binding's type from the table; throws ToolError (input) for a number the table lacks.
void DescribeTypes(EngineDesc& engine, const DataTypes& types);
// Throws ToolError (input) for a binding of a type inferlet-run cannot fill or read (the 4-bit ones),
// naming it: "input 'x' is of data type kINT4, which inferlet-run cannot fill or read".
void RequireServableTypes(const EngineDesc& engine);
// Throws ToolError (input) for a binding the kestrel_trt_* interface cannot serve, naming it: a
// data-dependent output (its buffers are sized before a call) or a shape tensor (its buffers are in
// device memory).
void RequireLegacyServable(const EngineDesc& engine);

std::string FormatDims(const std::vector<int>& dims);  // "[10,340]"

}  // namespace inferlet_run

#endif  // INFERLET_APPS_ENGINE_DESC_H_
