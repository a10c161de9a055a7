// Outputs whose memory the application hands over late (TensorRT 10.x and later): IOutputAllocator,
// getMaxOutputSize, and the outputs of data-dependent extent that enqueueV3 can only size once the
// network has run.
#include "context.h"

#if NV_TENSORRT_MAJOR >= 10

#include <algorithm>
#include <cstdint>
#include <string>

#include "engine.h"
#include "logging.h"
#include "test_control.h"

namespace trt_standin {
namespace {

// What the allocator is asked for, as for the addresses of setTensorAddress.
constexpr uint64_t kOutputAlignment = 256;

}  // namespace

bool ExecutionContext::setOutputAllocator(const char* tensorName,
                                          nvinfer1::IOutputAllocator* outputAllocator) noexcept {
  const std::string where = "setOutputAllocator: tensor " + quoted(tensorName);
  if (control::call_fails("setOutputAllocator")) {
    report(logger_, Severity::kERROR, where + ": injected failure");
    return false;
  }
  const int index = engine_.io_index(tensorName);
  if (index < graph_->input_count()) {
    report(logger_, Severity::kERROR, where + " is not an output tensor of the engine");
    return false;
  }
  allocators_[index] = outputAllocator;
  return true;
}

nvinfer1::IOutputAllocator* ExecutionContext::getOutputAllocator(const char* tensorName) const noexcept {
  const int index = engine_.io_index(tensorName);
  return index < graph_->input_count() ? nullptr : allocators_[index];
}

int64_t ExecutionContext::getMaxOutputSize(const char* tensorName) const noexcept {
  const int index = engine_.io_index(tensorName);
  if (index < graph_->input_count()) return -1;
  try {
    std::vector<Shape> shapes;
    std::string why;
    if (shape_values_missing() || !resolve_shapes(&shapes, &why)) return -1;
    // A data-dependent output's shape here is its upper bound.
    return static_cast<int64_t>(
        graph_->io_layout_bytes(index, profile_, shapes[engine_.tensor_of_io(index)]));
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

void* ExecutionContext::reallocate_output(int io, uint64_t bytes, cudaStream_t stream, std::string* why) {
  const char* name = engine_.getIOTensorName(io);
  // "Always positive, even for an empty tensor."
  const uint64_t size = std::max<uint64_t>(bytes, 1);
  void* memory = nullptr;
  try {
    memory = allocators_[io]->reallocateOutputAsync(name, addresses_[io], size, kOutputAlignment, stream);
  } catch (...) {
    *why = "the output allocator of tensor " + quoted(name) + " threw an exception";
    return nullptr;
  }
  if (memory == nullptr) {
    *why = "the output allocator of tensor " + quoted(name) + " returned null for " + std::to_string(size) +
           " bytes";
    return nullptr;
  }
  if (reinterpret_cast<uintptr_t>(memory) % kOutputAlignment != 0) {
    *why = "the output allocator of tensor " + quoted(name) + " returned " + address_text(memory) +
           ", which is not aligned to " + std::to_string(kOutputAlignment) + " bytes";
    return nullptr;
  }
  return memory;
}

bool ExecutionContext::allocate_known_outputs(const std::vector<Shape>& shapes, cudaStream_t stream,
                                              std::vector<void*>* outputs, std::vector<bool>* deferred,
                                              std::string* why) {
  const Graph& g = *graph_;
  deferred->assign(g.output_count(), false);
  for (int j = 0; j < g.output_count(); ++j) {
    const int io = g.input_count() + j;
    if (allocators_[io] == nullptr) continue;
    if (g.io_data_dependent(io)) {
      (*deferred)[j] = true;
      continue;
    }
    void* memory =
        reallocate_output(io, g.io_layout_bytes(io, profile_, shapes[g.io_tensor(io)]), stream, why);
    if (memory == nullptr) return false;
    (*outputs)[j] = memory;
  }
  return true;
}

void ExecutionContext::notify_known_outputs(const std::vector<Shape>& shapes,
                                            const std::vector<bool>& deferred) {
  const Graph& g = *graph_;
  for (int j = 0; j < g.output_count(); ++j) {
    const int io = g.input_count() + j;
    if (allocators_[io] == nullptr || deferred[j]) continue;
    allocators_[io]->notifyShape(engine_.getIOTensorName(io), to_dims(shapes[g.io_tensor(io)]));
  }
}

bool ExecutionContext::finish_data_dependent_outputs(const std::vector<bool>& deferred, cudaStream_t stream,
                                                     std::string* why) {
  if (std::none_of(deferred.begin(), deferred.end(), [](bool d) { return d; })) return true;
  // The sizes exist once the network has run: wait for it here, before enqueueV3 returns.
  control::count("data_dependent_waits");
  cudaError_t status = cudaStreamSynchronize(stream);
  if (status != cudaSuccess) {
    *why = cuda_failure("cudaStreamSynchronize", status);
    return false;
  }
  const Graph& g = *graph_;
  for (int j = 0; j < g.output_count(); ++j) {
    if (!deferred[j]) continue;
    const int io = g.input_count() + j;
    const int tensor = g.io_tensor(io);
    const char* name = engine_.getIOTensorName(io);
    const int64_t kept = work_->produced.empty() ? -1 : work_->produced[tensor];
    if (kept < 0) {
      *why = "the network did not run, so the shape of output " + quoted(name) + " is unknown";
      return false;
    }
    const std::size_t bytes = tensor_bytes(g.tensor_types[tensor], kept);
    void* memory = reallocate_output(io, bytes, stream, why);
    if (memory == nullptr) return false;
    if (bytes != 0) {
      status = cudaMemcpyAsync(memory, staging_at_[io], bytes, cudaMemcpyHostToDevice, stream);
      if (status != cudaSuccess) {
        *why = cuda_failure("cudaMemcpyAsync", status);
        return false;
      }
    }
    allocators_[io]->notifyShape(name, to_dims(Shape{static_cast<int32_t>(kept)}));
  }
  return true;
}

}  // namespace trt_standin

#endif  // NV_TENSORRT_MAJOR >= 10
