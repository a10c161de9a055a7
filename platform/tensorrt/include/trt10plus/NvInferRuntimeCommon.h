// Stand-in TensorRT 10.13 / 11.1: the common declarations of the runtime headers.
#ifndef TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_COMMON_H_
#define TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_COMMON_H_

#define NV_INFER_INTERNAL_INCLUDE 1
#include "NvInferRuntimeBase.h"
#undef NV_INFER_INTERNAL_INCLUDE

// Plugins: the creators a library registers and the registry TensorRT finds them in when it
// deserializes an engine. The real release spreads these over NvInferPluginBase.h, NvInferRuntimePlugin.h
// and this file; the stand-in keeps them here. Plugin objects are declared only: the stand-in runs none
// (README, "Plugins").
namespace nvinfer1 {

enum class PluginFieldType : int32_t {
  kFLOAT16 = 0,
  kFLOAT32 = 1,
  kFLOAT64 = 2,
  kINT8 = 3,
  kINT16 = 4,
  kINT32 = 5,
  kCHAR = 6,
  kDIMS = 7,
  kUNKNOWN = 8,
  kBF16 = 9,
  kINT64 = 10,
  kFP8 = 11,
  kINT4 = 12,
  kFP4 = 13,
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
  int32_t nbFields{};
  PluginField const* fields{};
};

enum class TensorRTPhase : int32_t { kBUILD = 0, kRUNTIME = 1 };

namespace v_1_0 {

// The base of every creator; its getInterfaceInfo().kind tells which kind it is.
class IPluginCreatorInterface : public IVersionedInterface {
 public:
  ~IPluginCreatorInterface() noexcept override = default;

 protected:
  IPluginCreatorInterface() = default;
  IPluginCreatorInterface(IPluginCreatorInterface const&) = default;
  IPluginCreatorInterface(IPluginCreatorInterface&&) = default;
  IPluginCreatorInterface& operator=(IPluginCreatorInterface const&) & = default;
  IPluginCreatorInterface& operator=(IPluginCreatorInterface&&) & = default;
};

class IPluginV3;

}  // namespace v_1_0

using IPluginCreatorInterface = v_1_0::IPluginCreatorInterface;
using IPluginV3 = v_1_0::IPluginV3;

class IPluginV2;

namespace v_1_0 {

// The creator of IPluginV2 plugins, deprecated since 10.0 (IPluginCreatorV3One supersedes it).
class TRT_DEPRECATED IPluginCreator : public IPluginCreatorInterface {
 public:
  virtual AsciiChar const* getPluginName() const noexcept = 0;
  virtual AsciiChar const* getPluginVersion() const noexcept = 0;
  virtual PluginFieldCollection const* getFieldNames() noexcept = 0;
  virtual IPluginV2* createPlugin(AsciiChar const* name, PluginFieldCollection const* fc) noexcept = 0;
  virtual IPluginV2* deserializePlugin(AsciiChar const* name, void const* serialData,
                                       size_t serialLength) noexcept = 0;
  virtual void setPluginNamespace(AsciiChar const* pluginNamespace) noexcept = 0;
  virtual AsciiChar const* getPluginNamespace() const noexcept = 0;

  IPluginCreator() = default;
  ~IPluginCreator() override = default;

 protected:
  IPluginCreator(IPluginCreator const&) = default;
  IPluginCreator(IPluginCreator&&) = default;
  IPluginCreator& operator=(IPluginCreator const&) & = default;
  IPluginCreator& operator=(IPluginCreator&&) & = default;

 public:
  InterfaceInfo getInterfaceInfo() const noexcept override {
    return InterfaceInfo{"PLUGIN CREATOR_V1", 1, 0};
  }
};

}  // namespace v_1_0

using IPluginCreator = v_1_0::IPluginCreator;

// One per process and library. The real one also has setErrorRecorder, getErrorRecorder,
// isParentSearchEnabled, setParentSearchEnabled, deregisterLibrary, deregisterCreator,
// acquirePluginResource, releasePluginResource and getAllCreatorsRecursive.
class IPluginRegistry {
 public:
  using PluginLibraryHandle = void*;

#if NV_TENSORRT_MAJOR < 11
  TRT_DEPRECATED virtual bool registerCreator(IPluginCreator& creator,
                                              AsciiChar const* const pluginNamespace) noexcept = 0;
  TRT_DEPRECATED virtual IPluginCreator* const* getPluginCreatorList(
      int32_t* const numCreators) const noexcept = 0;
  // Null also when the creator found is not an IPluginCreator.
  TRT_DEPRECATED virtual IPluginCreator* getPluginCreator(
      AsciiChar const* const pluginName, AsciiChar const* const pluginVersion,
      AsciiChar const* const pluginNamespace = "") noexcept = 0;
#endif

  IPluginRegistry() = default;
  IPluginRegistry(IPluginRegistry const&) = delete;
  IPluginRegistry(IPluginRegistry&&) = delete;
  IPluginRegistry& operator=(IPluginRegistry const&) & = delete;
  IPluginRegistry& operator=(IPluginRegistry&&) & = delete;

 protected:
#if NV_TENSORRT_MAJOR >= 11
  virtual ~IPluginRegistry() noexcept = 0;
#else
  virtual ~IPluginRegistry() noexcept = default;
#endif

 public:
  // Loads and registers a shared library of plugins: the handle, or null; it fails if any of its
  // plugins is registered already.
  virtual PluginLibraryHandle loadLibrary(AsciiChar const* pluginPath) noexcept = 0;
  // False if a creator of the same name, version and namespace is registered already.
  virtual bool registerCreator(IPluginCreatorInterface& creator,
                               AsciiChar const* const pluginNamespace) noexcept = 0;
  // Null when none is registered.
  virtual IPluginCreatorInterface* const* getAllCreators(int32_t* const numCreators) const noexcept = 0;
  virtual IPluginCreatorInterface* getCreator(AsciiChar const* const pluginName,
                                              AsciiChar const* const pluginVersion,
                                              AsciiChar const* const pluginNamespace = "") noexcept = 0;
};

#if NV_TENSORRT_MAJOR >= 11
inline IPluginRegistry::~IPluginRegistry() noexcept = default;
#endif

}  // namespace nvinfer1

#endif  // TRT_STANDIN_10PLUS_NV_INFER_RUNTIME_COMMON_H_
