// The configuration of a run: every profile's tensors, derived from the engine's own description with
// per-profile overrides from the command line. kestrel_trt_new takes all of it; the sessions library
// takes each tensor's own, and a run uses the shapes to size its buffers and inputs.
#ifndef INFERLET_APPS_MODEL_CONFIG_H_
#define INFERLET_APPS_MODEL_CONFIG_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine_desc.h"

namespace inferlet_run {

struct TensorConfig {
  int binding = 0;
  std::string name;  // the tensor's own name (no profile suffix)
  bool is_input = false;
  DataType dtype;
  std::vector<int> shape;  // batch first; the first extent is the largest batch the profile serves
  int item_size = 0;
  // An output whose extents a call learns only as it runs (-1 in shape): the sessions interface sizes
  // its buffer by the session's bound at the call's inputs (inferlet_session_resolve_output_bounds).
  bool data_dependent = false;
  // An input TensorRT reads from host memory, whose values steer shapes: its extents are its own, not
  // a batch of samples.
  bool shape_tensor = false;
  // An input's shapes at the profile's min, opt and max, and a shape tensor's values there (empty
  // where the library tells none): a shape tensor no file gives takes the values of the point whose
  // shapes the run's other inputs have.
  std::array<std::vector<int>, 3> point_shapes;
  std::array<std::vector<int64_t>, 3> point_values;

  // Bytes of one sample (everything after the batch extent); -1 when the shape gives no valid size.
  long long SampleBytes() const;
  // Bytes of the device buffer the library allocates for it (the whole configured shape); -1 as above.
  long long BufferBytes() const;
  bool ItemMatchesDType() const { return item_size == dtype.Size(); }
};

struct ProfileConfig {
  std::vector<TensorConfig> inputs;
  std::vector<TensorConfig> outputs;
};

// "[P:]NAME=VALUE" from the command line; profile -1 applies to every profile.
struct TensorOverride {
  int profile = -1;
  std::string name;
  std::string value;
};

// Parses "[P:]NAME=VALUE"; throws ToolError (usage) when the text has no '=' or no name.
TensorOverride ParseOverride(const std::string& text, const char* flag);
// Parses "10x340" (extents may be 0 or negative: the library decides about those); throws ToolError.
std::vector<int> ParseDims(const std::string& text, const char* flag);

struct ModelConfig {
  std::vector<ProfileConfig> profiles;

  using Shapes = std::vector<std::vector<std::vector<int>>>;
  using ItemSizes = std::vector<std::vector<int>>;
  Shapes InShapes() const;
  ItemSizes InItemSizes() const;
  Shapes OutShapes() const;
  ItemSizes OutItemSizes() const;
  // The device buffers of one handle: every tensor of every profile; -1 when a shape gives no size.
  long long BufferBytes() const;
};

// Every profile of the engine, inputs then outputs in binding order, shaped at the profile's largest
// dimensions with the element size of the binding's data type; then the overrides. Throws ToolError
// for an override naming no tensor, or for a derived extent the engine leaves open and no override fixes
// (a data-dependent output's stay open).
ModelConfig DeriveConfig(const EngineDesc& engine, const std::vector<TensorOverride>& shapes,
                         const std::vector<TensorOverride>& item_sizes);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_MODEL_CONFIG_H_
