// Compiled by CTest against the 10.x and 11.x headers with one PROBE_* macro at a time: what the real
// headers of that major reject (the binding-index calls, destroy(), ...) must be rejected by the
// stand-in headers as well. Without a macro it is a correct use of the named-tensor interface and
// must compile cleanly.
#if defined(PROBE_RUNTIME_BASE_ALONE)
#include <NvInferRuntimeBase.h>
#endif
#if defined(PROBE_FORWARD_DECLARED_LOGGER)
namespace nvinfer1 {
class ILogger;
}
#endif
#include <NvInfer.h>
#include <NvInferPlugin.h>

#include <cstdint>
#include <memory>

#if NV_TENSORRT_VERSION < 100000
#error "the version is a plain expression that works in #if"
#endif

class Logger : public nvinfer1::ILogger {
 public:
#if defined(PROBE_LOG_WITHOUT_NOEXCEPT)
  void log(Severity, const char*) override {}
#else
  void log(Severity, const char*) noexcept override {}
#endif
};

// An output allocator as 10.x and 11.x code writes one: the stream form, and notifyShape noexcept.
class Allocator : public nvinfer1::IOutputAllocator {
 public:
  void* reallocateOutputAsync(const char*, void* current, uint64_t, uint64_t, cudaStream_t) override {
    return current;
  }
#if defined(PROBE_NOTIFY_SHAPE_WITHOUT_NOEXCEPT)
  void notifyShape(const char*, const nvinfer1::Dims&) override {}
#else
  void notifyShape(const char*, const nvinfer1::Dims&) noexcept override {}
#endif
};

bool use(std::unique_ptr<nvinfer1::IRuntime> runtime, std::unique_ptr<nvinfer1::ICudaEngine> engine,
         nvinfer1::IExecutionContext* context, void* buffer, cudaStream_t stream) {
  const char* name = engine->getIOTensorName(0);
  nvinfer1::Dims shape = engine->getProfileShape(name, 0, nvinfer1::OptProfileSelector::kMAX);
  const int64_t batch = shape.d[0];
  bool ok = engine->getTensorIOMode(name) == nvinfer1::TensorIOMode::kINPUT && batch > 0;
  ok = ok && context->setOptimizationProfileAsync(0, stream) && context->setInputShape(name, shape) &&
       context->setTensorAddress(name, buffer) && context->inferShapes(0, nullptr) == 0 &&
       context->enqueueV3(stream);
  const nvinfer1::Dims fixed{2, {1, 3}};
  ok = ok && fixed.nbDims == 2;
  Allocator allocator;
  ok = ok && context->setOutputAllocator(name, &allocator) &&
       context->getOutputAllocator(name) == &allocator && context->getMaxOutputSize(name) >= 0 &&
       engine->getProfileTensorValuesV2(name, 0, nvinfer1::OptProfileSelector::kMIN) == nullptr;
#if defined(PROBE_GET_ALIASED_INPUT_TENSOR)
  // 11.x only.
  ok = engine->getAliasedInputTensor(name) == nullptr;
#endif
#if defined(PROBE_GET_PROFILE_TENSOR_VALUES)
  // The 32-bit form: deprecated in 10.x, gone in 11.x.
  ok = engine->getProfileTensorValues(name, 0, nvinfer1::OptProfileSelector::kMIN) == nullptr;
#endif

#if defined(PROBE_DESTROY)
  context->destroy();
#else
  delete context;
#endif
#if defined(PROBE_ENQUEUE_V2)
  context->enqueueV2(&buffer, stream, nullptr);
#endif
#if defined(PROBE_GET_NB_BINDINGS)
  ok = engine->getNbBindings() > 0;
#endif
#if defined(PROBE_GET_BINDING_INDEX)
  ok = engine->getBindingIndex(name) >= 0;
#endif
#if defined(PROBE_GET_BINDING_NAME)
  ok = engine->getBindingName(0) != nullptr;
#endif
#if defined(PROBE_BINDING_IS_INPUT)
  ok = engine->bindingIsInput(0);
#endif
#if defined(PROBE_GET_BINDING_DIMENSIONS)
  ok = engine->getBindingDimensions(0).nbDims > 0;
#endif
#if defined(PROBE_GET_MAX_BATCH_SIZE)
  ok = engine->getMaxBatchSize() > 0;
#endif
#if defined(PROBE_GET_PROFILE_DIMENSIONS)
  ok = engine->getProfileDimensions(0, 0, nvinfer1::OptProfileSelector::kMIN).nbDims > 0;
#endif
#if defined(PROBE_SET_BINDING_DIMENSIONS)
  ok = context->setBindingDimensions(0, shape);
#endif
#if defined(PROBE_SET_OPTIMIZATION_PROFILE)
  ok = context->setOptimizationProfile(0);
#endif
#if defined(PROBE_DIMS32)
  nvinfer1::Dims32 narrow{};
  (void)narrow;
#endif
#if defined(PROBE_INT32_EXTENTS)
  int32_t* extents = shape.d;
  (void)extents;
#endif
#if defined(PROBE_DESERIALIZE_WITH_PLUGIN_FACTORY)
  runtime->deserializeCudaEngine(buffer, 16, nullptr);
#endif
#if defined(PROBE_RUNTIME_DESTROY)
  runtime->destroy();
#endif
#if defined(PROBE_ALL_INPUT_SHAPES_SPECIFIED)
  ok = context->allInputShapesSpecified();
#endif
#if defined(PROBE_HAS_IMPLICIT_BATCH_DIMENSION)
  ok = !engine->hasImplicitBatchDimension();
#endif
  engine.reset();  // engines before their runtime
  runtime.reset();
  return ok;
}

// What a plugin library of 10 and 11 writes: a creator of IPluginV3 plugins, registered when the library
// is loaded, and the entry points IPluginRegistry::loadLibrary looks for.
class Creator : public nvinfer1::IPluginCreatorV3One {
 public:
  nvinfer1::IPluginV3* createPlugin(const char*, const nvinfer1::PluginFieldCollection*,
                                    nvinfer1::TensorRTPhase) noexcept override {
    return nullptr;
  }
  const nvinfer1::PluginFieldCollection* getFieldNames() noexcept override { return nullptr; }
  const char* getPluginName() const noexcept override { return "P"; }
  const char* getPluginVersion() const noexcept override { return "1"; }
  const char* getPluginNamespace() const noexcept override { return ""; }
};
REGISTER_TENSORRT_PLUGIN(Creator);

extern "C" void setLoggerFinder(nvinfer1::ILoggerFinder* finder) { (void)finder->findLogger(); }
extern "C" nvinfer1::IPluginCreatorInterface* const* getCreators(int32_t& nbCreators) {
  static Creator creator;
  static nvinfer1::IPluginCreatorInterface* const creators[] = {&creator};
  nbCreators = 1;
  return creators;
}

int main() {
  Logger logger;
  initLibNvInferPlugins(&logger, "");
  nvinfer1::IPluginRegistry* registry = getPluginRegistry();
  int32_t creators = 0;
  if (registry->getAllCreators(&creators) == nullptr && creators != 0) return 1;
  if (registry->loadLibrary("libplugins.so") == nullptr && registry->getCreator("P", "1") == nullptr)
    return 1;
#if defined(PROBE_GET_PLUGIN_CREATOR_LIST)
  // Deprecated in 10.x, gone in 11.x.
  (void)registry->getPluginCreatorList(&creators);
#endif
  std::unique_ptr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger));
  return runtime == nullptr;
}
