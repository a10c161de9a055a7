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

// Device memory is either the application's (cudaMalloc) or taken by a component that carries a CUDA
// runtime of its own (cudaemu_component_malloc); each is freed only through its own call.
enum class Owner { Application, Component };

struct Allocation {
  std::uintptr_t base = 0;
  std::size_t size = 0;
  MemoryKind kind = MemoryKind::Device;
  int device = 0;
  Owner owner = Owner::Application;
  std::unique_ptr<Mapping> mapping;

  bool covers(const void* p, std::size_t n) const;
};

class MemoryRegistry {
 public:
  // Null when the host has no memory left. Size must be > 0.
  void* allocate(std::size_t size, MemoryKind kind, int device, Owner owner = Owner::Application);
  // False when p is not the start of a live allocation of that kind and owner. With `keep`, the memory
  // leaves the registry but stays mapped, handed to *keep (so its addresses are not reused meanwhile).
  bool release(const void* p, MemoryKind kind, Owner owner = Owner::Application,
               std::unique_ptr<Mapping>* keep = nullptr);
  // The allocation whose range holds p, or null.
  const Allocation* find(const void* p) const;

  std::size_t device_bytes(int device) const;  // on one device, component memory included
  std::size_t count(MemoryKind kind) const;
  std::size_t count() const { return allocations_.size(); }
  std::size_t bytes() const { return bytes_; }
  std::size_t count(Owner owner, MemoryKind kind) const;
  std::size_t bytes(Owner owner, MemoryKind kind) const;
  void clear();

 private:
  std::map<std::uintptr_t, Allocation> allocations_;
  std::map<int, std::size_t> device_bytes_;
  std::size_t bytes_ = 0;
};

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_MEMORY_H_
