#include "engine.h"

#include <cuda_runtime_api.h>

#include <string>

#include "data_types.h"
#include "device_guard.h"
#include "engine_config.h"
#include "log.h"
#include "plugins.h"
#include "shape.h"
#include "sticky_faults.h"
#include "tensorrt_reason.h"

namespace sessions {
namespace {

Status checkDeviceOrdinal(int device) {
  int count = 0;
  const cudaError_t code = cudaGetDeviceCount(&count);
  if (code != cudaSuccess) return cudaFailure(device, "cudaGetDeviceCount", code);
  if (device < 0 || device >= count) {
    return Status::failure(INFERLET_INVALID_ARGUMENT, "device " + std::to_string(device) +
                                                          " is not a CUDA device: the process sees " +
                                                          std::to_string(count) + " device(s)");
  }
  return Status();
}

std::string plural(size_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

std::shared_mutex& deviceMemoryCensus() {
  static std::shared_mutex census;
  return census;
}

Status Engine::load(const void* bytes, size_t size, const inferlet_engine_config& config,
                    std::shared_ptr<Engine>* engine) {
  const int device = config.device;
  if (!engine) return Status::failure(INFERLET_INVALID_ARGUMENT, "engine is null");
  if (!bytes || size == 0) {
    return Status::failure(INFERLET_INVALID_ARGUMENT, "no engine bytes (bytes " +
                                                          std::string(bytes ? "given" : "null") + ", size " +
                                                          std::to_string(size) + ")");
  }
  Status status = checkDevice(device);
  if (!status.ok()) return status;
  status = checkDeviceOrdinal(device);
  if (!status.ok()) return status;
  DeviceGuard guard;
  status = guard.enter(device);
  if (!status.ok()) return status;

  std::shared_ptr<Engine> loaded = std::make_shared<Engine>(Made(), device);
  loaded->mAllowHostCode = config.allow_host_code != 0;
  status = loaded->deserialize(bytes, size);
  if (!status.ok()) return withHostCodeHint(std::move(status), config);
  loaded->describe();
  if (logs(INFERLET_LOG_INFO)) {
    log(INFERLET_LOG_INFO, "engine '" + loaded->mName + "' loaded on device " + std::to_string(device) +
                               ": " + plural(loaded->mTensors.size(), "tensor") + ", " +
                               plural(static_cast<size_t>(loaded->mProfileCount), "profile") + ", " +
                               std::to_string(loaded->mEngineBytes) + " bytes of device memory, " +
                               std::to_string(loaded->mContextBytes) + " bytes per execution context");
  }
  *engine = std::move(loaded);
  return Status();
}

Status Engine::deserialize(const void* bytes, size_t size) {
  initPluginsOnce();
  tensorrtStepBegins();
  mRuntime.reset(nvinfer1::createInferRuntime(tensorrtLogger()));
  if (!mRuntime) return tensorrtFailure(INFERLET_TENSORRT_ERROR, "TensorRT made no runtime");
  if (mAllowHostCode) trt_binding::allowEngineHostCode(*mRuntime);

  std::unique_lock<std::shared_mutex> census(deviceMemoryCensus());
  size_t free_before = 0, free_after = 0, total = 0;
  cudaError_t code = cudaMemGetInfo(&free_before, &total);
  if (code != cudaSuccess) return cudaFailure(mDevice, "cudaMemGetInfo", code);
  tensorrtStepBegins();
  mEngine.reset(mRuntime->deserializeCudaEngine(bytes, size));
  if (!mEngine) {
    return tensorrtAllocatingFailure(INFERLET_ENGINE_REFUSED,
                                     "TensorRT " + std::to_string(NV_TENSORRT_MAJOR) +
                                         " could not deserialize the " + std::to_string(size) +
                                         " bytes as an engine");
  }
  code = cudaMemGetInfo(&free_after, &total);
  if (code != cudaSuccess) return cudaFailure(mDevice, "cudaMemGetInfo", code);
  census.unlock();
  mEngineBytes = free_before > free_after ? free_before - free_after : 0;
  trt_binding::settleRuntime(mRuntime);
  return Status();
}

void Engine::describe() {
  const nvinfer1::ICudaEngine& engine = *mEngine;
  const char* name = engine.getName();
  mName = name ? name : "";
  mProfileCount = engine.getNbOptimizationProfiles();
  const int count = trt_binding::bindingsPerProfile(engine);
  const int64_t context_bytes = trt_binding::contextMemory(engine);
  mContextBytes = context_bytes > 0 ? static_cast<size_t>(context_bytes) : 0;

  mBindingCount = trt_binding::bindingCount(engine);
  mBlocks.resize(static_cast<size_t>(mProfileCount));
  for (int p = 0; p < mProfileCount; ++p) {
    for (int t = 0; t < count; ++t) {
      mBlocks[static_cast<size_t>(p)].push_back(
          trt_binding::binding(engine, trt_binding::bindingIndex(engine, p, t)));
    }
  }
  mTensors.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TensorDescription& tensor = mTensors[static_cast<size_t>(i)];
    const trt_binding::Binding& first = binding(0, i);
    tensor.name = trt_binding::bindingName(engine, first);
    tensor.is_input = trt_binding::bindingIsInput(engine, first);
    tensor.dtype = trt_binding::bindingDataType(engine, first);
    tensor.item_size = elementSize(tensor.dtype);
    const inferlet_data_type_info* type = dataTypeInfo(static_cast<int32_t>(tensor.dtype));
    tensor.element_bits = type ? type->bits : 8 * tensor.item_size;
    tensor.dims = trt_binding::bindingDimensions(engine, first);
    if (const char* aliased = tensor.is_input ? nullptr : trt_binding::aliasedInput(engine, first)) {
      tensor.aliased_input = aliased;
    }
    for (int p = 0; p < mProfileCount; ++p) {
      const trt_binding::Binding& own = binding(p, i);
      tensor.layouts.push_back(trt_binding::bindingLayout(engine, own));
      if (!tensor.is_input) continue;
      tensor.ranges.push_back(
          {trt_binding::profileDimensions(engine, own, p, nvinfer1::OptProfileSelector::kMIN),
           trt_binding::profileDimensions(engine, own, p, nvinfer1::OptProfileSelector::kOPT),
           trt_binding::profileDimensions(engine, own, p, nvinfer1::OptProfileSelector::kMAX)});
    }
    if (tensor.is_input) {
      for (int k = 0; k < tensor.dims.nbDims && k < 8; ++k) mDynamicShapes |= tensor.dims.d[k] < 0;
      tensor.shape_tensor = tensor.layouts.front().on_host && trt_binding::servesValueDependentShapes();
      if (tensor.shape_tensor) describe_values(i);
    }
  }
  mProfiles = std::make_unique<ProfileRegistry>(mProfileCount, mDynamicShapes);
  mResolvedShapes = std::make_unique<ResolvedShapes>(mProfileCount);
}

// Each profile's smallest, optimal and largest values, as many as the tensor has elements at the profile's
// largest shape (a shape tensor has at most one dimension).
void Engine::describe_values(int index) {
  TensorDescription& tensor = mTensors[static_cast<size_t>(index)];
  for (int p = 0; p < mProfileCount; ++p) {
    ValueRange range;
    const int64_t count = trt_binding::extentsBytes(tensor.ranges[static_cast<size_t>(p)].max, 1, 1 << 16);
    if (count > 0 && count <= (1 << 16)) {
      const trt_binding::Binding& own = binding(p, index);
      const int n = static_cast<int>(count);
      const auto read = [&](nvinfer1::OptProfileSelector point, std::vector<int64_t>* values) {
        values->resize(static_cast<size_t>(count));
        return trt_binding::profileTensorValues(*mEngine, own, p, point, values->data(), n);
      };
      if (!read(nvinfer1::OptProfileSelector::kMIN, &range.min) ||
          !read(nvinfer1::OptProfileSelector::kOPT, &range.opt) ||
          !read(nvinfer1::OptProfileSelector::kMAX, &range.max)) {
        range = ValueRange();
      }
    }
    tensor.value_ranges.push_back(std::move(range));
  }
}

inferlet_tensor_info Engine::info(int index) const {
  const TensorDescription& tensor = this->tensor(index);
  inferlet_tensor_info info{};
  info.name = tensor.name.c_str();
  info.is_input = tensor.is_input ? 1 : 0;
  info.dtype = static_cast<int32_t>(tensor.dtype);
  info.format = static_cast<int32_t>(tensor.layouts.front().format);
  info.on_host = tensor.layouts.front().on_host ? 1 : 0;
  info.item_size = tensor.item_size;
  info.shape = toShape(tensor.dims);
  return info;
}

TrtUniquePtr<nvinfer1::IExecutionContext> Engine::create_context(bool caller_memory) {
  std::lock_guard<std::mutex> lock(mContextMutex);
  std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
  tensorrtStepBegins();
  return TrtUniquePtr<nvinfer1::IExecutionContext>(trt_binding::createContext(*mEngine, caller_memory));
}

void Engine::release_context(TrtUniquePtr<nvinfer1::IExecutionContext>& context) {
  std::lock_guard<std::mutex> lock(mContextMutex);
  std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
  context.reset();
}

Engine::~Engine() {
  DeviceGuard guard;
  (void)guard.enter(mDevice);  // released on its device where it can be; released all the same
  std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
  mEngine.reset();
  mRuntime.reset();
}

}  // namespace sessions
