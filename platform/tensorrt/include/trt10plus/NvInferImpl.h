// Stand-in TensorRT 10.13 / 11.1: the implementation interfaces behind the runtime facades.
//
// As in the real release, IRuntime, ICudaEngine and IExecutionContext are non-virtual facades that
// forward every call to an object of these classes (mImpl). Applications never use them directly.
#ifndef TRT_STANDIN_10PLUS_NV_INFER_IMPL_H_
#define TRT_STANDIN_10PLUS_NV_INFER_IMPL_H_

#include "NvInferRuntimeCommon.h"

namespace nvinfer1 {

class ICudaEngine;
class IExecutionContext;
enum class OptProfileSelector : int32_t;
enum class ExecutionContextAllocationStrategy : int32_t;
enum class TensorLocation : int32_t;
enum class TensorFormat : int32_t;

namespace v_1_0 {
class IOutputAllocator;
}  // namespace v_1_0
using IOutputAllocator = v_1_0::IOutputAllocator;

namespace apiv {

class VRoot {
 public:
  virtual ~VRoot() noexcept = default;
};

class VRuntime : public VRoot {
 public:
  virtual ICudaEngine* deserializeCudaEngine(void const* blob, std::size_t size) noexcept = 0;
  virtual ILogger* getLogger() const noexcept = 0;
  virtual void setEngineHostCodeAllowed(bool allowed) noexcept = 0;
  virtual bool getEngineHostCodeAllowed() const noexcept = 0;
};

class VCudaEngine : public VRoot {
 public:
  virtual Dims getTensorShape(char const* tensorName) const noexcept = 0;
  virtual DataType getTensorDataType(char const* tensorName) const noexcept = 0;
  virtual IExecutionContext* createExecutionContext(ExecutionContextAllocationStrategy strategy) noexcept = 0;
  virtual TensorLocation getTensorLocation(char const* tensorName) const noexcept = 0;
  virtual bool isShapeInferenceIO(char const* tensorName) const noexcept = 0;
  virtual TensorIOMode getTensorIOMode(char const* tensorName) const noexcept = 0;
  virtual bool isRefittable() const noexcept = 0;
  virtual char const* getName() const noexcept = 0;
  virtual int32_t getNbOptimizationProfiles() const noexcept = 0;
  virtual Dims getProfileShape(char const* tensorName, int32_t profileIndex,
                               OptProfileSelector select) const noexcept = 0;
#if NV_TENSORRT_MAJOR < 11
  virtual bool hasImplicitBatchDimension() const noexcept = 0;
#endif
  virtual int32_t getNbIOTensors() const noexcept = 0;
  virtual char const* getIOTensorName(int32_t index) const noexcept = 0;
  virtual int32_t getTensorBytesPerComponent(char const* tensorName) const noexcept = 0;
  virtual int32_t getTensorBytesPerComponentV2(char const* tensorName,
                                               int32_t profileIndex) const noexcept = 0;
  virtual int32_t getTensorComponentsPerElement(char const* tensorName) const noexcept = 0;
  virtual int32_t getTensorComponentsPerElementV2(char const* tensorName,
                                                  int32_t profileIndex) const noexcept = 0;
  virtual TensorFormat getTensorFormat(char const* tensorName) const noexcept = 0;
  virtual TensorFormat getTensorFormatV2(char const* tensorName, int32_t profileIndex) const noexcept = 0;
  virtual char const* getTensorFormatDesc(char const* tensorName) const noexcept = 0;
  virtual char const* getTensorFormatDescV2(char const* tensorName, int32_t profileIndex) const noexcept = 0;
  virtual int32_t getTensorVectorizedDim(char const* tensorName) const noexcept = 0;
  virtual int32_t getTensorVectorizedDimV2(char const* tensorName, int32_t profileIndex) const noexcept = 0;
  virtual int64_t getDeviceMemorySizeV2() const noexcept = 0;
  virtual int64_t getDeviceMemorySizeForProfileV2(int32_t profileIndex) const noexcept = 0;
#if NV_TENSORRT_MAJOR < 11
  virtual int32_t const* getProfileTensorValues(char const* tensorName, int32_t profileIndex,
                                                OptProfileSelector select) const noexcept = 0;
#endif
  virtual int64_t const* getProfileTensorValuesV2(char const* tensorName, int32_t profileIndex,
                                                  OptProfileSelector select) const noexcept = 0;
#if NV_TENSORRT_MAJOR >= 11
  virtual char const* getAliasedInputTensor(char const* tensorName) const noexcept = 0;
#endif
};

class VExecutionContext : public VRoot {
 public:
  virtual ICudaEngine const& getEngine() const noexcept = 0;
  virtual int32_t getOptimizationProfile() const noexcept = 0;
  virtual bool setInputShape(char const* tensorName, Dims const& dims) noexcept = 0;
  virtual Dims getTensorShape(char const* tensorName) const noexcept = 0;
  virtual bool allInputDimensionsSpecified() const noexcept = 0;
#if NV_TENSORRT_MAJOR < 11
  virtual bool allInputShapesSpecified() const noexcept = 0;
#endif
  virtual bool setOptimizationProfileAsync(int32_t profileIndex, cudaStream_t stream) noexcept = 0;
  virtual bool setTensorAddress(char const* tensorName, void* data) noexcept = 0;
  virtual void const* getTensorAddress(char const* tensorName) const noexcept = 0;
  virtual bool setOutputTensorAddress(char const* tensorName, void* data) noexcept = 0;
  virtual bool setInputTensorAddress(char const* tensorName, void const* data) noexcept = 0;
  virtual void* getOutputTensorAddress(char const* tensorName) const noexcept = 0;
  virtual int32_t inferShapes(int32_t nbMaxNames, char const** tensorNames) noexcept = 0;
  virtual bool setInputConsumedEvent(cudaEvent_t event) noexcept = 0;
  virtual cudaEvent_t getInputConsumedEvent() const noexcept = 0;
  virtual bool enqueueV3(cudaStream_t stream) noexcept = 0;
  virtual Dims getTensorStrides(char const* tensorName) const noexcept = 0;
  virtual void setDeviceMemoryV2(void* memory, int64_t size) noexcept = 0;
  virtual bool setOutputAllocator(char const* tensorName, IOutputAllocator* outputAllocator) noexcept = 0;
  virtual IOutputAllocator* getOutputAllocator(char const* tensorName) const noexcept = 0;
  virtual int64_t getMaxOutputSize(char const* tensorName) const noexcept = 0;
};

}  // namespace apiv
}  // namespace nvinfer1

#endif  // TRT_STANDIN_10PLUS_NV_INFER_IMPL_H_
