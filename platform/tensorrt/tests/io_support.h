// One way to reach an I/O tensor's layout queries, shapes, profiles and enqueue in either generation,
// so that the format and host-tensor tests are written once for every major.
#ifndef TRT_STANDIN_TESTS_IO_SUPPORT_H_
#define TRT_STANDIN_TESTS_IO_SUPPORT_H_

#include <cstdlib>

#include "test_support.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // setOptimizationProfile, as in real use
#endif

namespace trt_test {

// What the engine and the context report for one I/O tensor under one profile.
struct LayoutAnswers {
  int format;  // as nvinfer1::TensorFormat
  const char* description;
  int32_t vectorized_dim;
  int32_t components;
  int32_t bytes;
  std::vector<int64_t> strides;  // the context's
  bool strides_invalid;          // the context answered nbDims -1
};

inline std::vector<int64_t> stride_list(const nvinfer1::Dims& d) {
  std::vector<int64_t> s;
  for (int32_t i = 0; i < d.nbDims; ++i) s.push_back(d.d[i]);
  return s;
}

#if NV_TENSORRT_MAJOR >= 10

inline LayoutAnswers layout_answers(Loaded& l, const char* name, int32_t profile) {
  const nvinfer1::ICudaEngine& e = *l.engine;
  const nvinfer1::Dims strides = l.context->getTensorStrides(name);
  return {static_cast<int>(e.getTensorFormat(name, profile)),
          e.getTensorFormatDesc(name, profile),
          e.getTensorVectorizedDim(name, profile),
          e.getTensorComponentsPerElement(name, profile),
          e.getTensorBytesPerComponent(name, profile),
          stride_list(strides),
          strides.nbDims == -1};
}

inline bool set_shape(Loaded& l, const char* name, const nvinfer1::Dims& d) {
  return l.context->setInputShape(name, d);
}

inline bool select_profile(Loaded& l, int32_t profile, cudaStream_t stream) {
  return l.context->setOptimizationProfileAsync(profile, stream) &&
         cudaStreamSynchronize(stream) == cudaSuccess;
}

// Enqueues the selected profile with one address per I/O tensor, inputs first.
inline bool enqueue(Loaded& l, const std::vector<void*>& addresses, cudaStream_t stream) {
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (!l.context->setTensorAddress(l.engine->getIOTensorName(static_cast<int32_t>(i)), addresses[i])) {
      return false;
    }
  }
  return l.context->enqueueV3(stream);
}

#else

// The binding of a tensor name under a profile.
inline int32_t binding_of(const nvinfer1::ICudaEngine& e, const char* name, int32_t profile) {
  const std::string suffix = profile == 0 ? "" : " [profile " + std::to_string(profile) + "]";
  return e.getBindingIndex((name + suffix).c_str());
}

inline LayoutAnswers layout_answers(Loaded& l, const char* name, int32_t profile) {
  const nvinfer1::ICudaEngine& e = *l.engine;
  const int32_t b = binding_of(e, name, profile);
  const nvinfer1::Dims strides = l.context->getStrides(b);
  return {static_cast<int>(e.getBindingFormat(b)),
          e.getBindingFormatDesc(b),
          e.getBindingVectorizedDim(b),
          e.getBindingComponentsPerElement(b),
          e.getBindingBytesPerComponent(b),
          stride_list(strides),
          strides.nbDims == -1};
}

inline bool set_shape(Loaded& l, const char* name, const nvinfer1::Dims& d) {
  return l.context->setBindingDimensions(binding_of(*l.engine, name, l.context->getOptimizationProfile()), d);
}

inline bool select_profile(Loaded& l, int32_t profile, cudaStream_t /*stream*/) {
  return l.context->setOptimizationProfile(profile);
}

inline bool enqueue(Loaded& l, const std::vector<void*>& addresses, cudaStream_t stream) {
  std::vector<void*> bindings(l.engine->getNbBindings(), nullptr);
  const std::size_t base = static_cast<std::size_t>(l.context->getOptimizationProfile()) * addresses.size();
  std::copy(addresses.begin(), addresses.end(), bindings.begin() + base);
  return l.context->enqueueV2(bindings.data(), stream, nullptr);
}

#endif

// Host memory aligned as tensor addresses must be.
class HostBuffer {
 public:
  explicit HostBuffer(std::size_t bytes) : p_(std::aligned_alloc(256, (bytes + 255) / 256 * 256)) {}
  ~HostBuffer() { std::free(p_); }
  HostBuffer(const HostBuffer&) = delete;
  HostBuffer& operator=(const HostBuffer&) = delete;
  void* get() const { return p_; }

 private:
  void* p_;
};

// "<enqueue call>: cudaMemcpyAsync failed: invalid argument", the line of a refused copy.
inline std::string refused_copy_line() {
  return std::string(NV_TENSORRT_MAJOR >= 10 ? "enqueueV3" : "enqueueV2") +
         ": cudaMemcpyAsync failed: " + cudaGetErrorString(cudaErrorInvalidValue);
}

}  // namespace trt_test

#endif  // TRT_STANDIN_TESTS_IO_SUPPORT_H_
