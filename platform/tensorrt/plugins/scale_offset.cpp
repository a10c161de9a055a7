// The stand-in's test plugin: the creator "ScaleOffset" version "1" (namespace ""), whose fields give a
// plugin layer of the stand-in its scale 3 and offset 0.5 (out = 3 * in + 0.5). Built per major in the
// ways a plugin library reaches TensorRT (plugins/CMakeLists.txt):
//   TEST_PLUGIN_REGISTERS_AT_LOAD  its static initialiser registers the creator with the global registry
//                                  (REGISTER_TENSORRT_PLUGIN), as dlopen runs it;
//   TEST_PLUGIN_ENTRY_POINTS       (10 and later) it exports what IPluginRegistry::loadLibrary looks for,
//                                  setLoggerFinder and getCreators, and registers nothing itself.
// Plugin objects are not modelled: createPlugin answers null (README, "Plugins").
#include <NvInferRuntime.h>

#include <cstdint>

namespace {

constexpr float kScale = 3.0f;
constexpr float kOffset = 0.5f;

const nvinfer1::PluginField kFields[] = {
    nvinfer1::PluginField("scale", &kScale, nvinfer1::PluginFieldType::kFLOAT32, 1),
    nvinfer1::PluginField("offset", &kOffset, nvinfer1::PluginFieldType::kFLOAT32, 1)};
const nvinfer1::PluginFieldCollection kFieldCollection{2, kFields};

#if NV_TENSORRT_MAJOR >= 10

class ScaleOffsetCreator final : public nvinfer1::IPluginCreatorV3One {
 public:
  nvinfer1::IPluginV3* createPlugin(const char*, const nvinfer1::PluginFieldCollection*,
                                    nvinfer1::TensorRTPhase) noexcept override {
    return nullptr;
  }
  const nvinfer1::PluginFieldCollection* getFieldNames() noexcept override { return &kFieldCollection; }
  const char* getPluginName() const noexcept override { return "ScaleOffset"; }
  const char* getPluginVersion() const noexcept override { return "1"; }
  const char* getPluginNamespace() const noexcept override { return ""; }
};

#else

#if NV_TENSORRT_MAJOR >= 8
#define TEST_PLUGIN_NOEXCEPT noexcept
#else
#define TEST_PLUGIN_NOEXCEPT
#endif

class ScaleOffsetCreator final : public nvinfer1::IPluginCreator {
 public:
  const char* getPluginName() const TEST_PLUGIN_NOEXCEPT override { return "ScaleOffset"; }
  const char* getPluginVersion() const TEST_PLUGIN_NOEXCEPT override { return "1"; }
  const nvinfer1::PluginFieldCollection* getFieldNames() TEST_PLUGIN_NOEXCEPT override {
    return &kFieldCollection;
  }
  nvinfer1::IPluginV2* createPlugin(const char*,
                                    const nvinfer1::PluginFieldCollection*) TEST_PLUGIN_NOEXCEPT override {
    return nullptr;
  }
  nvinfer1::IPluginV2* deserializePlugin(const char*, const void*, size_t) TEST_PLUGIN_NOEXCEPT override {
    return nullptr;
  }
  void setPluginNamespace(const char* pluginNamespace) TEST_PLUGIN_NOEXCEPT override {
    namespace_ = pluginNamespace != nullptr ? pluginNamespace : "";
  }
  const char* getPluginNamespace() const TEST_PLUGIN_NOEXCEPT override { return namespace_; }

 private:
  const char* namespace_ = "";
};

#endif

}  // namespace

#if defined(TEST_PLUGIN_REGISTERS_AT_LOAD)
REGISTER_TENSORRT_PLUGIN(ScaleOffsetCreator);
#endif

#if defined(TEST_PLUGIN_ENTRY_POINTS)
namespace {
nvinfer1::ILoggerFinder* gLoggerFinder = nullptr;  // where a plugin would find TensorRT's logger
}  // namespace

extern "C" __attribute__((visibility("default"))) void setLoggerFinder(nvinfer1::ILoggerFinder* finder) {
  gLoggerFinder = finder;
}

extern "C" __attribute__((visibility("default"))) nvinfer1::IPluginCreatorInterface* const* getCreators(
    int32_t& nbCreators) {
  static ScaleOffsetCreator creator;
  static nvinfer1::IPluginCreatorInterface* const creators[] = {&creator};
  nbCreators = 1;
  return creators;
}
#endif
