// The base classes the stand-in's runtime objects implement, per TensorRT generation.
//
// Up to 8.x the interfaces are abstract classes and the stand-in overrides them. From 10.x they are
// facades forwarding to an implementation interface (mImpl); the stand-in's classes are both the
// facade and its implementation, so the same member functions serve either way.
#ifndef TRT_STANDIN_RUNTIME_INTERFACE_H_
#define TRT_STANDIN_RUNTIME_INTERFACE_H_

#include <NvInferRuntime.h>

namespace trt_standin {

#if NV_TENSORRT_MAJOR >= 10
template <typename Facade, typename Impl>
class FacadeOver : public Facade, public Impl {
 protected:
  FacadeOver() { Facade::mImpl = this; }
};

using RuntimeInterface = FacadeOver<nvinfer1::IRuntime, nvinfer1::apiv::VRuntime>;
using EngineInterface = FacadeOver<nvinfer1::ICudaEngine, nvinfer1::apiv::VCudaEngine>;
using ContextInterface = FacadeOver<nvinfer1::IExecutionContext, nvinfer1::apiv::VExecutionContext>;
#else
using RuntimeInterface = nvinfer1::IRuntime;
using EngineInterface = nvinfer1::ICudaEngine;
using ContextInterface = nvinfer1::IExecutionContext;
#endif

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_INTERFACE_H_
