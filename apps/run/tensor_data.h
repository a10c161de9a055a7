// Host data of one tensor: made-up inputs, and checksums of what comes back.
#ifndef INFERLET_APPS_TENSOR_DATA_H_
#define INFERLET_APPS_TENSOR_DATA_H_

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

#include "engine_desc.h"

namespace inferlet_run {

enum class FillMode { kZeros, kRandom };

// `bytes` of elements of the given type: zeros, or uniform values from rng (floats in [-1, 1), integers
// over the type's range up to [-128, 127], booleans 0/1). With typed false the elements are bytes
// of unknown meaning and random filling draws plain bytes.
std::string MakeData(DType type, bool typed, size_t bytes, FillMode mode, std::mt19937& rng);

// The data of one made-up input: MakeData with a generator of its own, seeded from the seed and the
// input's name only (std::seed_seq of the seed and the two halves of the name's 64-bit FNV-1a), so
// that an input's data does not depend on which other inputs are made up or loaded from files.
std::string MakeInputData(DType type, bool typed, size_t bytes, FillMode mode, unsigned seed,
                          const std::string& name);

uint16_t FloatToHalf(float value);
float HalfToFloat(uint16_t bits);

struct Checksum {
  double sum = 0;      // of the elements as numbers (of the bytes when the type is unknown)
  uint64_t fnv1a = 0;  // 64-bit FNV-1a of the bytes
};

Checksum ComputeChecksum(const void* data, size_t bytes, DType type, bool typed);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_TENSOR_DATA_H_
