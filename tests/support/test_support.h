// The library's tests' side of the support: everything of samples.h and handles.h (support/ at the top
// of the tree), plus what needs GoogleTest: a fixture that starts every case on a fresh platform, and
// the lines a construction prints. The device is reached through device_state.h; the emulated device's
// call trace and counts are in emulator_support.h, for the cases that need it.
#ifndef INFERLET_TESTS_SUPPORT_TEST_SUPPORT_H_
#define INFERLET_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_state.h"
#include "handles.h"
#include "samples.h"
#include "trt_generation.h"

namespace inferlet_test {

// Resets the device (see ResetDevice) and the TensorRT stand-in (counters, faults, traces) before each
// case; after it, checks that no TensorRT object was released while work it had queued was still to run
// (that work would meet freed memory).
class FreshPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// A regular expression that matches exactly text.
std::string RegexEscaped(const std::string& text);

// What constructing a handle on the smoke engine prints after the device line, through the count and
// variable-length lines.
std::vector<std::string> SmokeConstructionLines();

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_SUPPORT_TEST_SUPPORT_H_
