// Stand-in TensorRT 10.13 / 11.1: logger, runtime, engine and execution context interfaces.
//
// The named-tensor generation: no binding indices, no destroy(), objects are deleted. Each class is
// a facade of non-virtual inline calls forwarding to mImpl (NvInferImpl.h). Differences between
// 10.13 and 11.1 are switched on NV_TENSORRT_MAJOR: 11.1 versions ILogger, makes the destructors of
// the three runtime classes pure (so the classes are abstract), and drops what 10.13 deprecated.
#ifndef TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_H_
#define TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_H_

#include "NvInferImpl.h"
#include "NvInferRuntimeCommon.h"

namespace nvinfer1 {

class IExecutionContext;
class ICudaEngine;
class IRuntime;

// Base of the runtime objects: they are handed out by pointer and never copied.
class INoCopy {
 protected:
  INoCopy() = default;
  virtual ~INoCopy() = default;
  INoCopy(INoCopy const& other) = delete;
  INoCopy& operator=(INoCopy const& other) = delete;
  INoCopy(INoCopy&& other) = delete;
  INoCopy& operator=(INoCopy&& other) = delete;
};

enum class TensorLocation : int32_t { kDEVICE = 0, kHOST = 1 };

namespace impl {
template <>
struct EnumMaxImpl<TensorLocation> {
  static constexpr int32_t kVALUE = 2;
};
}  // namespace impl

// How an I/O tensor's elements lie in memory. Vectorized formats pad the vectorized dimension to a
// multiple of the vector width.
enum class TensorFormat : int32_t {
  kLINEAR = 0,
  kCHW2 = 1,
  kHWC8 = 2,
  kCHW4 = 3,
  kCHW16 = 4,
  kCHW32 = 5,
  kDHWC8 = 6,
  kCDHW32 = 7,
  kHWC = 8,
  kDLA_LINEAR = 9,
  kDLA_HWC4 = 10,
  kHWC16 = 11,
  kDHWC = 12
};

namespace impl {
template <>
struct EnumMaxImpl<TensorFormat> {
  static constexpr int32_t kVALUE = 13;
};
}  // namespace impl

enum class OptProfileSelector : int32_t { kMIN = 0, kOPT = 1, kMAX = 2 };

namespace impl {
template <>
struct EnumMaxImpl<OptProfileSelector> {
  static constexpr int32_t kVALUE = 3;
};
}  // namespace impl

enum class ExecutionContextAllocationStrategy : int32_t {
  kSTATIC = 0,
  kON_PROFILE_CHANGE = 1,
  kUSER_MANAGED = 2,
};

namespace impl {
template <>
struct EnumMaxImpl<ExecutionContextAllocationStrategy> {
  static constexpr int32_t kVALUE = 3;
};
}  // namespace impl

// The logger must outlive every object created through it and be thread safe.
#if NV_TENSORRT_MAJOR >= 11
namespace v_1_0 {
class ILogger : public IVersionedInterface {
 public:
  InterfaceInfo getInterfaceInfo() const noexcept override { return InterfaceInfo{"ILogger", 1, 0}; }
#else
class ILogger {
 public:
#endif
  enum class Severity : int32_t {
    kINTERNAL_ERROR = 0,
    kERROR = 1,
    kWARNING = 2,
    kINFO = 3,
    kVERBOSE = 4,
  };

  virtual void log(Severity severity, AsciiChar const* msg) noexcept = 0;

  ILogger() = default;
#if NV_TENSORRT_MAJOR >= 11
  ~ILogger() override = default;
#else
  virtual ~ILogger() = default;
#endif

 protected:
  ILogger(ILogger const&) = default;
  ILogger(ILogger&&) = default;
  ILogger& operator=(ILogger const&) & = default;
  ILogger& operator=(ILogger&&) & = default;
};
#if NV_TENSORRT_MAJOR >= 11
}  // namespace v_1_0
#endif

namespace impl {
template <>
struct EnumMaxImpl<ILogger::Severity> {
  static constexpr int32_t kVALUE = 5;
};
}  // namespace impl

class IRuntime : public INoCopy {
 public:
#if NV_TENSORRT_MAJOR >= 11
  virtual ~IRuntime() noexcept = 0;
#else
  virtual ~IRuntime() noexcept = default;
#endif

  // The engine, or nullptr when the bytes cannot be deserialized. Releasing the runtime before all
  // of its engines is undefined behaviour.
  ICudaEngine* deserializeCudaEngine(void const* blob, std::size_t size) noexcept {
    return mImpl->deserializeCudaEngine(blob, size);
  }

  ILogger* getLogger() const noexcept { return mImpl->getLogger(); }

  // Whether engines holding host executable code (version-compatible ones) may be deserialized;
  // false until set.
  void setEngineHostCodeAllowed(bool allowed) noexcept { return mImpl->setEngineHostCodeAllowed(allowed); }
  bool getEngineHostCodeAllowed() const noexcept { return mImpl->getEngineHostCodeAllowed(); }

 protected:
#if NV_TENSORRT_MAJOR >= 11
  apiv::VRuntime* mImpl{};
#else
  apiv::VRuntime* mImpl;
#endif
};

#if NV_TENSORRT_MAJOR >= 11
inline IRuntime::~IRuntime() noexcept = default;
#endif

class ICudaEngine : public INoCopy {
 public:
#if NV_TENSORRT_MAJOR >= 11
  virtual ~ICudaEngine() noexcept = 0;
#else
  virtual ~ICudaEngine() noexcept = default;
#endif

  // Build-time shape, -1 for each runtime dimension; Dims{-1, {}} for an unknown name.
  Dims getTensorShape(char const* tensorName) const noexcept { return mImpl->getTensorShape(tensorName); }

  // kFLOAT for a name that is not an I/O tensor.
  DataType getTensorDataType(char const* tensorName) const noexcept {
    return mImpl->getTensorDataType(tensorName);
  }

  // Every new context starts on optimization profile 0.
  IExecutionContext* createExecutionContext(
      ExecutionContextAllocationStrategy strategy = ExecutionContextAllocationStrategy::kSTATIC) noexcept {
    return mImpl->createExecutionContext(strategy);
  }

  TensorLocation getTensorLocation(char const* tensorName) const noexcept {
    return mImpl->getTensorLocation(tensorName);
  }

  bool isShapeInferenceIO(char const* tensorName) const noexcept {
    return mImpl->isShapeInferenceIO(tensorName);
  }

#if NV_TENSORRT_MAJOR >= 11
  // The input whose memory the output must share (its address must be the input's); nullptr for a
  // name that is not an output or an output that shares no input's memory.
  TRT_NODISCARD char const* getAliasedInputTensor(char const* tensorName) const noexcept {
    return mImpl->getAliasedInputTensor(tensorName);
  }
#endif

  // kINPUT, kOUTPUT, or kNONE for a name that is neither.
  TensorIOMode getTensorIOMode(char const* tensorName) const noexcept {
    return mImpl->getTensorIOMode(tensorName);
  }

  bool isRefittable() const noexcept { return mImpl->isRefittable(); }

  char const* getName() const noexcept { return mImpl->getName(); }

  // At least 1.
  int32_t getNbOptimizationProfiles() const noexcept { return mImpl->getNbOptimizationProfiles(); }

  // min/opt/max of an input under one profile; Dims{-1, {}} for an invalid profile or a non-input.
  Dims getProfileShape(char const* tensorName, int32_t profileIndex,
                       OptProfileSelector select) const noexcept {
    return mImpl->getProfileShape(tensorName, profileIndex, select);
  }

#if NV_TENSORRT_MAJOR < 11
  // The values (not dimensions) of a shape tensor input under a profile, as the profile set them with
  // the 32-bit setShapeValues; nullptr for an invalid profile, a name that is not an input, a tensor
  // that is no shape binding, or values set with setShapeValuesV2.
  TRT_DEPRECATED int32_t const* getProfileTensorValues(char const* tensorName, int32_t profileIndex,
                                                       OptProfileSelector select) const noexcept {
    return mImpl->getProfileTensorValues(tensorName, profileIndex, select);
  }
#endif

  // The same, as set with setShapeValuesV2; nullptr also where they were set with setShapeValues.
  int64_t const* getProfileTensorValuesV2(char const* tensorName, int32_t profileIndex,
                                          OptProfileSelector select) const noexcept {
    return mImpl->getProfileTensorValuesV2(tensorName, profileIndex, select);
  }

#if NV_TENSORRT_MAJOR < 11
  TRT_DEPRECATED bool hasImplicitBatchDimension() const noexcept {
    return mImpl->hasImplicitBatchDimension();
  }
#endif

  // The network's inputs and outputs, counted once (not per profile).
  int32_t getNbIOTensors() const noexcept { return mImpl->getNbIOTensors(); }

  // index in [0, getNbIOTensors()).
  char const* getIOTensorName(int32_t index) const noexcept { return mImpl->getIOTensorName(index); }

  // The forms without a profile answer for profile 0.
  int32_t getTensorBytesPerComponent(char const* tensorName) const noexcept {
    return mImpl->getTensorBytesPerComponent(tensorName);
  }
  int32_t getTensorBytesPerComponent(char const* tensorName, int32_t profileIndex) const noexcept {
    return mImpl->getTensorBytesPerComponentV2(tensorName, profileIndex);
  }
  int32_t getTensorComponentsPerElement(char const* tensorName) const noexcept {
    return mImpl->getTensorComponentsPerElement(tensorName);
  }
  int32_t getTensorComponentsPerElement(char const* tensorName, int32_t profileIndex) const noexcept {
    return mImpl->getTensorComponentsPerElementV2(tensorName, profileIndex);
  }
  TensorFormat getTensorFormat(char const* tensorName) const noexcept {
    return mImpl->getTensorFormat(tensorName);
  }
  TensorFormat getTensorFormat(char const* tensorName, int32_t profileIndex) const noexcept {
    return mImpl->getTensorFormatV2(tensorName, profileIndex);
  }
  char const* getTensorFormatDesc(char const* tensorName) const noexcept {
    return mImpl->getTensorFormatDesc(tensorName);
  }
  char const* getTensorFormatDesc(char const* tensorName, int32_t profileIndex) const noexcept {
    return mImpl->getTensorFormatDescV2(tensorName, profileIndex);
  }
  // -1 when the format has one scalar per vector.
  int32_t getTensorVectorizedDim(char const* tensorName) const noexcept {
    return mImpl->getTensorVectorizedDim(tensorName);
  }
  int32_t getTensorVectorizedDim(char const* tensorName, int32_t profileIndex) const noexcept {
    return mImpl->getTensorVectorizedDimV2(tensorName, profileIndex);
  }

#if NV_TENSORRT_MAJOR < 11
  TRT_DEPRECATED size_t getDeviceMemorySize() const noexcept {
    return static_cast<size_t>(mImpl->getDeviceMemorySizeV2());
  }
  TRT_DEPRECATED size_t getDeviceMemorySizeForProfile(int32_t profileIndex) const noexcept {
    return static_cast<size_t>(mImpl->getDeviceMemorySizeForProfileV2(profileIndex));
  }
#endif
  // Activation memory a kSTATIC context holds: enough for every profile.
  int64_t getDeviceMemorySizeV2() const noexcept { return mImpl->getDeviceMemorySizeV2(); }
  int64_t getDeviceMemorySizeForProfileV2(int32_t profileIndex) const noexcept {
    return mImpl->getDeviceMemorySizeForProfileV2(profileIndex);
  }

 protected:
  apiv::VCudaEngine* mImpl;
};

#if NV_TENSORRT_MAJOR >= 11
inline ICudaEngine::~ICudaEngine() noexcept = default;
#endif

namespace v_1_0 {
// The application's memory for an output tensor, asked for by enqueueV3 once the size is known (an
// output whose extents depend on the values computed), and told the output's shape.
class IOutputAllocator : public IVersionedInterface {
 public:
  // Applications must not override it.
  InterfaceInfo getInterfaceInfo() const noexcept override { return {"IOutputAllocator", 1, 0}; }

  // Memory of size bytes (always positive, even for an empty tensor) at the given alignment, or
  // nullptr; currentMemory is the address set with setTensorAddress. Superseded by
  // reallocateOutputAsync, which calls it unless overridden.
#if NV_TENSORRT_MAJOR >= 11
  TRT_DEPRECATED virtual void* reallocateOutput(char const* /* tensorName */, void* /* currentMemory */,
                                                uint64_t /* size */, uint64_t /* alignment */) noexcept {
    return nullptr;
  }

  virtual void* reallocateOutputAsync([[maybe_unused]] char const* tensorName,
                                      [[maybe_unused]] void* currentMemory, [[maybe_unused]] uint64_t size,
                                      [[maybe_unused]] uint64_t alignment, cudaStream_t /* stream */) {
    return reallocateOutput(tensorName, currentMemory, size, alignment);
  }
#else
  TRT_DEPRECATED virtual void* reallocateOutput(char const* tensorName, void* currentMemory, uint64_t size,
                                                uint64_t alignment) noexcept {
    return nullptr;
  }

  virtual void* reallocateOutputAsync(char const* tensorName, void* currentMemory, uint64_t size,
                                      uint64_t alignment, cudaStream_t /*stream*/) {
    return reallocateOutput(tensorName, currentMemory, size, alignment);
  }
#endif

  // Called between reallocateOutputAsync and the return of enqueueV3.
  virtual void notifyShape(char const* tensorName, Dims const& dims) noexcept = 0;
};
}  // namespace v_1_0

using IOutputAllocator = v_1_0::IOutputAllocator;

// Several contexts may share an engine; with dynamic shapes, contexts in concurrent use need
// distinct optimization profiles.
class IExecutionContext : public INoCopy {
 public:
#if NV_TENSORRT_MAJOR >= 11
  virtual ~IExecutionContext() noexcept = 0;
#else
  virtual ~IExecutionContext() noexcept = default;
#endif

  ICudaEngine const& getEngine() const noexcept { return mImpl->getEngine(); }

  int32_t getOptimizationProfile() const noexcept { return mImpl->getOptimizationProfile(); }

  // False if the name is not an input tensor or the shape does not fit the selected profile.
  bool setInputShape(char const* tensorName, Dims const& dims) noexcept {
    return mImpl->setInputShape(tensorName, dims);
  }

  // Dims{-1, {}} for an unknown name; -1 in dimensions not known yet.
  Dims getTensorShape(char const* tensorName) const noexcept { return mImpl->getTensorShape(tensorName); }

  bool allInputDimensionsSpecified() const noexcept { return mImpl->allInputDimensionsSpecified(); }

#if NV_TENSORRT_MAJOR < 11
  TRT_DEPRECATED bool allInputShapesSpecified() const noexcept { return mImpl->allInputShapesSpecified(); }
#endif

  // May enqueue work on stream, which must then be synchronised with the enqueue stream. Call it
  // before setInputShape.
  bool setOptimizationProfileAsync(int32_t profileIndex, cudaStream_t stream) noexcept {
    return mImpl->setOptimizationProfileAsync(profileIndex, stream);
  }

  // Every I/O tensor needs a non-null, 256-byte aligned address before enqueueV3; nullptr resets one.
  bool setTensorAddress(char const* tensorName, void* data) noexcept {
    return mImpl->setTensorAddress(tensorName, data);
  }

  void const* getTensorAddress(char const* tensorName) const noexcept {
    return mImpl->getTensorAddress(tensorName);
  }

  bool setOutputTensorAddress(char const* tensorName, void* data) noexcept {
    return mImpl->setOutputTensorAddress(tensorName, data);
  }

  bool setInputTensorAddress(char const* tensorName, void const* data) noexcept {
    return mImpl->setInputTensorAddress(tensorName, data);
  }

  void* getOutputTensorAddress(char const* tensorName) const noexcept {
    return mImpl->getOutputTensorAddress(tensorName);
  }

  // 0 when every input shape is known, n > 0 for n inputs without a shape (their names written to
  // tensorNames, at most nbMaxNames), -1 on another error.
  int32_t inferShapes(int32_t nbMaxNames, char const** tensorNames) noexcept {
    return mImpl->inferShapes(nbMaxNames, tensorNames);
  }

  bool setInputConsumedEvent(cudaEvent_t event) noexcept { return mImpl->setInputConsumedEvent(event); }

  cudaEvent_t getInputConsumedEvent() const noexcept { return mImpl->getInputConsumedEvent(); }

  // True if the work was enqueued.
  bool enqueueV3(cudaStream_t stream) noexcept { return mImpl->enqueueV3(stream); }

  // In elements (a vector of getTensorComponentsPerElement scalars for a vectorized format), for the
  // shapes set so far.
  Dims getTensorStrides(char const* tensorName) const noexcept { return mImpl->getTensorStrides(tensorName); }

  // The activation memory of a context made with kUSER_MANAGED: size bytes of device memory, aligned as
  // cudaMalloc aligns, at least what getDeviceMemorySizeForProfileV2 reports for the profile the context
  // runs; in use from each enqueueV3 until its network has run. nullptr only where that size is 0.
  void setDeviceMemoryV2(void* memory, int64_t size) noexcept {
    return mImpl->setDeviceMemoryV2(memory, size);
  }

  // The allocator enqueueV3 asks for the output's memory (nullptr unsets); false for a name that is not
  // an output.
  bool setOutputAllocator(char const* tensorName, IOutputAllocator* outputAllocator) noexcept {
    return mImpl->setOutputAllocator(tensorName, outputAllocator);
  }

  // nullptr for a name that is not an output.
  IOutputAllocator* getOutputAllocator(char const* tensorName) const noexcept {
    return mImpl->getOutputAllocator(tensorName);
  }

  // Upper bound in bytes of the output under the current profile and input shapes; -1 while they are
  // not set, or for a name that is not an output.
  int64_t getMaxOutputSize(char const* tensorName) const noexcept {
    return mImpl->getMaxOutputSize(tensorName);
  }

 protected:
  apiv::VExecutionContext* mImpl;
};

#if NV_TENSORRT_MAJOR >= 11
inline IExecutionContext::~IExecutionContext() noexcept = default;
#endif

}  // namespace nvinfer1

namespace nvinfer1 {
namespace v_1_0 {

// The creator of IPluginV3 plugins.
class IPluginCreatorV3One : public IPluginCreatorInterface {
 public:
  InterfaceInfo getInterfaceInfo() const noexcept override {
    return InterfaceInfo{"PLUGIN CREATOR_V3ONE", 1, 0};
  }

  virtual IPluginV3* createPlugin(AsciiChar const* name, PluginFieldCollection const* fc,
                                  TensorRTPhase phase) noexcept = 0;
  virtual PluginFieldCollection const* getFieldNames() noexcept = 0;
  virtual AsciiChar const* getPluginName() const noexcept = 0;
  virtual AsciiChar const* getPluginVersion() const noexcept = 0;
  virtual AsciiChar const* getPluginNamespace() const noexcept = 0;

  IPluginCreatorV3One() = default;
  virtual ~IPluginCreatorV3One() = default;

 protected:
  IPluginCreatorV3One(IPluginCreatorV3One const&) = default;
  IPluginCreatorV3One(IPluginCreatorV3One&&) = default;
  IPluginCreatorV3One& operator=(IPluginCreatorV3One const&) & = default;
  IPluginCreatorV3One& operator=(IPluginCreatorV3One&&) & = default;
};

}  // namespace v_1_0

using IPluginCreatorV3One = v_1_0::IPluginCreatorV3One;

// Handed to a plugin library's setLoggerFinder when TensorRT loads it: the logger to write through.
#if NV_TENSORRT_MAJOR >= 11
namespace v_1_0 {
class ILoggerFinder : public IVersionedInterface {
 public:
  InterfaceInfo getInterfaceInfo() const noexcept override { return {"ILoggerFinder", 1, 0}; }
  virtual ILogger* findLogger() = 0;

 protected:
  ~ILoggerFinder() override = default;
};
}  // namespace v_1_0
using ILoggerFinder = v_1_0::ILoggerFinder;
#else
class ILoggerFinder {
 public:
  virtual ILogger* findLogger() = 0;

 protected:
  virtual ~ILoggerFinder() = default;
};
#endif

}  // namespace nvinfer1

// Private entry point behind createInferRuntime: logger is an nvinfer1::ILogger*, version the
// NV_TENSORRT_VERSION of the caller's headers.
extern "C" TENSORRTAPI void* createInferRuntime_INTERNAL(void* logger, int32_t version) noexcept;
extern "C" TENSORRTAPI nvinfer1::IPluginRegistry* getPluginRegistry() noexcept;

namespace nvinfer1 {
namespace {

// Passes the version these headers describe; no null check of its own, a null return is the failure.
inline IRuntime* createInferRuntime(ILogger& logger) noexcept {
  return static_cast<IRuntime*>(createInferRuntime_INTERNAL(&logger, NV_TENSORRT_VERSION));
}

}  // namespace

// A static object of a plugin library registers an instance of T when the library is loaded.
template <typename T>
class PluginRegistrar {
 public:
  PluginRegistrar() { getPluginRegistry()->registerCreator(instance, ""); }

 private:
  T instance{};
};

}  // namespace nvinfer1

#define REGISTER_TENSORRT_PLUGIN(name) \
  static nvinfer1::PluginRegistrar<name> pluginRegistrar##name {}

#endif  // TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_H_
