// Stand-in TensorRT 7.2.3: logger, dimensions, data types and the macros shared by all headers.
#ifndef TRT_STANDIN_7_NV_INFER_RUNTIME_COMMON_H_
#define TRT_STANDIN_7_NV_INFER_RUNTIME_COMMON_H_

#include <cstddef>
#include <cstdint>

#include "NvInferVersion.h"

// In 7.x this is a plain constant, not a macro: "#if NV_TENSORRT_VERSION" silently reads 0.
static const int32_t NV_TENSORRT_VERSION =
    (NV_TENSORRT_MAJOR * 1000) + (NV_TENSORRT_MINOR * 100) + NV_TENSORRT_PATCH;

#define TRTNOEXCEPT

#if defined(TENSORRT_BUILD_LIB)
#define TENSORRTAPI __attribute__((visibility("default")))
#else
#define TENSORRTAPI
#endif

#if __cplusplus >= 201402L
#define TRT_DEPRECATED [[deprecated]]
#else
#define TRT_DEPRECATED __attribute__((deprecated))
#endif

#if __cplusplus >= 201402L && defined(__GNUC__) && __GNUC__ >= 6
#define TRT_DEPRECATED_ENUM TRT_DEPRECATED
#else
#define TRT_DEPRECATED_ENUM
#endif

#define TRT_DEPRECATED_API TRT_DEPRECATED __attribute__((visibility("default")))

#define _TENSORRT_FINAL final
#define _TENSORRT_OVERRIDE override

// The CUDA handle types, declared exactly as the CUDA headers declare them.
typedef struct CUstream_st* cudaStream_t;
typedef struct CUevent_st* cudaEvent_t;

namespace nvinfer1 {

template <typename T>
constexpr inline int32_t EnumMax();

enum class DataType : int32_t { kFLOAT = 0, kHALF = 1, kINT8 = 2, kINT32 = 3, kBOOL = 4 };

template <>
constexpr inline int32_t EnumMax<DataType>() {
  return 5;
}

enum class DimensionType : int32_t { kSPATIAL = 0, kCHANNEL = 1, kINDEX = 2, kSEQUENCE = 3 };

template <>
constexpr inline int32_t EnumMax<DimensionType>() {
  return 4;
}

class Dims {
 public:
  static const int32_t MAX_DIMS = 8;
  int32_t nbDims;
  int32_t d[MAX_DIMS];
  TRT_DEPRECATED DimensionType type[MAX_DIMS];
};

enum class OptProfileSelector : int32_t { kMIN = 0, kOPT = 1, kMAX = 2 };

template <>
constexpr inline int32_t EnumMax<OptProfileSelector>() {
  return 3;
}

// How a binding's elements lie in memory. Vectorized formats pad the vectorized dimension to a
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
  kDLA_HWC4 = 10
};

template <>
constexpr inline int32_t EnumMax<TensorFormat>() {
  return 11;
}

enum class TensorLocation : int32_t { kDEVICE = 0, kHOST = 1 };

template <>
constexpr inline int32_t EnumMax<TensorLocation>() {
  return 2;
}

class ILogger {
 public:
  enum class Severity : int32_t { kINTERNAL_ERROR = 0, kERROR = 1, kWARNING = 2, kINFO = 3, kVERBOSE = 4 };

  virtual void log(Severity severity, const char* msg) TRTNOEXCEPT = 0;

  virtual ~ILogger() {}
};

template <>
constexpr inline int32_t EnumMax<ILogger::Severity>() {
  return 5;
}

// Plugins: the creators a library registers and the registry TensorRT finds them in when it
// deserializes an engine. Plugin objects are declared only: the stand-in runs none (README, "Plugins").
class IPluginV2;

enum class PluginFieldType : int32_t {
  kFLOAT16 = 0,
  kFLOAT32 = 1,
  kFLOAT64 = 2,
  kINT8 = 3,
  kINT16 = 4,
  kINT32 = 5,
  kCHAR = 6,
  kDIMS = 7,
  kUNKNOWN = 8
};

class PluginField {
 public:
  const char* name{nullptr};
  const void* data{nullptr};
  PluginFieldType type{PluginFieldType::kUNKNOWN};
  int32_t length{0};

  PluginField(const char* name_ = nullptr, const void* data_ = nullptr,
              const PluginFieldType type_ = PluginFieldType::kUNKNOWN, int32_t length_ = 0)
      : name(name_), data(data_), type(type_), length(length_) {}
};

struct PluginFieldCollection {
  int32_t nbFields;
  const PluginField* fields;
};

class IPluginCreator {
 public:
  virtual int32_t getTensorRTVersion() const TRTNOEXCEPT { return NV_TENSORRT_VERSION; }
  virtual const char* getPluginName() const TRTNOEXCEPT = 0;
  virtual const char* getPluginVersion() const TRTNOEXCEPT = 0;
  virtual const PluginFieldCollection* getFieldNames() TRTNOEXCEPT = 0;
  virtual IPluginV2* createPlugin(const char* name, const PluginFieldCollection* fc) TRTNOEXCEPT = 0;
  virtual IPluginV2* deserializePlugin(const char* name, const void* serialData,
                                       size_t serialLength) TRTNOEXCEPT = 0;
  virtual void setPluginNamespace(const char* pluginNamespace) TRTNOEXCEPT = 0;
  virtual const char* getPluginNamespace() const TRTNOEXCEPT = 0;

  virtual ~IPluginCreator() {}
};

// One per process and library. The real one also has setErrorRecorder and getErrorRecorder.
class IPluginRegistry {
 public:
  // False if a creator of the same name, version and namespace is registered already.
  virtual bool registerCreator(IPluginCreator& creator, const char* pluginNamespace) noexcept = 0;
  // Null when none is registered.
  virtual IPluginCreator* const* getPluginCreatorList(int32_t* numCreators) const noexcept = 0;
  virtual IPluginCreator* getPluginCreator(const char* pluginType, const char* pluginVersion,
                                           const char* pluginNamespace = "") noexcept = 0;

 protected:
  virtual ~IPluginRegistry() noexcept {}
};

}  // namespace nvinfer1

extern "C" TENSORRTAPI nvinfer1::IPluginRegistry* getPluginRegistry();

namespace nvinfer1 {

// A static object of a plugin library registers an instance of T when the library is loaded.
template <typename T>
class PluginRegistrar {
 public:
  PluginRegistrar() { getPluginRegistry()->registerCreator(instance, ""); }

 private:
  T instance{};
};

#define REGISTER_TENSORRT_PLUGIN(name) \
  static nvinfer1::PluginRegistrar<name> pluginRegistrar##name {}

}  // namespace nvinfer1

#endif  // TRT_STANDIN_7_NV_INFER_RUNTIME_COMMON_H_
