// Compiled by CTest with one PROBE_* macro at a time: constructs that one major's real headers
// reject must be rejected by the stand-in headers of that major as well.
#include <NvInfer.h>
#include <NvInferPlugin.h>

#include <memory>

class Logger : public nvinfer1::ILogger {
 public:
#if defined(PROBE_LOG_WITHOUT_NOEXCEPT)
  void log(Severity, const char*) override {}
#else
  void log(Severity, const char*) noexcept override {}
#endif
};

void use(nvinfer1::IRuntime& runtime, nvinfer1::ICudaEngine* engine, nvinfer1::IExecutionContext& context,
         void** bindings) {
#if defined(PROBE_CONST_BINDINGS)
  void* const* fixed = bindings;
  context.enqueueV2(fixed, nullptr, nullptr);
#else
  context.enqueueV2(bindings, nullptr, nullptr);
#endif
#if defined(PROBE_DIMS32)
  nvinfer1::Dims32 d{};
  (void)d;
#endif
#if defined(PROBE_DELETE_ENGINE)
  delete engine;
#else
  (void)engine;
#endif
#if defined(PROBE_UNIQUE_PTR_RUNTIME)
  std::unique_ptr<nvinfer1::IRuntime> owned(&runtime);
#else
  (void)runtime;
#endif
#if defined(PROBE_VERSION_IN_IF)
#if NV_TENSORRT_VERSION >= 8000
#endif
#endif
#if defined(PROBE_NAMED_TENSORS)
  // The named-tensor calls came after 8.0.
  context.setInputShape("in0", nvinfer1::Dims{});
  context.enqueueV3(nullptr);
#endif
#if defined(PROBE_HOST_CODE_ALLOWED)
  // Engines with host code (version-compatible ones) came with 10.
  runtime.setEngineHostCodeAllowed(true);
#endif
#if defined(PROBE_HWC16)
  // The 16-channel channel-last format came with 8.0.
  (void)nvinfer1::TensorFormat::kHWC16;
#endif
#if defined(PROBE_ASCII_CHAR)
  const nvinfer1::AsciiChar* text = "";
  (void)text;
#endif
#if defined(PROBE_LOAD_LIBRARY)
  // IPluginRegistry::loadLibrary came with 8.6; 7.2 and 8.0 load a plugin library with dlopen.
  (void)getPluginRegistry()->loadLibrary("libplugins.so");
#endif
#if defined(PROBE_GET_ALL_CREATORS)
  int32_t all = 0;
  (void)getPluginRegistry()->getAllCreators(&all);
#endif
}

// What a plugin library of 7 and 8 writes: a creator, registered when the library is loaded.
class Creator : public nvinfer1::IPluginCreator {
 public:
  const char* getPluginName() const noexcept override { return "P"; }
  const char* getPluginVersion() const noexcept override { return "1"; }
  const nvinfer1::PluginFieldCollection* getFieldNames() noexcept override { return nullptr; }
  nvinfer1::IPluginV2* createPlugin(const char*, const nvinfer1::PluginFieldCollection*) noexcept override {
    return nullptr;
  }
  nvinfer1::IPluginV2* deserializePlugin(const char*, const void*, size_t) noexcept override {
    return nullptr;
  }
  void setPluginNamespace(const char*) noexcept override {}
  const char* getPluginNamespace() const noexcept override { return ""; }
};
REGISTER_TENSORRT_PLUGIN(Creator);

int main() {
  Logger logger;
  initLibNvInferPlugins(&logger, "");
  int32_t creators = 0;
  if (getPluginRegistry()->getPluginCreatorList(&creators) == nullptr && creators != 0) return 1;
  return nvinfer1::createInferRuntime(logger) == nullptr;
}
