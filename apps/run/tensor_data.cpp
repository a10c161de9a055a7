#include "tensor_data.h"

namespace inferlet_run {

std::string MakeData(const DataType& type, bool typed, size_t bytes, FillMode mode, std::mt19937& rng) {
  std::string data(bytes, '\0');
  if (mode == FillMode::kZeros) return data;
  if (!typed || type.Size() == 0) {
    for (char& c : data) c = static_cast<char>(rng() & 0xff);
    return data;
  }
  const size_t size = static_cast<size_t>(type.Size());
  for (size_t at = 0; at + size <= bytes; at += size) StoreRandom(type, &data[at], rng);
  return data;
}

std::string MakeInputData(const DataType& type, bool typed, size_t bytes, FillMode mode, unsigned seed,
                          const std::string& name) {
  const uint64_t h = Fnv1a(name.data(), name.size());
  std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(h),
                         static_cast<uint32_t>(h >> 32)};
  std::mt19937 rng(sequence);
  return MakeData(type, typed, bytes, mode, rng);
}

uint64_t Fnv1a(const void* data, size_t bytes) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint64_t h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < bytes; ++i) {
    h ^= p[i];
    h *= 0x100000001b3ull;
  }
  return h;
}

Checksum ComputeChecksum(const void* data, size_t bytes, const DataType& type, bool typed) {
  Checksum c;
  c.fnv1a = Fnv1a(data, bytes);
  const auto* p = static_cast<const unsigned char*>(data);
  if (!typed || type.Size() == 0) {
    for (size_t i = 0; i < bytes; ++i) c.sum += p[i];
    return c;
  }
  const size_t count = bytes / static_cast<size_t>(type.Size());
  for (size_t i = 0; i < count; ++i) c.sum += ElementValue(type, data, i);
  return c;
}

}  // namespace inferlet_run
