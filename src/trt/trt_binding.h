// The seam between this tree and the generation of TensorRT it is built against: the operations that
// differ between TensorRT's binding-index interface (7, 8: trt_binding_index.cpp) and its named-tensor
// interface (10, 11: trt_binding_named.cpp), plus trt_support.h and what both generations share
// (trt_binding_common.cpp). The build compiles the one that matches the TensorRT it uses into
// inferlet_trt<N>, which both interfaces of the library, the benchmarks and the fuzz targets link;
// none of them asks TensorRT about bindings or tensors otherwise.
//
// Conventions:
// - Bindings are numbered as a TensorRT 8 engine numbers them, on every generation: one block per
//   optimization profile, each block the engine's input and output tensors in the engine's order. With n
//   tensors, binding b is tensor b mod n of profile b / n, named " [profile k]" after the tensor's name
//   for k >= 1.
// - A Binding is looked up once from its number (binding()); the operations on it ask the engine nothing
//   else, so a caller that holds it makes only the TensorRT calls of the operation itself.
// - Dimensions travel as Extents, whatever record the generation uses.
// - The answers are TensorRT's: false where it refused, an invalid Extents where it knows no dimensions.
//   Nothing is logged here; TensorRT writes its own lines to its logger.
#ifndef INFERLET_TRT_BINDING_H_
#define INFERLET_TRT_BINDING_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>

#include <cstdint>
#include <memory>
#include <string>

#include "trt_support.h"  // TrtUniquePtr

namespace trt_binding {

// Dimensions wide enough for the extents of any generation. nbDims outside 0..8 is TensorRT's invalid
// Dims.
struct Extents {
  int nbDims = -1;
  int64_t d[8] = {};
};

// A binding as the generation's calls name it. Made by binding() and read only here, but for index;
// valid while its engine lives.
struct Binding {
  int index = -1;                // the binding's number
  int profile = 0;               // 10, 11: the profile whose block holds it
  const char* tensor = nullptr;  // 10, 11: its tensor's name; null for a number outside every block
};

// Where and how a binding's elements lie, as the engine was built for the binding's profile.
struct Layout {
  bool on_host = false;  // a tensor TensorRT reads from host memory (a shape tensor)
  nvinfer1::TensorFormat format = nvinfer1::TensorFormat::kLINEAR;
};

// After deserialization: 7 and 8 release the runtime at once (their engines do not need it); 10 and 11
// keep it, because releasing a runtime before its engines is undefined there. The caller holds it so
// that it goes after the engine.
void settleRuntime(TrtUniquePtr<nvinfer1::IRuntime>& runtime);

// Version-compatible engines (10 and 11) hold host code, which a runtime deserializes only once allowed;
// 7 and 8 have no such engines, and allowing is nothing there.
bool enginesMayHoldHostCode();
void allowEngineHostCode(nvinfer1::IRuntime& runtime);

// What describes an engine: its batch limit as TensorRT 8 reports it (1 for explicit batch), the
// bindings of all its profiles, and the device memory each execution context takes (enough for every
// profile).
int maxBatchSize(const nvinfer1::ICudaEngine& engine);
int bindingCount(const nvinfer1::ICudaEngine& engine);
int64_t contextMemory(const nvinfer1::ICudaEngine& engine);

// A context's activation memory per profile. 10 and 11 size it per profile
// (getDeviceMemorySizeForProfileV2) and let the caller supply it (kUSER_MANAGED with setDeviceMemoryV2);
// 7 and 8 know only one size for every profile, and a context takes that itself.
bool contextMemoryPerProfile();
// The activation memory a context on profile needs: the profile's own where contextMemoryPerProfile,
// contextMemory otherwise. Negative where TensorRT answers none (a profile out of range).
int64_t profileContextMemory(const nvinfer1::ICudaEngine& engine, int profile);
// A new context on profile 0. With caller_memory (only where contextMemoryPerProfile) it holds no
// activation memory until setContextMemory gives it some; otherwise it takes every profile's itself.
// Null where TensorRT made none (it says why).
nvinfer1::IExecutionContext* createContext(nvinfer1::ICudaEngine& engine, bool caller_memory);
// The activation memory of a context made with caller_memory: bytes of device memory, cudaMalloc's, at
// least profileContextMemory of the profile it runs; null only for 0 bytes. TensorRT answers nothing
// here: memory it refuses makes the next enqueue fail.
void setContextMemory(nvinfer1::IExecutionContext& context, void* memory, int64_t bytes);

// The engine's input and output tensors, counted once: the bindings of one profile's block.
int bindingsPerProfile(const nvinfer1::ICudaEngine& engine);

// The number of the binding of tensor (0 to bindingsPerProfile - 1, in the engine's order) in
// profile's block.
int bindingIndex(const nvinfer1::ICudaEngine& engine, int profile, int tensor);

// Binding number index, for the operations below: 10 and 11 find its tensor's name here.
Binding binding(const nvinfer1::ICudaEngine& engine, int index);

// What the engine says of a binding, for its description and for checking a configuration against it.
std::string bindingName(const nvinfer1::ICudaEngine& engine, const Binding& binding);
bool bindingIsInput(const nvinfer1::ICudaEngine& engine, const Binding& binding);
nvinfer1::DataType bindingDataType(const nvinfer1::ICudaEngine& engine, const Binding& binding);
Extents bindingDimensions(const nvinfer1::ICudaEngine& engine, const Binding& binding);  // -1: dynamic
Layout bindingLayout(const nvinfer1::ICudaEngine& engine, const Binding& binding);

// Why a binding in this layout cannot be handed over as the library hands every tensor over, dense and
// row-major in device memory: "is in format kCHW4, not a dense row-major tensor in device memory" (or
// "is in host memory, ..."), to follow the binding's name. Empty for a layout that can.
std::string layoutRefusal(const Layout& layout);

// Bytes of a tensor of these dimensions with element_size bytes per element. The product stops growing
// once it is above limit (what it answers then is above limit, but not the whole product); an extent not
// known (negative), or a product past int64_t, answers INT64_MAX.
int64_t extentsBytes(const Extents& dims, int64_t element_size, int64_t limit);

// The smallest, optimal or largest dimensions (point) that profile accepts for an input binding of its
// block: what a configuration read from the engine is made of. Invalid for an output.
Extents profileDimensions(const nvinfer1::ICudaEngine& engine, const Binding& binding, int profile,
                          nvinfer1::OptProfileSelector point);

// Makes the context run one profile. From 10 on the switch is work on stream, which must be done before
// the context goes or runs on another stream. False when TensorRT refused it; 7 and 8 answer true, a
// profile they refused showing in the dimensions they refuse next.
bool selectProfile(nvinfer1::IExecutionContext& context, int profile, cudaStream_t stream);

// Gives an input binding of the selected profile its dimensions, every extent of them, for the next
// enqueue. False when TensorRT refuses them (it keeps the previous ones).
bool setInputDimensions(nvinfer1::IExecutionContext& context, const Binding& binding, const Extents& dims);

// True only when TensorRT says every input dimension of the selected profile is known.
bool allInputDimensionsSpecified(nvinfer1::IExecutionContext& context);

// A binding's dimensions as the context resolved them for the selected profile: what the enqueue will
// read or write.
Extents resolvedDimensions(const nvinfer1::IExecutionContext& context, const Binding& binding);

// One tensor of the selected profile's block in resolveShapes: an input's dimensions to set, an
// output's (or, when asked, an input's) dimensions as the context resolved them. A data-dependent
// output keeps -1 where its extents wait for the values the call computes, without counting as
// unresolved.
struct TensorShape {
  Binding binding;
  bool is_input = false;
  bool data_dependent = false;
  Extents dims;
};

// What resolveShapes found first, tensor being the index in the caller's array.
struct ShapeResolution {
  enum Outcome {
    kResolved,          // every input taken, every tensor read back with known dimensions
    kInputRefused,      // TensorRT refused input tensor's dimensions; the later inputs are not set
    kInputsIncomplete,  // every input taken, but TensorRT does not call the inputs specified
    kUnresolved,        // tensor read back without known dimensions (invalid, or an extent -1)
  };
  Outcome outcome = kResolved;
  int tensor = -1;
};

// Which tensors resolveShapes reads back once the inputs are set.
enum class ReadBack { kOutputs, kEveryTensor };

// Hands TensorRT a binding's device address where it takes them one tensor at a time (10, 11: again
// after every profile switch, which may drop them); where the enqueue takes the whole binding array
// (7, 8) there is nothing to do. False when TensorRT refused it.
bool bindAddress(nvinfer1::IExecutionContext& context, const Binding& binding, void* address);

// Enqueues the selected profile on stream; bindings is the whole binding array. True when enqueued.
bool enqueue(nvinfer1::IExecutionContext& context, void** bindings, cudaStream_t stream);

// Shapes that depend on values (10, 11): outputs whose extents the network computes from the data
// (non-maximum suppression, NonZero; an extent left -1 once every input shape is set) and inputs
// TensorRT reads from host memory whose values steer other tensors' shapes (shape tensors). 7 and 8
// serve neither here, and size every output from the input shapes.
bool servesValueDependentShapes();

// Where TensorRT puts an output whose extents are known only while the call runs: the library's side
// of TensorRT's output allocator (10, 11). reserve answers memory of at least bytes (256-byte aligned)
// for the call queued on stream, or null when it has none; shape receives the output's dimensions
// before the enqueue returns. Called from within the enqueue, on the enqueueing thread.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void* reserve(uint64_t bytes, cudaStream_t stream) = 0;
  virtual void shape(const Extents& dims) = 0;
};

// TensorRT's allocator object for one sink, as the generation declares it; held by whoever holds the
// sink, and kept as long as a context may call it.
struct OutputAllocator;
struct OutputAllocatorRelease {
  void operator()(OutputAllocator* allocator) const;
};
using OutputAllocatorPtr = std::unique_ptr<OutputAllocator, OutputAllocatorRelease>;
// Null where the generation has no output allocators (7, 8).
OutputAllocatorPtr makeOutputAllocator(OutputSink& sink);
// Makes allocator (which sink it forwards to) the output binding's, in place of a fixed address. False
// when TensorRT refused it.
bool bindOutputAllocator(nvinfer1::IExecutionContext& context, const Binding& binding,
                         OutputAllocator* allocator);
// TensorRT's upper bound in bytes of an output at the input shapes set on the context (and the shape
// tensors' values at their addresses); negative where it knows none.
int64_t maxOutputBytes(const nvinfer1::IExecutionContext& context, const Binding& binding);

// The smallest, optimal or largest values a profile gives a shape tensor input (point kMIN, kOPT or
// kMAX), count of them into values. False where the engine keeps no values for it.
bool profileTensorValues(const nvinfer1::ICudaEngine& engine, const Binding& binding, int profile,
                         nvinfer1::OptProfileSelector point, int64_t* values, int count);

// The input whose memory an output is written into (11: an output that aliases its input, as a KV cache
// update does); null for an output without one, and on the generations that have no aliasing.
const char* aliasedInput(const nvinfer1::ICudaEngine& engine, const Binding& binding);

// Dimensions TensorRT knows: a valid rank and no extent left to a profile (-1).
inline bool extentsKnown(const Extents& dims) {
  if (dims.nbDims < 0 || dims.nbDims > 8) return false;
  for (int k = 0; k < dims.nbDims; ++k) {
    if (dims.d[k] < 0) return false;
  }
  return true;
}

// The sequence before every enqueue and every output-shape question: sets each input's dimensions in
// array order, stopping at the first TensorRT refuses, checks that TensorRT takes the inputs as
// specified, then reads back the dimensions of every tensor read_back names, in array order, whatever
// they are. Makes only those TensorRT calls and allocates nothing; the caller words the outcome. Made
// of the operations above, the same on every generation; inline, so that a call's path pays no more
// for it than for writing it out.
inline ShapeResolution resolveShapes(nvinfer1::IExecutionContext& context, TensorShape* tensors, int count,
                                     ReadBack read_back) {
  for (int t = 0; t < count; ++t) {
    if (tensors[t].is_input && !setInputDimensions(context, tensors[t].binding, tensors[t].dims)) {
      return {ShapeResolution::kInputRefused, t};
    }
  }
  if (!allInputDimensionsSpecified(context)) return {ShapeResolution::kInputsIncomplete, -1};
  ShapeResolution found;
  for (int t = 0; t < count; ++t) {
    TensorShape& tensor = tensors[t];
    if (tensor.is_input && read_back == ReadBack::kOutputs) continue;
    tensor.dims = resolvedDimensions(context, tensor.binding);
    if (found.outcome == ShapeResolution::kResolved && !extentsKnown(tensor.dims) &&
        !(tensor.data_dependent && tensor.dims.nbDims >= 0 && tensor.dims.nbDims <= 8)) {
      found = {ShapeResolution::kUnresolved, t};
    }
  }
  return found;
}

}  // namespace trt_binding

#endif  // INFERLET_TRT_BINDING_H_
