// Arguments kestrel_trt_new refuses, seen on the emulated device: nothing is constructed, not even a
// device count is asked for.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::FloatEq;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class CInterface : public FreshPlatformTest {};

// Arguments outside the interface's limits are refused before anything is constructed: one error line,
// no device selection, no plugin registration, no runtime.
TEST_F(CInterface, RefusedNewArgumentsConstructNothing) {
  const std::string engine = ReadEngine("smoke");
  ModelConfig config = SmokeConfig();
  struct Refusal {
    const char* what;
    const char* buf;
    int len;
    bool null_handle;
  };
  const std::vector<Refusal> refusals = {
      {"negative length", engine.data(), -1, false},
      {"most negative length", engine.data(), -2147483647 - 1, false},
      {"null buffer with a length", nullptr, 16, false},
      {"null handle out-parameter", engine.data(), static_cast<int>(engine.size()), true},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    cudaemu_reset();
    trt_standin_reset();
    trt_engine_core* handle = UntouchedHandle();
    int rc = 0;
    const auto lines = CapturedLines([&] {
      rc = kestrel_trt_new(r.buf, r.len, 0, false, config.in_shapes, config.in_item_sizes, config.out_shapes,
                           config.out_item_sizes, r.null_handle ? nullptr : &handle);
    });
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(handle, UntouchedHandle());
    EXPECT_THAT(lines, ElementsAre(StartsWith("[inferlet][E] ")));
    EXPECT_EQ(cudaemu_call_count("cudaGetDeviceCount"), 0u);
    EXPECT_EQ(trt_standin_count("initLibNvInferPlugins"), 0);
    EXPECT_EQ(trt_standin_count("createInferRuntime"), 0);
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
  }
}

}  // namespace
}  // namespace inferlet_test
