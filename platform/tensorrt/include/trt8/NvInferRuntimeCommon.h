// Stand-in TensorRT 8.0.1: logger, dimensions, data types and the macros shared by all headers.
#ifndef TRT_STANDIN_8_NV_INFER_RUNTIME_COMMON_H_
#define TRT_STANDIN_8_NV_INFER_RUNTIME_COMMON_H_

#include <cstddef>
#include <cstdint>

#include "NvInferVersion.h"

// A macro naming a namespaced constant: using it in "#if" is a hard error, as with the real 8.x.
#define NV_TENSORRT_VERSION nvinfer1::kNV_TENSORRT_VERSION_IMPL

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

// The CUDA handle types, declared exactly as the CUDA headers declare them.
extern "C" {
using cudaStream_t = struct CUstream_st*;
using cudaEvent_t = struct CUevent_st*;
}

namespace nvinfer1 {

static constexpr int32_t kNV_TENSORRT_VERSION_IMPL =
    (NV_TENSORRT_MAJOR * 1000) + (NV_TENSORRT_MINOR * 100) + NV_TENSORRT_PATCH;

using char_t = char;
using AsciiChar = char_t;

namespace impl {
template <typename T>
struct EnumMaxImpl;
}  // namespace impl

template <typename T>
constexpr int32_t EnumMax() noexcept {
  return impl::EnumMaxImpl<T>::kVALUE;
}

enum class DataType : int32_t { kFLOAT = 0, kHALF = 1, kINT8 = 2, kINT32 = 3, kBOOL = 4 };

namespace impl {
template <>
struct EnumMaxImpl<DataType> {
  static constexpr int32_t kVALUE = 5;
};
}  // namespace impl

class Dims32 {
 public:
  static constexpr int32_t MAX_DIMS{8};
  int32_t nbDims;
  int32_t d[MAX_DIMS];
};

using Dims = Dims32;

enum class OptProfileSelector : int32_t { kMIN = 0, kOPT = 1, kMAX = 2 };

namespace impl {
template <>
struct EnumMaxImpl<OptProfileSelector> {
  static constexpr int32_t kVALUE = 3;
};
}  // namespace impl

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
  kDLA_HWC4 = 10,
  kHWC16 = 11
};

namespace impl {
template <>
struct EnumMaxImpl<TensorFormat> {
  static constexpr int32_t kVALUE = 12;
};
}  // namespace impl

enum class TensorLocation : int32_t { kDEVICE = 0, kHOST = 1 };

namespace impl {
template <>
struct EnumMaxImpl<TensorLocation> {
  static constexpr int32_t kVALUE = 2;
};
}  // namespace impl

class ILogger {
 public:
  enum class Severity : int32_t { kINTERNAL_ERROR = 0, kERROR = 1, kWARNING = 2, kINFO = 3, kVERBOSE = 4 };

  virtual void log(Severity severity, AsciiChar const* msg) noexcept = 0;

  ILogger() = default;
  virtual ~ILogger() = default;

 protected:
  ILogger(ILogger const&) = default;
  ILogger(ILogger&&) = default;
  ILogger& operator=(ILogger const&) & = default;
  ILogger& operator=(ILogger&&) & = default;
};

namespace impl {
template <>
struct EnumMaxImpl<ILogger::Severity> {
  static constexpr int32_t kVALUE = 5;
};
}  // namespace impl

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
  AsciiChar const* name;
  void const* data;
  PluginFieldType type;
  int32_t length;

  PluginField(AsciiChar const* const name_ = nullptr, void const* const data_ = nullptr,
              PluginFieldType const type_ = PluginFieldType::kUNKNOWN, int32_t const length_ = 0) noexcept
      : name(name_), data(data_), type(type_), length(length_) {}
};

struct PluginFieldCollection {
  int32_t nbFields;
  PluginField const* fields;
};

class IPluginCreator {
 public:
  virtual int32_t getTensorRTVersion() const noexcept { return NV_TENSORRT_VERSION; }
  virtual AsciiChar const* getPluginName() const noexcept = 0;
  virtual AsciiChar const* getPluginVersion() const noexcept = 0;
  virtual PluginFieldCollection const* getFieldNames() noexcept = 0;
  virtual IPluginV2* createPlugin(AsciiChar const* name, PluginFieldCollection const* fc) noexcept = 0;
  virtual IPluginV2* deserializePlugin(AsciiChar const* name, void const* serialData,
                                       size_t serialLength) noexcept = 0;
  virtual void setPluginNamespace(AsciiChar const* pluginNamespace) noexcept = 0;
  virtual AsciiChar const* getPluginNamespace() const noexcept = 0;

  IPluginCreator() = default;
  virtual ~IPluginCreator() = default;

 protected:
  IPluginCreator(IPluginCreator const&) = default;
  IPluginCreator(IPluginCreator&&) = default;
  IPluginCreator& operator=(IPluginCreator const&) & = default;
  IPluginCreator& operator=(IPluginCreator&&) & = default;
};

// One per process and library. The real one also has setErrorRecorder, getErrorRecorder and
// deregisterCreator.
class IPluginRegistry {
 public:
  // False if a creator of the same name, version and namespace is registered already.
  virtual bool registerCreator(IPluginCreator& creator, AsciiChar const* const pluginNamespace) noexcept = 0;
  // Null when none is registered.
  virtual IPluginCreator* const* getPluginCreatorList(int32_t* const numCreators) const noexcept = 0;
  virtual IPluginCreator* getPluginCreator(AsciiChar const* const pluginName,
                                           AsciiChar const* const pluginVersion,
                                           AsciiChar const* const pluginNamespace = "") noexcept = 0;

  IPluginRegistry() = default;
  IPluginRegistry(IPluginRegistry const&) = delete;
  IPluginRegistry(IPluginRegistry&&) = delete;
  IPluginRegistry& operator=(IPluginRegistry const&) & = delete;
  IPluginRegistry& operator=(IPluginRegistry&&) & = delete;

 protected:
  virtual ~IPluginRegistry() noexcept = default;
};

// Base of the runtime objects: they are handed out by pointer and never copied.
class INoCopy {
 protected:
  INoCopy() = default;
  virtual ~INoCopy() = default;
  INoCopy(INoCopy const&) = delete;
  INoCopy(INoCopy&&) = delete;
  INoCopy& operator=(INoCopy const&) & = delete;
  INoCopy& operator=(INoCopy&&) & = delete;
};

}  // namespace nvinfer1

#endif  // TRT_STANDIN_8_NV_INFER_RUNTIME_COMMON_H_
