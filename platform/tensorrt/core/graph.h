// A checked network: tensor numbering, shape inference and the per-profile binding dimensions.
// Every engine, whether just built or read back from bytes, goes through build_graph before use.
#ifndef TRT_STANDIN_CORE_GRAPH_H_
#define TRT_STANDIN_CORE_GRAPH_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "network.h"

namespace trt_standin {

// Tensors are numbered network inputs first, then one per layer output in layer order.
struct Graph {
  Network network;
  std::vector<std::string> tensor_names;
  std::vector<ElementType> tensor_types;
  // Per tensor: its extent depends on the values computed (keep_positive), so shapes give only an upper
  // bound until the network has run. Only network outputs may be such tensors.
  std::vector<bool> data_dependent;
  std::vector<std::vector<int>> layer_inputs;  // per layer, the tensor ids it reads
  std::vector<int> output_tensors;             // per network output, the tensor id it names
  // Per network output, the network input whose memory it must share (scale_in_place), or -1.
  std::vector<int> aliased_input;
  // Per profile, per binding slot of the profile (inputs, then outputs): the extents, -1 where the
  // profile lets one vary.
  std::vector<std::vector<Shape>> profile_dims;
  // Per tensor, the most bytes it takes under any profile (at that profile's max input extents).
  std::vector<std::size_t> max_bytes;
  // Per I/O tensor (inputs, then outputs), the same in the tensor's layout under each profile,
  // padding included.
  std::vector<std::size_t> io_bytes;

  int input_count() const { return static_cast<int>(network.inputs.size()); }
  int output_count() const { return static_cast<int>(network.outputs.size()); }
  int bindings_per_profile() const { return input_count() + output_count(); }
  int layer_output_tensor(int layer) const { return input_count() + layer; }

  // I/O tensors are numbered inputs first, then outputs, as the bindings of one profile.
  const TensorDesc& io_desc(int io) const {
    return io < input_count() ? network.inputs[io] : network.outputs[io - input_count()];
  }
  int io_tensor(int io) const { return io < input_count() ? io : output_tensors[io - input_count()]; }
  TensorFormat io_format(int io, int profile) const { return io_desc(io).formats[profile]; }
  bool io_data_dependent(int io) const { return data_dependent[io_tensor(io)]; }
  // Some layer reads the network input's elements (a reshape's shape operand only its values).
  bool input_read_as_data(int input) const;
  // A network input whose values the profiles bound: a shape tensor that steers shapes.
  bool input_has_values(int input) const {
    return !network.profiles.empty() && static_cast<std::size_t>(input) < network.profiles[0].inputs.size() &&
           network.profiles[0].inputs[input].has_values();
  }
  bool has_data_dependent_output() const;
  // Bytes the I/O tensor takes in the layout of the profile's format at the given shape.
  std::size_t io_layout_bytes(int io, int profile, const Shape& shape) const;
  // Whether the layers need a dense copy of the I/O tensor apart from its layout in staging memory.
  bool io_needs_dense_copy(int io) const;
};

// Checks net completely (names, references, types, parameters, profiles, shapes at every profile's
// limits) and fills *graph. On failure returns false with a message naming the offending key.
bool build_graph(Network net, Graph* graph, std::string* error);

// Refuses a data type or format of an input or output that the TensorRT major the engine is built for
// does not have (bf16 and the other types after bool, kDHWC, version compatibility, before 10).
// kVERSION_COMPATIBLE came with TensorRT 10 (the 7.2.3 and 8.0.1 builders have no such flag).
constexpr uint32_t kFirstMajorWithVersionCompatibility = 10;

bool check_network_of_major(const Network& net, uint32_t trt_major, std::string* error);

// Data-dependent shapes came with IOutputAllocator in TensorRT 10 (not in the 7.2.3 and 8.0.1 headers).
constexpr uint32_t kFirstMajorWithDataDependentShapes = 10;
// Outputs that share an input's memory: ICudaEngine::getAliasedInputTensor came with TensorRT 11.
constexpr uint32_t kFirstMajorWithAliasedOutputs = 11;

// Shapes of every tensor for the given input shapes (one per network input); a data-dependent tensor
// gets its upper bound (keep_positive: the input's volume).
// values, when given, holds per network input the values of a shape tensor that steers shapes (empty
// for the other inputs); a reshape needs its shape tensor's.
bool infer_shapes(const Graph& graph, const std::vector<Shape>& input_shapes, std::vector<Shape>* shapes,
                  std::string* error, const std::vector<std::vector<int64_t>>* values = nullptr);

// Number of elements; 0 for an empty extent. Shapes that passed build_graph cannot overflow it.
int64_t volume(const Shape& shape);

std::string shape_to_string(const Shape& shape);  // "[-1, 340]"

}  // namespace trt_standin

#endif  // TRT_STANDIN_CORE_GRAPH_H_
