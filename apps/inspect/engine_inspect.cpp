// Engine inspection through TensorRT's own API, compiled once per TensorRT major; what differs
// between the generations is behind the TensorRT seam (trt_binding.h).
#include "engine_inspect.h"

#include <NvInfer.h>
#include <NvInferPlugin.h>
#include <cuda_runtime_api.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "trt_binding.h"

namespace {

using trt_binding::Binding;
using trt_binding::Extents;

// Keeps TensorRT's errors for the caller instead of printing them.
class CollectingLogger : public nvinfer1::ILogger {
 public:
  void log(Severity severity, const char* msg) noexcept override {
    if (severity > Severity::kERROR) return;
    if (!errors_.empty()) errors_ += "; ";
    errors_ += msg ? msg : "";
  }
  std::string TakeErrors() {
    std::string text;
    text.swap(errors_);
    return text;
  }

 private:
  std::string errors_;
};

// TensorRT keeps the logger beyond the runtime's lifetime, so it lives as long as the library.
CollectingLogger& Logger() {
  static CollectingLogger logger;
  return logger;
}

std::vector<int> ToVector(const Extents& dims) {
  std::vector<int> out;
  for (int i = 0; i < dims.nbDims && i < 8; ++i) out.push_back(static_cast<int>(dims.d[i]));
  return out;
}

// Profile switches go on the default stream (see ProfilePoint), whose work must be done before the
// context goes.
struct ContextRelease {
  void operator()(nvinfer1::IExecutionContext* context) const {
    cudaStreamSynchronize(cudaStream_t{});
    TrtDestroyer()(context);
  }
};
using TrtContext = std::unique_ptr<nvinfer1::IExecutionContext, ContextRelease>;

bool AllKnown(const std::vector<int>& dims) {
  for (int d : dims)
    if (d < 0) return false;
  return !dims.empty();
}

// Dimensions of every binding of one profile at one of its points (kMIN, kOPT, kMAX): inputs from the
// profile's shapes; outputs from what the context infers once every input is set to that point. An
// output extent that cannot be inferred that way stays -1, except a leading -1, which follows the
// inputs' batch. Only shapes are set and read on the context, nothing is enqueued: the default stream
// takes whatever a profile switch queues, and the context's release waits for it.
std::vector<std::vector<int>> ProfilePoint(const nvinfer1::ICudaEngine& engine,
                                           nvinfer1::IExecutionContext* context, int profile,
                                           nvinfer1::OptProfileSelector point) {
  const int count = trt_binding::bindingsPerProfile(engine);
  std::vector<trt_binding::TensorShape> block(static_cast<size_t>(count));
  int batch = -1;
  for (int k = 0; k < count; ++k) {
    trt_binding::TensorShape& tensor = block[static_cast<size_t>(k)];
    tensor.binding = trt_binding::binding(engine, trt_binding::bindingIndex(engine, profile, k));
    tensor.is_input = trt_binding::bindingIsInput(engine, tensor.binding);
    if (!tensor.is_input) continue;
    tensor.dims = trt_binding::profileDimensions(engine, tensor.binding, profile, point);
    if (tensor.dims.nbDims <= 0) tensor.dims = trt_binding::bindingDimensions(engine, tensor.binding);
    if (batch < 0 && tensor.dims.nbDims > 0) batch = static_cast<int>(tensor.dims.d[0]);
  }
  bool resolved = context != nullptr && trt_binding::selectProfile(*context, profile, cudaStream_t{});
  if (resolved) {
    const trt_binding::ShapeResolution outcome =
        trt_binding::resolveShapes(*context, block.data(), count, trt_binding::ReadBack::kOutputs);
    resolved = outcome.outcome == trt_binding::ShapeResolution::kResolved ||
               outcome.outcome == trt_binding::ShapeResolution::kUnresolved;
  }
  std::vector<std::vector<int>> dims_at;
  for (const trt_binding::TensorShape& tensor : block) {
    std::vector<int> dims;
    if (tensor.is_input || resolved) dims = ToVector(tensor.dims);
    if (!tensor.is_input && !AllKnown(dims))
      dims = ToVector(trt_binding::bindingDimensions(engine, tensor.binding));
    if (!tensor.is_input && !dims.empty() && dims[0] < 0) dims[0] = batch;
    dims_at.push_back(std::move(dims));
  }
  return dims_at;
}

nlohmann::json ProfileDims(const nvinfer1::ICudaEngine& engine, nvinfer1::IExecutionContext* context,
                           int profile) {
  using nvinfer1::OptProfileSelector;
  return nlohmann::json{{"min", ProfilePoint(engine, context, profile, OptProfileSelector::kMIN)},
                        {"opt", ProfilePoint(engine, context, profile, OptProfileSelector::kOPT)},
                        {"max", ProfilePoint(engine, context, profile, OptProfileSelector::kMAX)}};
}

// Device memory free on the current device, or -1 where the runtime cannot tell.
int64_t FreeDeviceMemory() {
  size_t free = 0;
  size_t total = 0;
  return cudaMemGetInfo(&free, &total) == cudaSuccess ? static_cast<int64_t>(free) : -1;
}

nlohmann::json Describe(nvinfer1::ICudaEngine& engine, int64_t engine_memory) {
  nlohmann::json desc;
  desc["trt_major"] = NV_TENSORRT_MAJOR;
  const char* name = engine.getName();
  desc["name"] = name ? name : "";
  desc["max_batch_size"] = trt_binding::maxBatchSize(engine);
  desc["refittable"] = engine.isRefittable();
  const int count = trt_binding::bindingCount(engine);
  nlohmann::json list = nlohmann::json::array();
  for (int b = 0; b < count; ++b) {
    const Binding binding = trt_binding::binding(engine, b);
    const nvinfer1::DataType type = trt_binding::bindingDataType(engine, binding);
    list.push_back({{"index", b},
                    {"name", trt_binding::bindingName(engine, binding)},
                    {"input", trt_binding::bindingIsInput(engine, binding)},
                    {"dtype", static_cast<int>(type)},
                    {"item_size", elementSize(type)},
                    {"dims", ToVector(trt_binding::bindingDimensions(engine, binding))}});
  }
  desc["bindings"] = std::move(list);

  const int profiles = engine.getNbOptimizationProfiles();
  TrtContext context(engine.createExecutionContext());
  Logger().TakeErrors();  // a context that cannot be made only costs the output inference
  nlohmann::json profile_list = nlohmann::json::array();
  for (int p = 0; p < profiles; ++p) profile_list.push_back(ProfileDims(engine, context.get(), p));
  desc["profiles"] = std::move(profile_list);
  desc["device_memory"] = {{"engine", engine_memory}, {"context", trt_binding::contextMemory(engine)}};
  return desc;
}

char* Duplicate(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

int Fail(const std::string& what, char** text) {
  std::string message = what;
  const std::string errors = Logger().TakeErrors();
  if (!errors.empty()) message += " (TensorRT: " + errors + ")";
  *text = Duplicate(message);
  return -1;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int inferlet_inspect_trt_major(void) { return NV_TENSORRT_MAJOR; }

__attribute__((visibility("default"))) int inferlet_inspect_engine(const void* data, size_t size,
                                                                   char** text) {
  static std::mutex serial;  // the collecting logger is shared
  std::lock_guard<std::mutex> lock(serial);
  *text = nullptr;
  Logger().TakeErrors();
  initLibNvInferPlugins(&Logger(), "");
  // The runtime outlives its engine: TensorRT 10 and 11 leave releasing it first undefined.
  TrtUniquePtr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(Logger()));
  if (!runtime) return Fail("cannot create a TensorRT runtime", text);
  // TensorRT reports no size for what an engine keeps on the device (its weights): the device's free
  // memory before and after deserialization tells it.
  const int64_t free_before = FreeDeviceMemory();
  TrtUniquePtr<nvinfer1::ICudaEngine> engine(runtime->deserializeCudaEngine(data, size));
  if (!engine) return Fail("not an engine this TensorRT can deserialize", text);
  const int64_t free_after = FreeDeviceMemory();
  const int64_t engine_memory =
      free_before < 0 || free_after < 0 ? -1 : std::max<int64_t>(0, free_before - free_after);
  *text = Duplicate(Describe(*engine, engine_memory).dump());
  return *text ? 0 : -1;
}

__attribute__((visibility("default"))) void inferlet_inspect_free(char* text) { std::free(text); }

}  // extern "C"
