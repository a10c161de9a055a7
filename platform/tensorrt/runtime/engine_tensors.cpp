// The named-tensor interface of ICudaEngine (TensorRT 10.x and later).
#include "engine.h"

#if NV_TENSORRT_MAJOR >= 10

#include <cstring>

#include "context.h"
#include "dims.h"
#include "logging.h"
#include "test_control.h"

namespace trt_standin {

int32_t Engine::getNbIOTensors() const noexcept { return static_cast<int32_t>(binding_names_.size()); }

// Out of range is not documented; null is the answer a caller cannot mistake for a name.
const char* Engine::getIOTensorName(int32_t index) const noexcept {
  return index >= 0 && index < getNbIOTensors() ? binding_names_[index].c_str() : nullptr;
}

int Engine::io_index(const char* tensorName) const {
  if (tensorName == nullptr) return -1;
  for (std::size_t i = 0; i < binding_names_.size(); ++i) {
    if (binding_names_[i] == tensorName) return static_cast<int>(i);
  }
  return -1;
}

int Engine::tensor_of_io(int index) const { return graph_->io_tensor(index); }

nvinfer1::TensorIOMode Engine::getTensorIOMode(const char* tensorName) const noexcept {
  const int index = io_index(tensorName);
  if (index < 0) return nvinfer1::TensorIOMode::kNONE;
  return index < graph_->input_count() ? nvinfer1::TensorIOMode::kINPUT : nvinfer1::TensorIOMode::kOUTPUT;
}

nvinfer1::DataType Engine::getTensorDataType(const char* tensorName) const noexcept {
  const int index = io_index(tensorName);
  if (index < 0) return nvinfer1::DataType::kFLOAT;
  return static_cast<nvinfer1::DataType>(graph_->tensor_types[tensor_of_io(index)]);
}

nvinfer1::Dims Engine::getTensorShape(const char* tensorName) const noexcept {
  const int index = io_index(tensorName);
  if (index < 0) return invalid_dims();
  const Network& net = graph_->network;
  const int inputs = graph_->input_count();
  return to_dims(index < inputs ? net.inputs[index].dims : net.outputs[index - inputs].dims);
}

nvinfer1::Dims Engine::getProfileShape(const char* tensorName, int32_t profileIndex,
                                       nvinfer1::OptProfileSelector select) const noexcept {
  const int index = io_index(tensorName);
  if (index < 0 || index >= graph_->input_count() || profileIndex < 0 ||
      profileIndex >= getNbOptimizationProfiles()) {
    return invalid_dims();
  }
  return profile_extent(graph_->network.profiles[profileIndex].inputs[index], select);
}

nvinfer1::IExecutionContext* Engine::createExecutionContext(
    nvinfer1::ExecutionContextAllocationStrategy strategy) noexcept {
  if (control::call_fails("createExecutionContext")) return nullptr;
  if (!runtime_alive("createExecutionContext")) return nullptr;
  using Strategy = nvinfer1::ExecutionContextAllocationStrategy;
  using Activation = ExecutionContext::Activation;
  Activation activation = Activation::kStatic;
  switch (strategy) {
    case Strategy::kSTATIC:
      break;
    case Strategy::kON_PROFILE_CHANGE:
      activation = Activation::kOnProfileChange;
      break;
    case Strategy::kUSER_MANAGED:
      activation = Activation::kUserManaged;
      break;
    default:
      report(logger_, Severity::kERROR,
             "createExecutionContext: unknown allocation strategy " +
                 std::to_string(static_cast<int>(strategy)));
      return nullptr;
  }
  // Every context starts on profile 0.
  std::lock_guard<std::mutex> lock(creation_mutex_);
  std::unique_ptr<ExecutionContext> context = ExecutionContext::create(*this, graph_, logger_, 0, activation);
  if (!context) return nullptr;
  context_created_ = true;
  return context.release();
}

#if NV_TENSORRT_MAJOR >= 11
const char* Engine::getAliasedInputTensor(const char* tensorName) const noexcept {
  const int index = io_index(tensorName);
  if (index < graph_->input_count()) return nullptr;
  const int input = graph_->aliased_input[index - graph_->input_count()];
  return input < 0 ? nullptr : binding_names_[input].c_str();
}
#endif

#if NV_TENSORRT_MAJOR < 11
bool Engine::hasImplicitBatchDimension() const noexcept { return false; }

// 10.x's 32-bit form answers for int32 shape tensors, whose profile values the builder sets with
// setShapeValues (int64 ones need setShapeValuesV2, of which this form answers nullptr).
const int32_t* Engine::getProfileTensorValues(const char* tensorName, int32_t profileIndex,
                                              nvinfer1::OptProfileSelector select) const noexcept {
  const int index = io_index(tensorName);
  const int selector = static_cast<int>(select);
  if (!has_profile_values(index, profileIndex) || graph_->network.inputs[index].type != ElementType::kInt32 ||
      selector < 0 || selector > 2) {
    return nullptr;
  }
  return values32_[profileIndex][index][selector].data();
}
#endif

// 10.x: int64 shape tensors only (int32 ones answer through the 32-bit form); 11.x, which has only
// setShapeValuesV2: every shape tensor.
const int64_t* Engine::getProfileTensorValuesV2(const char* tensorName, int32_t profileIndex,
                                                nvinfer1::OptProfileSelector select) const noexcept {
  const int index = io_index(tensorName);
  if (!has_profile_values(index, profileIndex)) return nullptr;
  if (NV_TENSORRT_MAJOR < 11 && graph_->network.inputs[index].type != ElementType::kInt64) return nullptr;
  const InputRange& range = graph_->network.profiles[profileIndex].inputs[index];
  switch (select) {
    case nvinfer1::OptProfileSelector::kMIN:
      return range.values_min.data();
    case nvinfer1::OptProfileSelector::kOPT:
      return range.values_opt.data();
    case nvinfer1::OptProfileSelector::kMAX:
      return range.values_max.data();
  }
  return nullptr;
}

bool Engine::runtime_alive(const char* call) const {
  if (!runtime_->released) return true;
  report(logger_, Severity::kERROR,
         std::string(call) +
             ": the IRuntime that deserialized this engine has been released; release engines before their "
             "runtime");
  return false;
}

}  // namespace trt_standin

#endif  // NV_TENSORRT_MAJOR >= 10
