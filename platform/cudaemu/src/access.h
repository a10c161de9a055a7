// Checks that a copy or memset stays inside memory the emulated device knows.
#ifndef CUDAEMU_SRC_ACCESS_H_
#define CUDAEMU_SRC_ACCESS_H_

#include <cuda_runtime_api.h>

#include <cstddef>
#include <string>

#include "memory.h"
#include "work.h"

namespace cudaemu {

enum class Place { Device, Pinned, Pageable };

struct AccessCheck {
  cudaError_t error = cudaSuccess;
  std::string problem;  // set when the access leaves known memory (a violation)
  Place dst = Place::Pageable;
  Place src = Place::Pageable;
};

// Device-side pointers must lie in a device or pinned allocation (pinned memory is mapped into the
// device's address space); host-side pointers must not be device memory, and are bounds-checked
// when pinned. cudaMemcpyDefault takes each side's place from the registry.
AccessCheck check_copy(const MemoryRegistry& memory, const void* dst, const void* src, std::size_t count,
                       cudaMemcpyKind kind);

// A copy checked again when it runs (a graph node, queued work): check_copy's rules, and a side that lay
// in a device or pinned allocation when the copy was issued must still do. Otherwise it was freed
// since, and its address may no longer be mapped at all.
AccessCheck recheck_copy(const MemoryRegistry& memory, const Op& op);

// The target must be device or pinned memory.
AccessCheck check_memset(const MemoryRegistry& memory, const void* dst, std::size_t count);

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_ACCESS_H_
