// The five exported functions as a host calls them: result codes, the handle variable, what is printed
// for arguments the interface refuses, and that the library keeps nothing the caller passed; on the
// emulated device also that refused arguments construct nothing, not even a device count is asked for.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::FloatEq;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class CInterface : public FreshPlatformTest {};

TEST_F(CInterface, InitAndUninitAnswerZeroBeforeBetweenAndAfterOtherCalls) {
  std::vector<std::string> lines = CapturedLines([] {
    EXPECT_EQ(kestrel_trt_uninit(), 0);
    EXPECT_EQ(kestrel_trt_init(), 0);
    EXPECT_EQ(kestrel_trt_init(), 0);
  });
  EXPECT_THAT(lines, IsEmpty());
  const auto outcome = CallNew(ReadEngine("smoke"), SmokeConfig());
  ASSERT_EQ(outcome.rc, 0);
  EXPECT_EQ(kestrel_trt_uninit(), 0);
  EXPECT_EQ(kestrel_trt_init(), 0);
  DeleteHandle(outcome.handle);
  EXPECT_EQ(kestrel_trt_uninit(), 0);
  EXPECT_EQ(kestrel_trt_uninit(), 0);
}

TEST_F(CInterface, DeletingNullAnswersMinusOneAndPrintsNothing) {
  int rc = 0;
  EXPECT_THAT(CapturedLines([&] { rc = kestrel_trt_delete(nullptr); }), IsEmpty());
  EXPECT_EQ(rc, -1);
}

// An empty engine is an engine that does not deserialize; a null buffer is allowed for length 0.
TEST_F(CInterface, EmptyEngineIsConstructedAndFailsToDeserialize) {
  ModelConfig config = SmokeConfig();
  for (const char* buf : {static_cast<const char*>(nullptr), "ignored"}) {
    trt_standin_reset();
    trt_engine_core* handle = UntouchedHandle();
    int rc = 0;
    const auto lines = CapturedLines([&] {
      rc = kestrel_trt_new(buf, 0, 0, false, config.in_shapes, config.in_item_sizes, config.out_shapes,
                           config.out_item_sizes, &handle);
    });
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(handle, UntouchedHandle());
    EXPECT_THAT(lines, ::testing::Contains("[inferlet][E] Error deserializing CUDA engine"));
    EXPECT_EQ(trt_standin_count("deserializeCudaEngine"), 1);
  }
}

TEST_F(CInterface, ProcessWithNullHandleAnswersMinusOneWithALine) {
  const float input[340] = {};
  const void* inputs[] = {input, input};
  void* outputs[1] = {nullptr};
  int output_lens[1] = {-7};
  int rc = 0;
  const auto lines =
      CapturedLines([&] { rc = kestrel_trt_process(nullptr, 0, inputs, 2, 1, outputs, output_lens); });
  EXPECT_EQ(rc, -1);
  EXPECT_THAT(lines, ElementsAre(StartsWith("[inferlet][E] ")));
  EXPECT_EQ(outputs[0], nullptr);
  EXPECT_EQ(output_lens[0], -7);
}

// The engine bytes and the configuration belong to the caller: scribbling over them and freeing them
// right after kestrel_trt_new must not disturb the handle.
TEST_F(CInterface, CallerMayReleaseEngineBytesAndConfigurationRightAfterNew) {
  const std::string engine = ReadEngine("smoke");
  auto bytes = std::make_unique<std::vector<char>>(engine.begin(), engine.end());
  auto config = std::make_unique<ModelConfig>(SmokeConfig());
  trt_engine_core* handle = nullptr;
  int rc = -2;
  CapturedLines([&] {
    rc = kestrel_trt_new(bytes->data(), static_cast<int>(bytes->size()), 0, false, config->in_shapes,
                         config->in_item_sizes, config->out_shapes, config->out_item_sizes, &handle);
  });
  ASSERT_EQ(rc, 0);
  std::fill(bytes->begin(), bytes->end(), '\x5a');
  bytes.reset();
  config->in_shapes[0][0] = {1, 1};
  config->out_shapes.clear();
  config.reset();

  // 1 everywhere in both inputs: every output is the sum 2 through taps that add up to 1.
  const std::vector<float> ones(10 * 340, 1.0f);
  const void* inputs[] = {ones.data(), ones.data()};
  void* outputs[1] = {nullptr};
  int output_lens[1] = {0};
  CapturedLines([&] { rc = kestrel_trt_process(handle, 0, inputs, 2, 10, outputs, output_lens); });
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(output_lens[0], 10 * 338 * 4);
  const float* out = static_cast<const float*>(outputs[0]);
  EXPECT_THAT(std::vector<float>(out, out + 10 * 338), Each(FloatEq(2.0f)));
  DeleteHandle(handle);
}

// The interface adds no check of its own: a call the engine refuses answers exactly what the engine
// answers, and the handle stays usable.
TEST_F(CInterface, ProcessPassesTheEnginesRefusalThrough) {
  const auto outcome = CallNew(ReadEngine("smoke"), SmokeConfig());
  ASSERT_EQ(outcome.rc, 0);
  const std::vector<float> input(11 * 340, 0.0f);
  const void* inputs[] = {input.data(), input.data()};
  void* outputs[1] = {nullptr};
  int output_lens[1] = {0};
  int rc = 0;
  auto lines = CapturedLines(
      [&] { rc = kestrel_trt_process(outcome.handle, 0, inputs, 1, 10, outputs, output_lens); });
  EXPECT_EQ(rc, -1);
  EXPECT_THAT(lines, ElementsAre(StartsWith("[inferlet][E] ")));
  lines = CapturedLines(
      [&] { rc = kestrel_trt_process(outcome.handle, 0, inputs, 2, 11, outputs, output_lens); });
  EXPECT_EQ(rc, -1);
  EXPECT_THAT(lines, ElementsAre(StartsWith("[inferlet][E] ")));
  CapturedLines([&] { rc = kestrel_trt_process(outcome.handle, 0, inputs, 2, 10, outputs, output_lens); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(output_lens[0], 10 * 338 * 4);
  DeleteHandle(outcome.handle);
}

class CInterfaceOnEmulator : public FreshPlatformTest {};

// Arguments outside the interface's limits are refused before anything is constructed: one error line,
// no device selection, no plugin registration, no runtime.
INFERLET_EMULATOR_TEST_F(CInterfaceOnEmulator, RefusedNewArgumentsConstructNothing) {
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
