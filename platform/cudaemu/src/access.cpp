#include "access.h"

#include <cstdio>

namespace cudaemu {
namespace {

std::string describe(const char* what, const void* p, std::size_t n, const Allocation* a) {
  char text[200];
  if (a == nullptr) {
    std::snprintf(text, sizeof text, "%s %p (%zu bytes) is not device memory", what, p, n);
  } else {
    std::snprintf(
        text, sizeof text, "%s %p (%zu bytes) runs past the end of the %zu-byte %s allocation at %p", what, p,
        n, a->size, a->kind == MemoryKind::Device ? "device" : "pinned", reinterpret_cast<void*>(a->base));
  }
  return text;
}

// Returns the place of one side of an access, or sets check->problem.
Place locate(const MemoryRegistry& memory, const char* what, const void* p, std::size_t n, bool device_side,
             AccessCheck* check) {
  const Allocation* a = memory.find(p);
  if (device_side && a == nullptr) {
    check->problem = describe(what, p, n, nullptr);
    return Place::Pageable;
  }
  if (!device_side && a != nullptr && a->kind == MemoryKind::Device) {
    char text[160];
    std::snprintf(text, sizeof text, "%s %p is device memory but the copy reads it as host memory", what, p);
    check->problem = text;
    return Place::Device;
  }
  if (a == nullptr) return Place::Pageable;
  if (!a->covers(p, n)) check->problem = describe(what, p, n, a);
  return a->kind == MemoryKind::Device ? Place::Device : Place::Pinned;
}

}  // namespace

AccessCheck check_copy(const MemoryRegistry& memory, const void* dst, const void* src, std::size_t count,
                       cudaMemcpyKind kind) {
  AccessCheck check;
  if (kind < cudaMemcpyHostToHost || kind > cudaMemcpyDefault) {
    check.error = cudaErrorInvalidMemcpyDirection;
    return check;
  }
  if (count == 0) return check;
  if (dst == nullptr || src == nullptr) {
    check.error = cudaErrorInvalidValue;
    check.problem = dst == nullptr ? "copy destination is a null pointer" : "copy source is a null pointer";
    return check;
  }
  auto is_device = [&](const void* p) {
    const Allocation* a = memory.find(p);
    return a != nullptr && a->kind == MemoryKind::Device;
  };
  bool dst_device = kind == cudaMemcpyHostToDevice || kind == cudaMemcpyDeviceToDevice ||
                    (kind == cudaMemcpyDefault && is_device(dst));
  bool src_device = kind == cudaMemcpyDeviceToHost || kind == cudaMemcpyDeviceToDevice ||
                    (kind == cudaMemcpyDefault && is_device(src));
  check.dst = locate(memory, "copy destination", dst, count, dst_device, &check);
  if (check.problem.empty()) check.src = locate(memory, "copy source", src, count, src_device, &check);
  if (!check.problem.empty()) check.error = cudaErrorInvalidValue;
  return check;
}

AccessCheck recheck_copy(const MemoryRegistry& memory, const Op& op) {
  AccessCheck check = check_copy(memory, op.dst, op.src, op.count, op.direction);
  if (check.error != cudaSuccess || op.count == 0) return check;
  const bool dst_gone = op.dst_allocated && check.dst == Place::Pageable;
  if (dst_gone || (op.src_allocated && check.src == Place::Pageable)) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "copy %s %p (%zu bytes) was device or pinned memory when the copy was issued and has been "
                  "freed since",
                  dst_gone ? "destination" : "source", dst_gone ? op.dst : op.src, op.count);
    check.problem = text;
    check.error = cudaErrorInvalidValue;
  }
  return check;
}

AccessCheck check_memset(const MemoryRegistry& memory, const void* dst, std::size_t count) {
  AccessCheck check;
  if (count == 0) return check;
  check.dst = locate(memory, "memset target", dst, count, true, &check);
  if (!check.problem.empty()) check.error = cudaErrorInvalidValue;
  return check;
}

}  // namespace cudaemu
