#include "device_memory.h"

#include "context.h"

#if TRT_STANDIN_EMULATED_DEVICE
#include <cudaemu.h>
#endif

namespace trt_standin {
namespace {

#if TRT_STANDIN_EMULATED_DEVICE
constexpr const char* kAllocateCall = "cudaemu_component_malloc";
cudaError_t device_allocate(void** p, std::size_t bytes) { return cudaemu_component_malloc(p, bytes); }
cudaError_t device_free(void* p) { return cudaemu_component_free(p); }
#else
constexpr const char* kAllocateCall = "cudaMalloc";
cudaError_t device_allocate(void** p, std::size_t bytes) { return cudaMalloc(p, bytes); }
cudaError_t device_free(void* p) { return cudaFree(p); }
#endif

}  // namespace

DeviceMemory::~DeviceMemory() { release(); }

bool DeviceMemory::allocate(std::size_t bytes, std::string* why) {
  if (bytes == 0) return true;
  void* p = nullptr;
  const cudaError_t status = device_allocate(&p, bytes);
  if (status != cudaSuccess) {
    *why = cuda_failure(kAllocateCall, status);
    return false;
  }
  if (data_ != nullptr) device_free(data_);
  data_ = p;
  size_ = bytes;
  return true;
}

void DeviceMemory::release() {
  if (data_ != nullptr) device_free(data_);
  data_ = nullptr;
  size_ = 0;
}

void DeviceMemory::forget_device_memory() {
  data_ = nullptr;
  size_ = 0;
}

}  // namespace trt_standin
