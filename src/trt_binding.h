// The engine core's binding to the TensorRT runtime: the few operations that differ between
// TensorRT's binding-index interface (7, 8: trt_binding_index.cpp) and its named-tensor interface
// (10, 11: trt_binding_named.cpp). The build compiles the one that matches the TensorRT it uses.
//
// Bindings are numbered as a TensorRT 8 engine numbers them on every generation: one block per
// optimization profile, each block the engine's input and output tensors in the engine's order. With n
// tensors, binding b is tensor b mod n of profile b / n.
#ifndef INFERLET_TRT_BINDING_H_
#define INFERLET_TRT_BINDING_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>

#include <cstdint>
#include <string>
#include <vector>

#include "trt_support.h"  // TrtUniquePtr

namespace trt_binding {

// Dimensions as the engine or a context reports them, wide enough for the extents of any generation.
// nbDims outside 0..8 is TensorRT's invalid Dims.
struct Extents {
  int nbDims = -1;
  int64_t d[8] = {};
};

// After deserialization: 7 and 8 release the runtime at once (their engines do not need it); 10 and 11
// keep it, because releasing a runtime before its engines is undefined there. The caller holds it so
// that it goes after the engine.
void settleRuntime(TrtUniquePtr<nvinfer1::IRuntime>& runtime);

// What the engine description prints and the configuration is checked against.
int maxBatchSize(const nvinfer1::ICudaEngine& engine);
int bindingCount(const nvinfer1::ICudaEngine& engine);  // bindings of all profiles
std::string bindingName(const nvinfer1::ICudaEngine& engine, int binding);
bool bindingIsInput(const nvinfer1::ICudaEngine& engine, int binding);
nvinfer1::DataType bindingDataType(const nvinfer1::ICudaEngine& engine, int binding);
Extents bindingDimensions(const nvinfer1::ICudaEngine& engine, int binding);  // -1 where dynamic

// Where and how a binding's elements lie, as the engine was built for the binding's profile.
struct Layout {
  bool on_host = false;  // a tensor TensorRT reads from host memory (a shape tensor)
  nvinfer1::TensorFormat format = nvinfer1::TensorFormat::kLINEAR;
};
Layout bindingLayout(const nvinfer1::ICudaEngine& engine, int binding);

// Makes the context run one profile, on the stream the calls use. False when TensorRT refuses it.
bool selectProfile(nvinfer1::IExecutionContext& context, int profile, cudaStream_t stream);

// Gives an input binding of the selected profile its dimensions: batch_size, then the configured
// shape's extents after the first. False when TensorRT refuses them (it keeps the previous ones).
bool setInputDimensions(nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine& engine,
                        int binding, const std::vector<int>& shape, int batch_size);

// True only when TensorRT says every input dimension of the selected profile is known.
bool allInputDimensionsSpecified(nvinfer1::IExecutionContext& context);

// A binding's dimensions as the context resolved them for the selected profile.
Extents resolvedDimensions(const nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine& engine,
                           int binding);

// Hands TensorRT the device pointers of bindings[first .. first + count - 1] where it takes them one
// tensor at a time (10, 11); where the enqueue takes the whole array (7, 8) there is nothing to do.
// Returns the first binding TensorRT refused, or -1 when it took them all.
int bindAddresses(nvinfer1::IExecutionContext& context, const nvinfer1::ICudaEngine& engine, int first,
                  int count, void* const* bindings);

// Enqueues the selected profile on stream; bindings is the whole binding array. True when enqueued.
bool enqueue(nvinfer1::IExecutionContext& context, void** bindings, cudaStream_t stream);

}  // namespace trt_binding

#endif  // INFERLET_TRT_BINDING_H_
