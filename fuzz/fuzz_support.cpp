#include "fuzz_support.h"

#include <cudaemu.h>
#include <fcntl.h>
#include <trt_standin.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace inferlet_fuzz {

uint8_t ByteReader::Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

int32_t ByteReader::Raw32() {
  uint32_t value = 0;
  for (int shift = 0; shift < 32; shift += 8) value |= static_cast<uint32_t>(Byte()) << shift;
  return static_cast<int32_t>(value);
}

int32_t ByteReader::Int() {
  const uint8_t tag = Byte();
  if (tag < 0xF0) return tag;
  switch (tag) {
    case 0xF0:
      return -1;
    case 0xF1:
      return INT_MIN;
    case 0xF2:
      return INT_MAX;
    case 0xF3:
      return 65536;
    case 0xF4:
      return 340;
    case 0xF5:
      return 338;
    case 0xF6:
      return Raw32();
    case 0xF7:
      return -static_cast<int32_t>(Byte());
    default:
      return static_cast<int32_t>(1u << (Byte() % 31));
  }
}

void SilenceStdout() {
  std::fflush(stdout);
  const int null_fd = open("/dev/null", O_WRONLY);
  if (null_fd < 0) return;
  dup2(null_fd, STDOUT_FILENO);
  close(null_fd);
}

void Finding(const std::string& what) {
  std::fprintf(stderr, "inferlet fuzz finding: %s\n", what.c_str());
  std::abort();
}

const SampleModel& Sample(int index) {
  static const std::vector<SampleModel> samples = [] {
    std::vector<SampleModel> all;
    for (const char* name : kSampleNames) {
      try {
        all.push_back(inferlet_test::LoadSample(name));
      } catch (const std::exception& error) {
        Finding(std::string("cannot read a sample engine: ") + error.what());
      }
    }
    return all;
  }();
  return samples.at(static_cast<size_t>(index));
}

int64_t TensorBytes(const std::vector<int>& shape, int item_size) {
  if (shape.size() < 2 || shape.size() > 8 || item_size <= 0) return -1;
  int64_t bytes = item_size;
  for (int dim : shape) {
    if (dim <= 0) return -1;
    bytes *= dim;
    if (bytes > INT_MAX) return bytes;  // refused by the library, and no longer grows here
  }
  return bytes;
}

namespace {

constexpr size_t kHeaderSize = 24;  // magic, format version, major, payload size, payload CRC-32
constexpr size_t kPayloadSizeAt = 16;
constexpr size_t kChecksumAt = 20;

uint32_t Crc32(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void StoreU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<uint8_t> WithHeaderFixed(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return {};
  std::vector<uint8_t> patched(data, data + size);
  StoreU32(&patched[kPayloadSizeAt], static_cast<uint32_t>(size - kHeaderSize));
  StoreU32(&patched[kChecksumAt], Crc32(patched.data() + kHeaderSize, size - kHeaderSize));
  return patched;
}

void CheckAllReleased(const std::string& after) {
  if (cudaemu_live_allocations() != 0 || cudaemu_live_streams() != 0 || cudaemu_live_graphs() != 0 ||
      cudaemu_live_graph_execs() != 0 || cudaemu_live_events() != 0) {
    Finding("device resources left after " + after + ": allocations " +
            std::to_string(cudaemu_live_allocations()) + ", streams " +
            std::to_string(cudaemu_live_streams()) + ", graphs " + std::to_string(cudaemu_live_graphs()) +
            ", executable graphs " + std::to_string(cudaemu_live_graph_execs()) + ", events " +
            std::to_string(cudaemu_live_events()));
  }
  if (trt_standin_count("live_engines") != 0 || trt_standin_count("live_contexts") != 0 ||
      trt_standin_count("live_runtimes") != 0) {
    Finding("TensorRT objects left after " + after);
  }
  CheckNoViolations();
}

void CheckNoViolations() {
  if (cudaemu_violations() != 0) {
    char text[512];
    cudaemu_last_violation(text, sizeof text);
    Finding(std::string("out-of-bounds device access: ") + text);
  }
}

}  // namespace inferlet_fuzz
