// Stand-in TensorRT 7.2.3: runtime, engine and execution context interfaces.
#ifndef TRT_STANDIN_7_NV_INFER_RUNTIME_H_
#define TRT_STANDIN_7_NV_INFER_RUNTIME_H_

#include "NvInferRuntimeCommon.h"

namespace nvinfer1 {

class IExecutionContext;
class ICudaEngine;
class IPluginFactory;

class IRuntime {
 public:
  virtual ICudaEngine* deserializeCudaEngine(const void* blob, std::size_t size,
                                             IPluginFactory* pluginFactory) noexcept = 0;
  virtual void destroy() noexcept = 0;

  ICudaEngine* deserializeCudaEngine(const void* blob, std::size_t size) noexcept {
    return deserializeCudaEngine(blob, size, nullptr);
  }

 protected:
  virtual ~IRuntime() {}
};

class ICudaEngine {
 public:
  virtual int32_t getNbBindings() const noexcept = 0;
  virtual int32_t getBindingIndex(const char* name) const noexcept = 0;
  virtual const char* getBindingName(int32_t bindingIndex) const noexcept = 0;
  virtual bool bindingIsInput(int32_t bindingIndex) const noexcept = 0;
  virtual Dims getBindingDimensions(int32_t bindingIndex) const noexcept = 0;
  virtual DataType getBindingDataType(int32_t bindingIndex) const noexcept = 0;
  virtual int32_t getMaxBatchSize() const noexcept = 0;
  virtual IExecutionContext* createExecutionContext() noexcept = 0;
  virtual void destroy() noexcept = 0;
  virtual bool isRefittable() const noexcept = 0;
  virtual const char* getName() const noexcept = 0;
  virtual int32_t getNbOptimizationProfiles() const noexcept = 0;
  virtual Dims getProfileDimensions(int32_t bindingIndex, int32_t profileIndex,
                                    OptProfileSelector select) const noexcept = 0;
  virtual TensorLocation getLocation(int32_t bindingIndex) const noexcept = 0;
  // Activation memory a context needs, for the largest of the engine's profiles.
  virtual std::size_t getDeviceMemorySize() const noexcept = 0;
  virtual int32_t getBindingBytesPerComponent(int32_t bindingIndex) const noexcept = 0;
  virtual int32_t getBindingComponentsPerElement(int32_t bindingIndex) const noexcept = 0;
  virtual TensorFormat getBindingFormat(int32_t bindingIndex) const noexcept = 0;
  virtual const char* getBindingFormatDesc(int32_t bindingIndex) const noexcept = 0;
  // -1 when the format has one scalar per vector.
  virtual int32_t getBindingVectorizedDim(int32_t bindingIndex) const noexcept = 0;
  virtual bool isShapeBinding(int32_t bindingIndex) const noexcept = 0;
  virtual bool isExecutionBinding(int32_t bindingIndex) const noexcept = 0;
  // A shape binding's min/opt/max values under a profile (a binding of block 0 stands for any profile's);
  // nullptr for indices out of range or a binding that is no input shape binding.
  virtual const int32_t* getProfileShapeValues(int32_t profileIndex, int32_t inputIndex,
                                               OptProfileSelector select) const noexcept = 0;

 protected:
  virtual ~ICudaEngine() {}
};

class IExecutionContext {
 public:
  virtual const ICudaEngine& getEngine() const noexcept = 0;
  virtual void destroy() noexcept = 0;
  TRT_DEPRECATED virtual bool setOptimizationProfile(int32_t profileIndex) noexcept = 0;
  virtual int32_t getOptimizationProfile() const noexcept = 0;
  virtual bool setBindingDimensions(int32_t bindingIndex, Dims dimensions) noexcept = 0;
  virtual Dims getBindingDimensions(int32_t bindingIndex) const noexcept = 0;
  virtual bool allInputDimensionsSpecified() const noexcept = 0;
  // In elements (a vector of getBindingComponentsPerElement scalars for a vectorized format).
  virtual Dims getStrides(int32_t bindingIndex) const noexcept = 0;
  // The values of an input shape binding of the selected profile, as many as its tensor has elements.
  virtual bool setInputShapeBinding(int32_t bindingIndex, const int32_t* data) noexcept = 0;
  // The values set for an input shape binding; false where there are none.
  virtual bool getShapeBinding(int32_t bindingIndex, int32_t* data) const noexcept = 0;
  virtual bool allInputShapesSpecified() const noexcept = 0;
  virtual bool enqueueV2(void** bindings, cudaStream_t stream, cudaEvent_t* inputConsumed) noexcept = 0;

 protected:
  virtual ~IExecutionContext() noexcept {}
};

}  // namespace nvinfer1

extern "C" TENSORRTAPI void* createInferRuntime_INTERNAL(void* logger, int32_t version);
extern "C" TENSORRTAPI int32_t getInferLibVersion();

namespace nvinfer1 {
namespace {

// Passes the version these headers describe; the logger must outlive everything the runtime creates.
inline IRuntime* createInferRuntime(ILogger& logger) {
  return static_cast<IRuntime*>(createInferRuntime_INTERNAL(&logger, NV_TENSORRT_VERSION));
}

}  // namespace
}  // namespace nvinfer1

#endif  // TRT_STANDIN_7_NV_INFER_RUNTIME_H_
