// Helpers shared by the library's tests: sample engines and their configurations, capture of what the
// library writes to standard output, and a fixture that starts every case on a fresh device.
#ifndef INFERLET_TESTS_TEST_SUPPORT_H_
#define INFERLET_TESTS_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace inferlet_test {

using ShapeList = std::vector<std::vector<std::vector<int>>>;
using ItemSizeList = std::vector<std::vector<int>>;

// The four configuration lists a host hands to kestrel_trt_new.
struct ModelConfig {
  ShapeList in_shapes;
  ItemSizeList in_item_sizes;
  ShapeList out_shapes;
  ItemSizeList out_item_sizes;
};

// Configurations that match the sample engines of the TensorRT stand-in.
ModelConfig SmokeConfig();        // in0, in1 [10, 340] -> out0 [10, 338], float
ModelConfig TwoProfilesConfig();  // profile 0: batch 4, profile 1: batch 16; in0, in1, out0 [B, 4, 8]
ModelConfig MixedRankConfig();    // in0 [8, 8], in1 [8, 4, 8] -> out0 [8, 8], out1 [8, 4, 8]
ModelConfig MlpConfig();          // x [32, 16] -> y [32, 4]

// Path of a sample engine built for this test binary's TensorRT major, e.g. EnginePath("smoke").
std::string EnginePath(const std::string& name);
std::string ReadFile(const std::string& path);
std::string ReadEngine(const std::string& name);  // ReadFile(EnginePath(name))

std::vector<std::string> SplitLines(const std::string& text);

// What constructing a handle on the smoke engine prints after the device line, through the count and
// variable-length lines.
std::vector<std::string> SmokeConstructionLines();

// Redirects file descriptor 1 (so printf, puts and std::cout alike) into a temporary file until Stop().
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  std::string Stop();  // restores standard output and returns what was written meanwhile

 private:
  int saved_fd_ = -1;
  int capture_fd_ = -1;
};

// Resets the device (see ResetDevice) and the TensorRT stand-in (counters, faults, traces) before each
// case.
class FreshPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
};

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_TEST_SUPPORT_H_
