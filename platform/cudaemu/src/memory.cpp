#include "memory.h"

#include <sys/mman.h>

#include <new>

namespace cudaemu {

Mapping::Mapping(std::size_t size) : size_(size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_ = p;
}

Mapping::~Mapping() { munmap(data_, size_); }

bool Allocation::covers(const void* p, std::size_t n) const {
  auto addr = reinterpret_cast<std::uintptr_t>(p);
  return addr >= base && addr - base <= size && n <= size - (addr - base);
}

void* MemoryRegistry::allocate(std::size_t size, MemoryKind kind, int device, Owner owner) {
  std::unique_ptr<Mapping> mapping;
  try {
    mapping = std::make_unique<Mapping>(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  void* p = mapping->data();
  auto base = reinterpret_cast<std::uintptr_t>(p);
  allocations_[base] = Allocation{base, size, kind, device, owner, std::move(mapping)};
  bytes_ += size;
  if (kind == MemoryKind::Device) device_bytes_[device] += size;
  return p;
}

bool MemoryRegistry::release(const void* p, MemoryKind kind, Owner owner, std::unique_ptr<Mapping>* keep) {
  auto it = allocations_.find(reinterpret_cast<std::uintptr_t>(p));
  if (it == allocations_.end() || it->second.kind != kind || it->second.owner != owner) return false;
  bytes_ -= it->second.size;
  if (kind == MemoryKind::Device) device_bytes_[it->second.device] -= it->second.size;
  if (keep != nullptr) *keep = std::move(it->second.mapping);
  allocations_.erase(it);
  return true;
}

const Allocation* MemoryRegistry::find(const void* p) const {
  auto addr = reinterpret_cast<std::uintptr_t>(p);
  auto it = allocations_.upper_bound(addr);
  if (it == allocations_.begin()) return nullptr;
  --it;
  return addr - it->second.base < it->second.size ? &it->second : nullptr;
}

std::size_t MemoryRegistry::device_bytes(int device) const {
  auto it = device_bytes_.find(device);
  return it == device_bytes_.end() ? 0 : it->second;
}

std::size_t MemoryRegistry::count(MemoryKind kind) const {
  std::size_t n = 0;
  for (const auto& entry : allocations_) n += entry.second.kind == kind;
  return n;
}

std::size_t MemoryRegistry::count(Owner owner, MemoryKind kind) const {
  std::size_t n = 0;
  for (const auto& entry : allocations_) n += entry.second.owner == owner && entry.second.kind == kind;
  return n;
}

std::size_t MemoryRegistry::bytes(Owner owner, MemoryKind kind) const {
  std::size_t n = 0;
  for (const auto& entry : allocations_)
    if (entry.second.owner == owner && entry.second.kind == kind) n += entry.second.size;
  return n;
}

void MemoryRegistry::clear() {
  allocations_.clear();
  device_bytes_.clear();
  bytes_ = 0;
}

}  // namespace cudaemu
