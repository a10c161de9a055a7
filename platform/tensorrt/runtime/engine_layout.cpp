// How an engine's I/O tensors lie in memory: format, vectorization and location, per binding (up to
// 8.x) or per tensor and profile (from 10.x).
#include "engine.h"
#include "graph.h"

namespace trt_standin {
namespace {

// Placeholder until the network description carries formats: every tensor is linear, in device memory.
constexpr const char* kLinearDesc = "Row major linear format (kLINEAR)";

}  // namespace

#if NV_TENSORRT_MAJOR >= 10

int32_t Engine::getTensorBytesPerComponent(const char* tensorName) const noexcept {
  return getTensorBytesPerComponentV2(tensorName, 0);
}

int32_t Engine::getTensorBytesPerComponentV2(const char* tensorName,
                                             int32_t /*profileIndex*/) const noexcept {
  const int index = io_index(tensorName);
  if (index < 0) return -1;
  return static_cast<int32_t>(element_size(graph_->tensor_types[tensor_of_io(index)]));
}

int32_t Engine::getTensorComponentsPerElement(const char* tensorName) const noexcept {
  return getTensorComponentsPerElementV2(tensorName, 0);
}

int32_t Engine::getTensorComponentsPerElementV2(const char* tensorName,
                                                int32_t /*profileIndex*/) const noexcept {
  return io_index(tensorName) < 0 ? -1 : 1;
}

nvinfer1::TensorFormat Engine::getTensorFormat(const char* tensorName) const noexcept {
  return getTensorFormatV2(tensorName, 0);
}

nvinfer1::TensorFormat Engine::getTensorFormatV2(const char* /*tensorName*/,
                                                 int32_t /*profileIndex*/) const noexcept {
  return nvinfer1::TensorFormat::kLINEAR;
}

const char* Engine::getTensorFormatDesc(const char* tensorName) const noexcept {
  return getTensorFormatDescV2(tensorName, 0);
}

const char* Engine::getTensorFormatDescV2(const char* tensorName, int32_t /*profileIndex*/) const noexcept {
  return io_index(tensorName) < 0 ? nullptr : kLinearDesc;
}

int32_t Engine::getTensorVectorizedDim(const char* tensorName) const noexcept {
  return getTensorVectorizedDimV2(tensorName, 0);
}

int32_t Engine::getTensorVectorizedDimV2(const char* /*tensorName*/,
                                         int32_t /*profileIndex*/) const noexcept {
  return -1;
}

nvinfer1::TensorLocation Engine::getTensorLocation(const char* /*tensorName*/) const noexcept {
  return nvinfer1::TensorLocation::kDEVICE;
}

bool Engine::isShapeInferenceIO(const char* /*tensorName*/) const noexcept { return false; }

#else

nvinfer1::TensorLocation Engine::getLocation(int32_t /*bindingIndex*/) const noexcept {
  return nvinfer1::TensorLocation::kDEVICE;
}

int32_t Engine::getBindingBytesPerComponent(int32_t bindingIndex) const noexcept {
  const int tensor = tensor_of_binding(bindingIndex);
  return tensor < 0 ? -1 : static_cast<int32_t>(element_size(graph_->tensor_types[tensor]));
}

int32_t Engine::getBindingComponentsPerElement(int32_t bindingIndex) const noexcept {
  return in_range(bindingIndex) ? 1 : -1;
}

nvinfer1::TensorFormat Engine::getBindingFormat(int32_t /*bindingIndex*/) const noexcept {
  return nvinfer1::TensorFormat::kLINEAR;
}

const char* Engine::getBindingFormatDesc(int32_t bindingIndex) const noexcept {
  return in_range(bindingIndex) ? kLinearDesc : nullptr;
}

int32_t Engine::getBindingVectorizedDim(int32_t /*bindingIndex*/) const noexcept { return -1; }

bool Engine::isShapeBinding(int32_t /*bindingIndex*/) const noexcept { return false; }

bool Engine::isExecutionBinding(int32_t bindingIndex) const noexcept { return in_range(bindingIndex); }

#endif

}  // namespace trt_standin
