// Exported allocation, pointer query, copy and memset calls.
#include <cuda_runtime_api.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "access.h"
#include "api_call.h"
#include "capture.h"
#include "engine.h"

using cudaemu::AccessCheck;
using cudaemu::ApiCall;
using cudaemu::as_arg;
using cudaemu::Lock;
using cudaemu::MemoryKind;
using cudaemu::Op;
using cudaemu::Owner;
using cudaemu::Place;

namespace {

cudaError_t allocate(ApiCall& call, void** out, std::size_t size, MemoryKind kind,
                     Owner owner = Owner::Application) {
  if (out == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  if (cudaError_t refused = cudaemu::refuse_unsafe_call(emu)) return call.finish(refused);
  if (size == 0) {
    *out = nullptr;
    return call.finish(cudaSuccess);
  }
  int device = emu.current_device();
  std::size_t capacity = emu.settings.memory_capacity;
  if (kind == MemoryKind::Device && (size > capacity || emu.memory.device_bytes(device) > capacity - size))
    return call.finish(cudaErrorMemoryAllocation);
  void* p = emu.memory.allocate(size, kind, device, owner);
  if (p == nullptr) return call.finish(cudaErrorMemoryAllocation);
  *out = p;
  call.set_arg(0, as_arg(p));
  return call.finish(cudaSuccess);
}

const char* describe(MemoryKind kind, Owner owner) {
  if (kind == MemoryKind::Pinned) return "pinned host";
  return owner == Owner::Component ? "component device" : "device";
}

cudaError_t release(ApiCall& call, const char* api, void* p, MemoryKind kind,
                    Owner owner = Owner::Application) {
  if (p == nullptr) return call.finish(cudaSuccess);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  if (cudaError_t refused = cudaemu::refuse_unsafe_call(emu)) return call.finish(refused);
  const cudaemu::Allocation* a = emu.memory.find(p);
  auto refuse = [&] {
    char text[200];
    const bool start = a != nullptr && a->base == reinterpret_cast<std::uintptr_t>(p);
    std::snprintf(text, sizeof text, "%s: %p is not a live %s allocation%s%s", api, p, describe(kind, owner),
                  start ? ": it is " : "", start ? describe(a->kind, a->owner) : "");
    emu.note_violation(text);
    return call.finish(cudaErrorInvalidValue);
  };
  if (a == nullptr || a->kind != kind || a->owner != owner || a->base != reinterpret_cast<std::uintptr_t>(p))
    return refuse();
  if (emu.settings.strict && kind == MemoryKind::Device) {
    // cudaFree "may perform implicit synchronization", and unlike memory of the stream-ordered
    // allocator callers need not wait for the accesses themselves: the work that names the memory
    // completes first, and nothing else is waited for.
    std::uintptr_t base = a->base;
    std::size_t size = a->size;
    cudaemu::drain_users(emu, lock, base, size);
    a = nullptr;
    if (!emu.memory.release(p, kind, owner)) return refuse();  // another thread freed it meanwhile
    return call.finish(cudaSuccess);
  }
  if (emu.settings.strict) {
    // cudaFreeHost promises no synchronization: here there is none. Work still queued (or running)
    // that names the memory would use it after the free, which is reported now; the memory stays
    // mapped (out of the registry) so that work finds it gone when it runs instead of touching a new
    // allocation.
    if (const cudaemu::Stream* user = cudaemu::queued_user_of(emu, a->base, a->size)) {
      char text[200];
      std::snprintf(text, sizeof text,
                    "%s: %p (%zu bytes) freed while queued work on stream %p still names it", api, p, a->size,
                    static_cast<const void*>(user));
      emu.note_violation(text);
      std::unique_ptr<cudaemu::Mapping> kept;
      emu.memory.release(p, kind, owner, &kept);
      emu.quarantine.push_back(std::move(kept));
    } else {
      emu.memory.release(p, kind, owner);
    }
    return call.finish(cudaSuccess);
  }
  // Freeing synchronizes with the device, so queued work that still names the memory runs first.
  cudaemu::drain_device(emu, lock, -1);
  a = nullptr;
  if (!emu.memory.release(p, kind, owner)) return refuse();  // another thread freed it meanwhile
  return call.finish(cudaSuccess);
}

cudaError_t refuse_access(ApiCall& call, const char* api, const AccessCheck& check) {
  if (!check.problem.empty()) call.emu().note_violation(std::string(api) + ": " + check.problem);
  return call.finish(check.error);
}

cudaError_t memset_on(ApiCall& call, const char* api, void* dst, int value, std::size_t count,
                      cudaStream_t handle, bool host_call) {
  auto& emu = call.emu();
  Lock lock(emu.mu);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<cudaemu::Stream> stream = cudaemu::stream_for_use(emu, handle, true, &refused);
  if (!stream) return call.finish(refused);
  // A memset is device work (unlike a copy): refused in a stream of another device.
  if (emu.is_foreign(*stream)) return call.finish(cudaErrorInvalidResourceHandle);
  AccessCheck check = cudaemu::check_memset(emu.memory, dst, count);
  if (check.error != cudaSuccess) return refuse_access(call, api, check);
  if (count == 0) return call.finish(cudaSuccess);
  Op op;
  op.kind = Op::Kind::Memset;
  op.dst = dst;
  op.value = value;
  op.count = count;
  std::uint64_t seq = 0;
  cudaError_t result = cudaemu::submit(emu, *stream, {op}, &seq);
  if (result != cudaSuccess || seq == 0) return call.finish(result);
  // cudaMemset is asynchronous except into pinned host memory.
  // A fault the work hits answers through the sticky state.
  if (host_call && check.dst == Place::Pinned) cudaemu::drain(emu, lock, *stream, seq + 1);
  return call.finish(cudaSuccess);
}

cudaError_t copy_on(ApiCall& call, const char* api, void* dst, const void* src, std::size_t count,
                    cudaMemcpyKind kind, cudaStream_t handle, bool host_call) {
  auto& emu = call.emu();
  Lock lock(emu.mu);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<cudaemu::Stream> stream = cudaemu::stream_for_use(emu, handle, true, &refused);
  if (!stream) return call.finish(refused);
  if (host_call)
    if ((refused = cudaemu::refuse_unsafe_call(emu)) != cudaSuccess) return call.finish(refused);
  AccessCheck check = cudaemu::check_copy(emu.memory, dst, src, count, kind);
  if (check.error != cudaSuccess) return refuse_access(call, api, check);
  if (count == 0) return call.finish(cudaSuccess);

  bool host_to_host = check.dst != Place::Device && check.src != Place::Device;
  bool host_waits = false;
  bool stage_source = false;
  if (!call.emu().settings.strict) {
    // The host waits for copies into pageable memory and for host-to-host copies; a pageable source
    // is consumed before the call returns; pinned memory is left to the stream.
    host_waits = host_call || check.dst == Place::Pageable || host_to_host;
    stage_source = !host_waits && check.src == Place::Pageable;
  } else if (host_call) {
    // Strict cudaMemcpy: device-to-device copies do not synchronize with the host, and a pageable
    // source is only staged before the return, the device write left to the stream.
    bool device_to_device = check.dst == Place::Device && check.src == Place::Device;
    stage_source = check.src == Place::Pageable && check.dst == Place::Device;
    host_waits = !device_to_device && !stage_source;
  } else {
    // Strict cudaMemcpyAsync: only host-to-host copies complete before the return; a copy into
    // pageable memory completes at a synchronization, and a pageable source is read when the copy
    // runs (its bytes at the call are kept to report a source changed meanwhile).
    host_waits = host_to_host;
  }
  Op op;
  op.kind = Op::Kind::Copy;
  op.dst = dst;
  op.src = src;
  op.count = count;
  op.direction = kind;
  op.dst_allocated = check.dst != Place::Pageable;
  op.src_allocated = check.src != Place::Pageable;
  if (stage_source && !stream->capturing()) {
    const auto* bytes = static_cast<const unsigned char*>(src);
    op.staged = std::make_shared<const std::vector<unsigned char>>(bytes, bytes + count);
  } else if (emu.settings.strict && !host_waits && check.src == Place::Pageable && !stream->capturing()) {
    const auto* bytes = static_cast<const unsigned char*>(src);
    op.issued = std::make_shared<const std::vector<unsigned char>>(bytes, bytes + count);
  }
  std::uint64_t seq = 0;
  cudaError_t result = cudaemu::submit(emu, *stream, {op}, &seq);
  if (result != cudaSuccess || seq == 0) return call.finish(result);
  // A fault the work hits answers through the sticky state.
  if (host_waits) cudaemu::drain(emu, lock, *stream, seq + 1);
  return call.finish(cudaSuccess);
}

}  // namespace

extern "C" {

cudaError_t cudaMalloc(void** devPtr, size_t size) {
  ApiCall call("cudaMalloc", {0, size});
  if (call.answered_early()) return call.early_result();
  return allocate(call, devPtr, size, MemoryKind::Device);
}

cudaError_t cudaFree(void* devPtr) {
  ApiCall call("cudaFree", {as_arg(devPtr)});
  if (call.answered_early()) return call.early_result();
  return release(call, "cudaFree", devPtr, MemoryKind::Device);
}

cudaError_t cudaMemGetInfo(size_t* free, size_t* total) {
  ApiCall call("cudaMemGetInfo", {});
  if (call.answered_early()) return call.early_result();
  if (free == nullptr || total == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  std::size_t capacity = emu.settings.memory_capacity;
  std::size_t used = 0;
  {
    Lock lock(emu.mu);
    used = emu.memory.device_bytes(emu.current_device());
  }
  // The capacity may have been lowered below what is already allocated.
  *free = used < capacity ? capacity - used : 0;
  *total = capacity;
  call.set_arg(0, *free);
  call.set_arg(1, capacity);
  return call.finish(cudaSuccess);
}

cudaError_t cudaPointerGetAttributes(struct cudaPointerAttributes* attributes, const void* ptr) {
  ApiCall call("cudaPointerGetAttributes", {as_arg(ptr)});
  if (call.answered_early()) return call.early_result();
  if (attributes == nullptr) return call.finish(cudaErrorInvalidValue);
  cudaPointerAttributes found{};  // value-initialized: the reserved words stay zero
  void* pointer = const_cast<void*>(ptr);
  {
    auto& emu = call.emu();
    Lock lock(emu.mu);
    const cudaemu::Allocation* a = emu.memory.find(ptr);
    if (a == nullptr) {
      // Pageable (or unknown) memory: no device owns it and no device may dereference it. The host
      // alias is the pointer as given, whether or not it points anywhere.
      found.type = cudaMemoryTypeUnregistered;
      found.device = cudaInvalidDeviceId;
      found.hostPointer = pointer;
    } else if (a->kind == MemoryKind::Pinned) {
      // Pinned memory is mapped into every device's address space at the host address.
      found.type = cudaMemoryTypeHost;
      found.device = a->device;
      found.devicePointer = pointer;
      found.hostPointer = pointer;
    } else {
      // Another device's memory is reachable only through peer access, which is not modelled.
      found.type = cudaMemoryTypeDevice;
      found.device = a->device;
      found.devicePointer = a->device == emu.current_device() ? pointer : nullptr;
    }
  }
  *attributes = found;
  call.set_arg(1, static_cast<std::uintptr_t>(found.type));
  call.set_arg(2, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(found.device)));
  return call.finish(cudaSuccess);
}

cudaError_t cudaemu_component_malloc(void** ptr, size_t size) {
  ApiCall call("cudaemu_component_malloc", {0, size});
  if (call.answered_early()) return call.early_result();
  return allocate(call, ptr, size, MemoryKind::Device, Owner::Component);
}

cudaError_t cudaemu_component_free(void* ptr) {
  ApiCall call("cudaemu_component_free", {as_arg(ptr)});
  if (call.answered_early()) return call.early_result();
  return release(call, "cudaemu_component_free", ptr, MemoryKind::Device, Owner::Component);
}

cudaError_t cudaMallocHost(void** ptr, size_t size) {
  ApiCall call("cudaMallocHost", {0, size});
  if (call.answered_early()) return call.early_result();
  return allocate(call, ptr, size, MemoryKind::Pinned);
}

cudaError_t cudaHostAlloc(void** pHost, size_t size, unsigned int flags) {
  ApiCall call("cudaHostAlloc", {0, size, flags});
  if (call.answered_early()) return call.early_result();
  constexpr unsigned kKnownFlags = cudaHostAllocPortable | cudaHostAllocMapped | cudaHostAllocWriteCombined;
  if ((flags & ~kKnownFlags) != 0) return call.finish(cudaErrorInvalidValue);
  return allocate(call, pHost, size, MemoryKind::Pinned);
}

cudaError_t cudaFreeHost(void* ptr) {
  ApiCall call("cudaFreeHost", {as_arg(ptr)});
  if (call.answered_early()) return call.early_result();
  return release(call, "cudaFreeHost", ptr, MemoryKind::Pinned);
}

cudaError_t cudaMemset(void* devPtr, int value, size_t count) {
  ApiCall call("cudaMemset", {as_arg(devPtr), static_cast<std::uintptr_t>(value), count});
  if (call.answered_early()) return call.early_result();
  return memset_on(call, "cudaMemset", devPtr, value, count, cudaStreamLegacy, true);
}

cudaError_t cudaMemsetAsync(void* devPtr, int value, size_t count, cudaStream_t stream) {
  ApiCall call("cudaMemsetAsync",
               {as_arg(devPtr), static_cast<std::uintptr_t>(value), count, as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  return memset_on(call, "cudaMemsetAsync", devPtr, value, count, stream, false);
}

cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, enum cudaMemcpyKind kind) {
  ApiCall call("cudaMemcpy", {as_arg(dst), as_arg(src), count, static_cast<std::uintptr_t>(kind)});
  if (call.answered_early()) return call.early_result();
  return copy_on(call, "cudaMemcpy", dst, src, count, kind, cudaStreamLegacy, true);
}

cudaError_t cudaMemcpyAsync(void* dst, const void* src, size_t count, enum cudaMemcpyKind kind,
                            cudaStream_t stream) {
  ApiCall call("cudaMemcpyAsync",
               {as_arg(dst), as_arg(src), count, static_cast<std::uintptr_t>(kind), as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  return copy_on(call, "cudaMemcpyAsync", dst, src, count, kind, stream, false);
}

}  // extern "C"
