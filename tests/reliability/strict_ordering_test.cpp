// The library under the emulated device's worst-case ordering (strict mode): copies into pageable
// memory complete only at a synchronization, pageable sources are read when the copy runs,
// cudaStreamDestroy returns before the stream's work ran, and freeing pinned memory that queued work
// still names is a violation. CI runs every suite once with CUDAEMU_STRICT=1; these cases turn the
// mode on themselves, so they hold in every run.
#include <cudaemu.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <string>

#include "emulator_support.h"
#include "handles.h"
#include "samples.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

constexpr int kProfile = 0;
constexpr int kBatch = 10;

class StrictOrdering : public FreshPlatformTest {
 protected:
  // Reference results with the default ordering, then strict mode on for the case.
  void Prepare(bool use_cuda_graph) {
    model_ = LoadSample("smoke");
    {
      StdoutCapture quiet;
      cudaemu_set_strict(0);
      Handle handle = NewHandle(model_, use_cuda_graph);
      ASSERT_TRUE(handle);
      first_ = Call(handle.get(), model_.config, kProfile, kBatch, 1);
      second_ = Call(handle.get(), model_.config, kProfile, kBatch / 2, 2);
    }
    ASSERT_EQ(first_.code, 0);
    ASSERT_EQ(second_.code, 0);
    cudaemu_reset();
    trt_standin_reset();
    cudaemu_set_strict(1);
  }

  void ExpectNothingLeft() {
    EXPECT_EQ(cudaemu_violations(), 0u) << [] {
      char text[256] = "";
      cudaemu_last_violation(text, sizeof text);
      return std::string(text);
    }();
    EXPECT_EQ(DeviceCounts::Now(), DeviceCounts{});
    EXPECT_EQ(cudaemu_sticky_error(), cudaSuccess);
  }

  SampleModel model_;
  CallResult first_;  // with the default ordering: seed 1 at kBatch, then seed 2 at kBatch / 2
  CallResult second_;
};

class StrictOrderingOnEmulator : public StrictOrdering, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    StrictOrdering::SetUp();
    Prepare(GetParam());
  }
};

INFERLET_EMULATOR_TEST_P(StrictOrderingOnEmulator, CallsGiveTheSameResults) {
  StdoutCapture quiet;
  Handle handle = NewHandle(model_, GetParam());
  ASSERT_TRUE(handle);
  const CallResult first = Call(handle.get(), model_.config, kProfile, kBatch, 1);
  const CallResult second = Call(handle.get(), model_.config, kProfile, kBatch / 2, 2);
  handle.reset();
  quiet.Stop();
  EXPECT_EQ(first.code, 0);
  EXPECT_EQ(first.outputs, first_.outputs);
  EXPECT_EQ(second.code, 0);
  EXPECT_EQ(second.outputs, second_.outputs);
  ExpectNothingLeft();
}

// A call that fails after its enqueue leaves TensorRT's work queued on the handle's stream; deleting
// the handle then must not free memory that work still uses.
INFERLET_EMULATOR_TEST_P(StrictOrderingOnEmulator, TeardownAfterACallThatLeftWorkQueued) {
  StdoutCapture quiet;
  Handle handle = NewHandle(model_, GetParam());
  ASSERT_TRUE(handle);
  // The synchronization after the enqueue (the second of a call, the third with graphs) fails
  // without waiting: a non-sticky code, answered -1.
  cudaemu_fail_call("cudaStreamSynchronize", GetParam() ? 3 : 2, cudaErrorLaunchOutOfResources);
  EXPECT_EQ(Call(handle.get(), model_.config, kProfile, kBatch, 1).code, -1);
  EXPECT_GT(cudaemu_pending_work(), 0u);
  handle.reset();
  quiet.Stop();
  ExpectNothingLeft();
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(Graphs, StrictOrderingOnEmulator, testing::Bool(),
                                           [](const testing::TestParamInfo<bool>& info) {
                                             return info.param ? std::string("WithGraphs")
                                                               : std::string("WithoutGraphs");
                                           });

class StrictOrderingPlainOnEmulator : public StrictOrdering {
 protected:
  void SetUp() override {
    StrictOrdering::SetUp();
    Prepare(false);
  }
};

// The second input copy fails after the first was issued. That one reads the caller's input when it
// runs, so the call waits for it before answering -1, and the caller may then reuse or release its
// inputs (Call releases them when it returns; the next call's inputs are new buffers).
INFERLET_EMULATOR_TEST_F(StrictOrderingPlainOnEmulator, InputsMayBeReleasedAfterAFailedCall) {
  StdoutCapture quiet;
  Handle handle = NewHandle(model_, false);
  ASSERT_TRUE(handle);
  // Without graphs the library's uploads are the first two cudaMemcpyAsync of a call.
  cudaemu_fail_call("cudaMemcpyAsync", 2, cudaErrorInvalidValue);
  EXPECT_EQ(Call(handle.get(), model_.config, kProfile, kBatch, 7).code, -1);
  EXPECT_EQ(cudaemu_pending_work(), 0u) << "the call returned with a copy of the caller's input queued";
  const CallResult next = Call(handle.get(), model_.config, kProfile, kBatch, 1);
  handle.reset();
  quiet.Stop();
  EXPECT_EQ(next.code, 0);
  EXPECT_EQ(next.outputs, first_.outputs);
  ExpectNothingLeft();
}

}  // namespace
}  // namespace inferlet_test
