// IRuntime and the factory entry points of libnvinfer.
#include <NvInferRuntime.h>

#include <memory>
#include <string>

#include "engine.h"
#include "engine_format.h"
#include "logging.h"
#include "plugin_registry.h"
#include "test_control.h"

namespace trt_standin {
namespace {

const std::string kVersionText = std::to_string(NV_TENSORRT_MAJOR) + "." + std::to_string(NV_TENSORRT_MINOR) +
                                 "." + std::to_string(NV_TENSORRT_PATCH);

// The version number the headers of this major hand to createInferRuntime_INTERNAL belongs to
// major version / kVersionMajorWeight.
constexpr int32_t kVersionMajorWeight = NV_TENSORRT_MAJOR >= 10 ? 10000 : 1000;

class Runtime final : public RuntimeInterface {
 public:
  explicit Runtime(nvinfer1::ILogger* logger) : logger_(logger), link_(std::make_shared<RuntimeLink>()) {
    control::count("live_runtimes", 1);
  }
  ~Runtime() override {
    control::count("live_runtimes", -1);
    link_->released = true;
#if NV_TENSORRT_MAJOR >= 10
    // Undefined behaviour on the real runtime: report it, and the engines refuse further work.
    if (const int engines = link_->live_engines; engines > 0) {
      control::count("runtimes_released_before_engines");
      report(logger_, Severity::kERROR,
             "IRuntime released while " + std::to_string(engines) +
                 " engine(s) it deserialized are still alive: release every engine before its runtime");
    }
#endif
  }

#if NV_TENSORRT_MAJOR >= 10
  nvinfer1::ICudaEngine* deserializeCudaEngine(const void* blob, std::size_t size) noexcept override {
    return deserialize(blob, size);
  }
  nvinfer1::ILogger* getLogger() const noexcept override { return logger_; }
  void setEngineHostCodeAllowed(bool allowed) noexcept override { host_code_allowed_ = allowed; }
  bool getEngineHostCodeAllowed() const noexcept override { return host_code_allowed_; }
#elif NV_TENSORRT_MAJOR >= 8
  nvinfer1::ICudaEngine* deserializeCudaEngine(const void* blob, std::size_t size) noexcept override {
    return deserialize(blob, size);
  }
#else
  nvinfer1::ICudaEngine* deserializeCudaEngine(
      const void* blob, std::size_t size, nvinfer1::IPluginFactory* /*pluginFactory*/) noexcept override {
    return deserialize(blob, size);
  }
  void destroy() noexcept override { delete this; }
#endif

 private:
  nvinfer1::ICudaEngine* deserialize(const void* blob, std::size_t size) noexcept {
    if (control::call_fails("deserializeCudaEngine")) return nullptr;
    try {
      auto graph = std::make_shared<Graph>();
      std::string why;
      if (!deserialize_engine(blob, size, NV_TENSORRT_MAJOR, graph.get(), &why)) {
        report(logger_, Severity::kERROR, "deserializeCudaEngine: " + why);
        return nullptr;
      }
      if (graph->network.version_compatible && !host_code_allowed_) {
        report(logger_, Severity::kERROR,
               "deserializeCudaEngine: engine '" + graph->network.name +
                   "' is version compatible and holds host code, which this runtime is not allowed to run: "
                   "call IRuntime::setEngineHostCodeAllowed(true) before deserializing it");
        return nullptr;
      }
      if (!resolve_plugin_layers(graph.get(), &why)) {
        report(logger_, Severity::kERROR, "deserializeCudaEngine: " + why);
        return nullptr;
      }
      const std::string loaded = "deserializeCudaEngine: engine '" + graph->network.name + "' with " +
                                 std::to_string(graph->network.profiles.size()) + " optimization profile(s)";
      auto engine = std::make_unique<Engine>(std::move(graph), logger_, link_);
      if (!engine->allocate_weights(&why)) {
        report(logger_, Severity::kERROR, "deserializeCudaEngine: " + why);
        return nullptr;
      }
      report(logger_, Severity::kVERBOSE, loaded);
      nvinfer1::ICudaEngine* handle = engine.release();
      return handle;
    } catch (const std::exception& e) {
      report(logger_, Severity::kERROR, std::string("deserializeCudaEngine: ") + e.what());
      return nullptr;
    }
  }

  nvinfer1::ILogger* logger_;
  std::shared_ptr<RuntimeLink> link_;
  bool host_code_allowed_ = false;  // only 10 and later can set it; 7 and 8 engines never hold host code
};

}  // namespace
}  // namespace trt_standin

using trt_standin::report;
using trt_standin::Severity;

#if NV_TENSORRT_MAJOR >= 8
#define TRT_STANDIN_NOEXCEPT_FROM_8 noexcept
#else
#define TRT_STANDIN_NOEXCEPT_FROM_8
#endif

extern "C" TENSORRTAPI void* createInferRuntime_INTERNAL(void* logger,
                                                         int32_t version) TRT_STANDIN_NOEXCEPT_FROM_8 {
  auto* log = static_cast<nvinfer1::ILogger*>(logger);
  if (trt_standin::control::call_fails("createInferRuntime")) {
    report(log, Severity::kERROR, "createInferRuntime: injected failure");
    return nullptr;
  }
  if (version / trt_standin::kVersionMajorWeight != NV_TENSORRT_MAJOR) {
    report(log, Severity::kERROR,
           "createInferRuntime: the application was built for TensorRT version " + std::to_string(version) +
               ", but this library is TensorRT " + trt_standin::kVersionText);
    return nullptr;
  }
  try {
    nvinfer1::IRuntime* runtime = std::make_unique<trt_standin::Runtime>(log).release();
    return runtime;
  } catch (const std::bad_alloc&) {
    report(log, Severity::kERROR, "createInferRuntime: out of memory");
    return nullptr;
  }
}

extern "C" TENSORRTAPI int32_t getInferLibVersion() TRT_STANDIN_NOEXCEPT_FROM_8 {
  return static_cast<int32_t>(NV_TENSORRT_VERSION);
}
