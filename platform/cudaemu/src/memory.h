// Registry of the memory the emulated device hands out: device allocations and pinned host
// allocations. Anything else is ordinary (pageable) host memory.
#ifndef CUDAEMU_SRC_MEMORY_H_
#define CUDAEMU_SRC_MEMORY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

namespace cudaemu {

enum class MemoryKind { Device, Pinned };

// Anonymous mapping: zero-filled, page aligned, only touched pages use host memory.
class Mapping {
 public:
  explicit Mapping(std::size_t size);
  ~Mapping();
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  void* data() const { return data_; }

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

struct Allocation {
  std::uintptr_t base = 0;
  std::size_t size = 0;
  MemoryKind kind = MemoryKind::Device;
  int device = 0;
  std::unique_ptr<Mapping> mapping;

  bool covers(const void* p, std::size_t n) const;
};

class MemoryRegistry {
 public:
  // Null when the host has no memory left. Size must be > 0.
  void* allocate(std::size_t size, MemoryKind kind, int device);
  // False when p is not the start of a live allocation of that kind.
  bool release(const void* p, MemoryKind kind);
  // The allocation whose range holds p, or null.
  const Allocation* find(const void* p) const;

  std::size_t device_bytes(int device) const;
  std::size_t count(MemoryKind kind) const;
  std::size_t count() const { return allocations_.size(); }
  std::size_t bytes() const { return bytes_; }
  void clear();

 private:
  std::map<std::uintptr_t, Allocation> allocations_;
  std::map<int, std::size_t> device_bytes_;
  std::size_t bytes_ = 0;
};

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_MEMORY_H_
