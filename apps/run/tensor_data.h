// Host data of one tensor: made-up inputs, and checksums of what comes back.
#ifndef INFERLET_APPS_TENSOR_DATA_H_
#define INFERLET_APPS_TENSOR_DATA_H_

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "data_types.h"

namespace inferlet_run {

enum class FillMode { kZeros, kRandom };

// `bytes` of elements of the given type: zeros, or random ones from rng (StoreRandom). With typed
// false the elements are bytes of unknown meaning and random filling draws plain bytes.
std::string MakeData(const DataType& type, bool typed, size_t bytes, FillMode mode, std::mt19937& rng);

// The data of one made-up input: MakeData with a generator of its own, seeded from the seed and the
// input's name only (std::seed_seq of the seed and the two halves of the name's 64-bit FNV-1a), so
// that an input's data does not depend on which other inputs are made up or loaded from files.
std::string MakeInputData(const DataType& type, bool typed, size_t bytes, FillMode mode, unsigned seed,
                          const std::string& name);

uint64_t Fnv1a(const void* data, size_t bytes);  // 64-bit FNV-1a

struct Checksum {
  double sum = 0;      // of the elements as numbers (of the bytes when the type is unknown)
  uint64_t fnv1a = 0;  // 64-bit FNV-1a of the bytes
};

Checksum ComputeChecksum(const void* data, size_t bytes, const DataType& type, bool typed);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_TENSOR_DATA_H_
