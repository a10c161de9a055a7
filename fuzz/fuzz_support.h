// Shared pieces of the fuzz targets: a reader that turns fuzz bytes into the integers the C interface
// takes (with a bias towards boundary values), the sample engines of support/, an oracle for
// tensor sizes, and the checks that turn a silent misbehaviour into a crash libFuzzer reports.
#ifndef INFERLET_FUZZ_SUPPORT_H_
#define INFERLET_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "../support/samples.h"  // by its place: the targets compile with the library's include paths

namespace inferlet_fuzz {

using inferlet_test::ItemSizeList;
using inferlet_test::kSampleNames;
using inferlet_test::ModelConfig;
using inferlet_test::SampleModel;
using inferlet_test::ShapeList;

// The sample engines a fuzz input picks from, by index: those of kSampleNames.
constexpr int kSamples = static_cast<int>(std::size(kSampleNames));

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

// Sample kSampleNames[index] with its engine for the TensorRT major the target links, read once.
const SampleModel& Sample(int index);

// The oracle for the bytes of a tensor: item size times every dimension, in 64 bits, worked out here
// from the configuration rules and not by the library's code; -1 for a shape the library must refuse
// (rank outside 2..8, a zero or negative factor).
int64_t TensorBytes(const std::vector<int>& shape, int item_size);

// The engine bytes with the stand-in engine header's payload size and CRC-32 made to match the payload,
// so that mutations reach the engines behind the checksum as well; empty when there is no header.
std::vector<uint8_t> WithHeaderFixed(const uint8_t* data, size_t size);

// After the last handle, engine or session is gone (`after` says which went) the emulated device and
// the TensorRT stand-in must hold nothing, and no copy may ever have left its buffers.
void CheckAllReleased(const std::string& after);
void CheckNoViolations();

}  // namespace inferlet_fuzz

#endif  // INFERLET_FUZZ_SUPPORT_H_
