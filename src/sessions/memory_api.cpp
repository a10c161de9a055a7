// The exported memory functions: device and pinned memory, copies and what a pointer is, for hosts that
// reach CUDA only through this library. Each makes the device current for its length, as every entry
// point does, and answers a sticky fault as the sessions of that device do.
#include <cuda_runtime_api.h>

#include <string>

#include "device_guard.h"
#include "host_stream.h"
#include "inferlet_sessions.h"
#include "status.h"
#include "sticky_faults.h"

namespace {

using sessions::Status;

// Runs body with device current, once no sticky fault of it answers first.
template <typename Body>
Status onDevice(int device, Body&& body) {
  if (device < 0) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "device " + std::to_string(device) + " is not a CUDA device");
  }
  Status status = sessions::checkDevice(device);
  if (!status.ok()) return status;
  sessions::DeviceGuard guard;
  status = guard.enter(device);
  if (!status.ok()) return status;
  return body();
}

Status checkKind(inferlet_memory kind) {
  if (kind == INFERLET_MEMORY_DEVICE || kind == INFERLET_MEMORY_PINNED) return Status();
  return Status::failure(
      INFERLET_INVALID_ARGUMENT,
      "memory kind " + std::to_string(static_cast<int>(kind)) +
          " is not one the library allocates: INFERLET_MEMORY_DEVICE or INFERLET_MEMORY_PINNED");
}

Status allocate(int device, inferlet_memory kind, size_t bytes, void** data) {
  const size_t size = bytes > 0 ? bytes : 1;  // never a null address, even for nothing
  const bool on_device = kind == INFERLET_MEMORY_DEVICE;
  const cudaError_t code = on_device ? cudaMalloc(data, size) : cudaMallocHost(data, size);
  if (code == cudaSuccess) return Status();
  *data = nullptr;
  return sessions::cudaFailure(device, on_device ? "cudaMalloc" : "cudaMallocHost", code);
}

Status release(int device, inferlet_memory kind, void* data) {
  if (kind == INFERLET_MEMORY_DEVICE) {
    const cudaError_t code = cudaFree(data);
    return code == cudaSuccess ? Status() : sessions::cudaFailure(device, "cudaFree", code);
  }
  // cudaFreeHost does not wait for the copies still queued that name the memory.
  cudaError_t code = cudaDeviceSynchronize();
  if (code != cudaSuccess) return sessions::cudaFailure(device, "cudaDeviceSynchronize", code);
  code = cudaFreeHost(data);
  return code == cudaSuccess ? Status() : sessions::cudaFailure(device, "cudaFreeHost", code);
}

Status copy(int device, void* dst, const void* src, size_t bytes, cudaStream_t stream) {
  cudaError_t code = cudaMemcpyAsync(dst, src, bytes, cudaMemcpyDefault, stream);
  if (code != cudaSuccess) return sessions::cudaFailure(device, "cudaMemcpyAsync", code);
  code = cudaStreamSynchronize(stream);
  return code == cudaSuccess ? Status() : sessions::cudaFailure(device, "cudaStreamSynchronize", code);
}

Status describe(const void* data, inferlet_memory* kind, int* device) {
  cudaPointerAttributes attributes{};
  const cudaError_t code = cudaPointerGetAttributes(&attributes, data);
  if (code != cudaSuccess) return sessions::cudaFailure(-1, "cudaPointerGetAttributes", code);
  switch (attributes.type) {
    case cudaMemoryTypeDevice:
    case cudaMemoryTypeManaged:
      *kind = INFERLET_MEMORY_DEVICE;
      *device = attributes.device;
      break;
    case cudaMemoryTypeHost:
      *kind = INFERLET_MEMORY_PINNED;
      *device = attributes.device;
      break;
    default:
      *kind = INFERLET_MEMORY_HOST;
      *device = -1;
  }
  return Status();
}

Status nullArgument(const char* name) {
  return Status::failure(INFERLET_INVALID_ARGUMENT, std::string(name) + " is null");
}

}  // namespace

extern "C" {

INFERLET_SESSIONS_API inferlet_status* inferlet_memory_allocate(int device, inferlet_memory kind,
                                                                size_t bytes, void** data) {
  return sessions::answer([&] {
    if (!data) return nullArgument("data");
    Status status = checkKind(kind);
    if (!status.ok()) return status;
    return onDevice(device, [&] { return allocate(device, kind, bytes, data); });
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_memory_free(int device, inferlet_memory kind, void* data) {
  return sessions::answer([&] {
    Status status = checkKind(kind);
    if (!status.ok() || !data) return status;
    return onDevice(device, [&] { return release(device, kind, data); });
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_memory_copy(int device, void* dst, const void* src,
                                                            size_t bytes, void* stream) {
  return sessions::answer([&] {
    if (bytes > 0 && !dst) return nullArgument("dst");
    if (bytes > 0 && !src) return nullArgument("src");
    const auto on = static_cast<cudaStream_t>(stream);
    return onDevice(device, [&] {
      Status status = sessions::checkOrderingStream(on, device);
      if (!status.ok()) return status;
      return copy(device, dst, src, bytes, on);
    });
  });
}

INFERLET_SESSIONS_API inferlet_status* inferlet_memory_describe(const void* data, inferlet_memory* kind,
                                                                int* device) {
  return sessions::answer([&] {
    if (!kind) return nullArgument("kind");
    if (!device) return nullArgument("device");
    return describe(data, kind, device);
  });
}

}  // extern "C"
