// An engine's bindings as TensorRT 7 and 8 number them, on every generation: the one part of the
// inspector that differs between the binding-index API (7, 8) and the named-tensor API (10, 11).
//
// On 10 and 11 the bindings are the I/O tensors once per optimization profile: binding b is I/O
// tensor b mod n of profile b / n (n I/O tensors), named " [profile k]" after the tensor for k >= 1,
// as a TensorRT 8 engine names its bindings.
#ifndef INFERLET_APPS_ENGINE_BINDINGS_H_
#define INFERLET_APPS_ENGINE_BINDINGS_H_

#include <NvInfer.h>

#include <cstdint>
#include <memory>
#include <string>

#include "trt_support.h"

#if NV_TENSORRT_MAJOR >= 10

// A profile switch queues work on the default stream (see SelectProfile), which must be done before
// the context goes.
struct ContextRelease {
  void operator()(nvinfer1::IExecutionContext* context) const {
    cudaStreamSynchronize(cudaStream_t{});
    TrtDestroyer()(context);
  }
};
using TrtContext = std::unique_ptr<nvinfer1::IExecutionContext, ContextRelease>;

class EngineBindings {
 public:
  explicit EngineBindings(const nvinfer1::ICudaEngine& engine)
      : engine_(engine), tensors_(engine.getNbIOTensors()) {}

  int Count() const { return tensors_ * engine_.getNbOptimizationProfiles(); }
  // Implicit batch is gone: an engine takes its batch from the shapes, as an explicit-batch
  // TensorRT 8 engine does, which reports 1.
  int MaxBatchSize() const { return 1; }

  std::string Name(int b) const {
    const int profile = tensors_ > 0 ? b / tensors_ : 0;
    return profile == 0 ? Tensor(b) : Tensor(b) + " [profile " + std::to_string(profile) + "]";
  }
  bool IsInput(int b) const {
    return engine_.getTensorIOMode(Tensor(b).c_str()) == nvinfer1::TensorIOMode::kINPUT;
  }
  nvinfer1::DataType Type(int b) const { return engine_.getTensorDataType(Tensor(b).c_str()); }
  nvinfer1::Dims Dims(int b) const { return engine_.getTensorShape(Tensor(b).c_str()); }
  nvinfer1::Dims ProfileDims(int b, int profile, nvinfer1::OptProfileSelector point) const {
    return engine_.getProfileShape(Tensor(b).c_str(), profile, point);
  }
  // Device memory a context of the default strategy holds: enough for every profile.
  int64_t ContextMemory() const { return engine_.getDeviceMemorySizeV2(); }

  // Only shapes are set and read on the context, nothing is enqueued: the default stream takes
  // whatever the switch queues, and the context's release waits for it.
  static bool SelectProfile(nvinfer1::IExecutionContext& context, int profile) {
    return context.getOptimizationProfile() == profile ||
           context.setOptimizationProfileAsync(profile, cudaStream_t{});
  }
  bool SetInputDims(nvinfer1::IExecutionContext& context, int b, const nvinfer1::Dims& dims) const {
    return context.setInputShape(Tensor(b).c_str(), dims);
  }
  nvinfer1::Dims ContextDims(const nvinfer1::IExecutionContext& context, int b) const {
    return context.getTensorShape(Tensor(b).c_str());
  }

 private:
  std::string Tensor(int b) const {
    const char* name = tensors_ > 0 ? engine_.getIOTensorName(b % tensors_) : nullptr;
    return name ? name : "";
  }

  const nvinfer1::ICudaEngine& engine_;
  int tensors_;
};

#else

using TrtContext = TrtUniquePtr<nvinfer1::IExecutionContext>;

class EngineBindings {
 public:
  explicit EngineBindings(const nvinfer1::ICudaEngine& engine) : engine_(engine) {}

  int Count() const { return engine_.getNbBindings(); }
  int MaxBatchSize() const { return engine_.getMaxBatchSize(); }

  std::string Name(int b) const {
    const char* name = engine_.getBindingName(b);
    return name ? name : "";
  }
  bool IsInput(int b) const { return engine_.bindingIsInput(b); }
  nvinfer1::DataType Type(int b) const { return engine_.getBindingDataType(b); }
  nvinfer1::Dims Dims(int b) const { return engine_.getBindingDimensions(b); }
  nvinfer1::Dims ProfileDims(int b, int profile, nvinfer1::OptProfileSelector point) const {
    return engine_.getProfileDimensions(b, profile, point);
  }
  int64_t ContextMemory() const { return static_cast<int64_t>(engine_.getDeviceMemorySize()); }

  static bool SelectProfile(nvinfer1::IExecutionContext& context, int profile) {
    if (context.getOptimizationProfile() == profile) return true;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return context.setOptimizationProfile(profile);
#pragma GCC diagnostic pop
  }
  bool SetInputDims(nvinfer1::IExecutionContext& context, int b, const nvinfer1::Dims& dims) const {
    return context.setBindingDimensions(b, dims);
  }
  nvinfer1::Dims ContextDims(const nvinfer1::IExecutionContext& context, int b) const {
    return context.getBindingDimensions(b);
  }

 private:
  const nvinfer1::ICudaEngine& engine_;
};

#endif

#endif  // INFERLET_APPS_ENGINE_BINDINGS_H_
