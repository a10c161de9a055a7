// Device memory the runtime takes for itself: an engine's weights and a context's activation memory.
//
// The real runtime carries its own CUDA runtime, so its allocations are not the application's
// cudaMalloc calls. On the emulated device they are a component's memory (cudaemu_component_malloc),
// which a test can tell apart and fail on its own; on a real CUDA runtime they are cudaMalloc.
#ifndef TRT_STANDIN_RUNTIME_DEVICE_MEMORY_H_
#define TRT_STANDIN_RUNTIME_DEVICE_MEMORY_H_

#include <cuda_runtime_api.h>

#include <cstddef>
#include <string>

#include "retired.h"

namespace trt_standin {

class DeviceMemory final : public Retirable {
 public:
  DeviceMemory() = default;
  ~DeviceMemory() override;
  DeviceMemory(const DeviceMemory&) = delete;
  DeviceMemory& operator=(const DeviceMemory&) = delete;

  // Takes `bytes` on the current device (nothing for 0). False, with *why set to "<call> failed: <CUDA
  // text>", when the device refuses.
  bool allocate(std::size_t bytes, std::string* why);
  std::size_t size() const { return size_; }
  // Frees what it holds now.
  void release();

  void forget_device_memory() override;

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_DEVICE_MEMORY_H_
