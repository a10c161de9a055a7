// Shared pieces of the fuzz targets: a reader that turns fuzz bytes into the integers the C interface
// takes (with a bias towards boundary values), the sample engines and their configurations, and the
// checks that turn a silent misbehaviour into a crash libFuzzer reports.
#ifndef INFERLET_FUZZ_SUPPORT_H_
#define INFERLET_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace inferlet_fuzz {

using ShapeList = std::vector<std::vector<std::vector<int>>>;
using ItemSizeList = std::vector<std::vector<int>>;

struct ModelConfig {
  ShapeList in_shapes;
  ItemSizeList in_item_sizes;
  ShapeList out_shapes;
  ItemSizeList out_item_sizes;
};

// Reads fuzz bytes front to back; past the end every read gives 0.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte();
  int32_t Raw32();  // four bytes, little endian
  // One byte picks the value: below 0xF0 the byte itself (0 to 239); above, boundary values
  // (-1, INT_MIN, INT_MAX, 65536, 340, 338, a raw 32-bit value, a small negative, a power of two).
  int32_t Int();

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Standard output goes to /dev/null: the library logs every step, which would drown libFuzzer's own
// progress lines and slow every run down.
void SilenceStdout();

// Prints the reason on standard error and aborts, which libFuzzer reports as a crash with the input.
[[noreturn]] void Finding(const std::string& what);

const char* const kSampleNames[] = {"smoke", "two_profiles", "mixed_rank", "mlp"};
constexpr int kSampleCount = 4;

// Serialized sample engine for the TensorRT major the target links; aborts when it cannot be read.
const std::string& SampleEngine(int index);
const ModelConfig& SampleConfig(int index);

// Bytes of a tensor as the library computes them, in 64 bits; -1 for a shape the library refuses
// (rank outside 2..8, a zero or negative factor).
int64_t TensorBytes(const std::vector<int>& shape, int item_size);

// After a handle is gone the emulated device and the TensorRT stand-in must hold nothing, and no copy
// may ever have left its buffers.
void CheckAllReleased();
void CheckNoViolations();

}  // namespace inferlet_fuzz

#endif  // INFERLET_FUZZ_SUPPORT_H_
