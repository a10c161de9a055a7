// How an engine's I/O tensors lie in memory: format, vectorization and location, per binding (up to
// 8.x) or per tensor and profile (from 10.x).
#include <algorithm>

#include "engine.h"
#include "graph.h"

namespace trt_standin {
namespace {

// Answers for an unknown tensor, binding or profile that no real format gives: -1 is a real
// vectorized dimension (one scalar per vector), so that query answers -2.
constexpr auto kNoFormat = static_cast<nvinfer1::TensorFormat>(-1);
constexpr int32_t kNoVectorizedDim = -2;

// One I/O tensor under one profile; io < 0 when the query named none.
struct IoRef {
  const Graph& graph;
  int io;
  int profile;

  bool valid() const { return io >= 0; }
  TensorFormat format() const { return graph.io_format(io, profile); }
  const FormatTraits& traits() const { return *format_traits(format()); }
  const TensorDesc& desc() const { return graph.io_desc(io); }
};

// A 4-bit component has no whole byte count: -1, as for a tensor that is not vectorized (a 4-bit
// tensor is kLINEAR).
int32_t bytes_per_component(const IoRef& r) {
  return r.valid() && !is_packed(r.desc().type) ? static_cast<int32_t>(element_size(r.desc().type)) : -1;
}

int32_t components_per_element(const IoRef& r) { return r.valid() ? r.traits().vector_width : -1; }

nvinfer1::TensorFormat format_of(const IoRef& r) {
  return r.valid() ? static_cast<nvinfer1::TensorFormat>(r.format()) : kNoFormat;
}

const char* description(const IoRef& r) { return r.valid() ? r.traits().description : nullptr; }

int32_t vectorized_dim(const IoRef& r) {
  return r.valid() ? reported_vectorized_dim(r.format(), static_cast<int>(r.desc().dims.size()))
                   : kNoVectorizedDim;
}

bool in_host_memory(const IoRef& r) { return r.valid() && r.desc().location == TensorLocation::kHost; }

}  // namespace

#if NV_TENSORRT_MAJOR >= 10

namespace {

IoRef io_ref(const Engine& engine, const Graph& graph, const char* tensorName, int32_t profileIndex) {
  const bool profile_known = profileIndex >= 0 && profileIndex < engine.getNbOptimizationProfiles();
  return IoRef{graph, profile_known ? engine.io_index(tensorName) : -1, profileIndex};
}

}  // namespace

int32_t Engine::getTensorBytesPerComponent(const char* tensorName) const noexcept {
  return getTensorBytesPerComponentV2(tensorName, 0);
}

int32_t Engine::getTensorBytesPerComponentV2(const char* tensorName, int32_t profileIndex) const noexcept {
  return bytes_per_component(io_ref(*this, *graph_, tensorName, profileIndex));
}

int32_t Engine::getTensorComponentsPerElement(const char* tensorName) const noexcept {
  return getTensorComponentsPerElementV2(tensorName, 0);
}

int32_t Engine::getTensorComponentsPerElementV2(const char* tensorName, int32_t profileIndex) const noexcept {
  return components_per_element(io_ref(*this, *graph_, tensorName, profileIndex));
}

nvinfer1::TensorFormat Engine::getTensorFormat(const char* tensorName) const noexcept {
  return getTensorFormatV2(tensorName, 0);
}

nvinfer1::TensorFormat Engine::getTensorFormatV2(const char* tensorName,
                                                 int32_t profileIndex) const noexcept {
  return format_of(io_ref(*this, *graph_, tensorName, profileIndex));
}

const char* Engine::getTensorFormatDesc(const char* tensorName) const noexcept {
  return getTensorFormatDescV2(tensorName, 0);
}

const char* Engine::getTensorFormatDescV2(const char* tensorName, int32_t profileIndex) const noexcept {
  return description(io_ref(*this, *graph_, tensorName, profileIndex));
}

int32_t Engine::getTensorVectorizedDim(const char* tensorName) const noexcept {
  return getTensorVectorizedDimV2(tensorName, 0);
}

int32_t Engine::getTensorVectorizedDimV2(const char* tensorName, int32_t profileIndex) const noexcept {
  return vectorized_dim(io_ref(*this, *graph_, tensorName, profileIndex));
}

// kDEVICE for an unknown name, as the real runtime answers.
nvinfer1::TensorLocation Engine::getTensorLocation(const char* tensorName) const noexcept {
  return in_host_memory(io_ref(*this, *graph_, tensorName, 0)) ? nvinfer1::TensorLocation::kHOST
                                                               : nvinfer1::TensorLocation::kDEVICE;
}

// Host inputs are the engine's shape tensors.
bool Engine::isShapeInferenceIO(const char* tensorName) const noexcept {
  return in_host_memory(io_ref(*this, *graph_, tensorName, 0));
}

#else

namespace {

IoRef binding_ref(const Engine& engine, const Graph& graph, int32_t bindingIndex) {
  if (engine.tensor_of_binding(bindingIndex) < 0) return IoRef{graph, -1, -1};
  const int per_profile = graph.bindings_per_profile();
  return IoRef{graph, bindingIndex % per_profile, bindingIndex / per_profile};
}

// An out-of-range binding has no location; no real one is -1.
constexpr auto kNoLocation = static_cast<nvinfer1::TensorLocation>(-1);

}  // namespace

nvinfer1::TensorLocation Engine::getLocation(int32_t bindingIndex) const noexcept {
  const IoRef r = binding_ref(*this, *graph_, bindingIndex);
  if (!r.valid()) return kNoLocation;
  return in_host_memory(r) ? nvinfer1::TensorLocation::kHOST : nvinfer1::TensorLocation::kDEVICE;
}

int32_t Engine::getBindingBytesPerComponent(int32_t bindingIndex) const noexcept {
  return bytes_per_component(binding_ref(*this, *graph_, bindingIndex));
}

int32_t Engine::getBindingComponentsPerElement(int32_t bindingIndex) const noexcept {
  return components_per_element(binding_ref(*this, *graph_, bindingIndex));
}

nvinfer1::TensorFormat Engine::getBindingFormat(int32_t bindingIndex) const noexcept {
  return format_of(binding_ref(*this, *graph_, bindingIndex));
}

const char* Engine::getBindingFormatDesc(int32_t bindingIndex) const noexcept {
  return description(binding_ref(*this, *graph_, bindingIndex));
}

int32_t Engine::getBindingVectorizedDim(int32_t bindingIndex) const noexcept {
  return vectorized_dim(binding_ref(*this, *graph_, bindingIndex));
}

bool Engine::isShapeBinding(int32_t bindingIndex) const noexcept {
  return in_host_memory(binding_ref(*this, *graph_, bindingIndex));
}

// A shape tensor is also an execution binding when a layer reads its elements as data; one whose values
// only give a reshape its extents (set with setInputShapeBinding) is not.
bool Engine::isExecutionBinding(int32_t bindingIndex) const noexcept {
  const IoRef r = binding_ref(*this, *graph_, bindingIndex);
  if (!r.valid()) return false;
  if (!in_host_memory(r)) return true;
  return graph_->input_read_as_data(graph_->io_tensor(r.io));
}

#endif

}  // namespace trt_standin
