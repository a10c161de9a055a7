// The model configuration as kestrel_trt_new checks it: the byte sizes and host buffers validation
// gives an accepted configuration, and on the emulated device each rejection's message, its order, and
// that a rejected configuration touches neither TensorRT nor device memory.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <climits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "emulator_support.h"
#include "engine_infer.h"
#include "engine_peer.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;

// One profile with the given input and output shapes, item size 4 for every tensor.
ModelConfig OneProfile(std::vector<std::vector<int>> inputs, std::vector<std::vector<int>> outputs) {
  ModelConfig config;
  config.in_item_sizes = {std::vector<int>(inputs.size(), 4)};
  config.out_item_sizes = {std::vector<int>(outputs.size(), 4)};
  config.in_shapes = {std::move(inputs)};
  config.out_shapes = {std::move(outputs)};
  return config;
}

ModelConfig WithItemSizes(ModelConfig config, std::vector<std::vector<int>> in,
                          std::vector<std::vector<int>> out) {
  config.in_item_sizes = std::move(in);
  config.out_item_sizes = std::move(out);
  return config;
}

// Constructs the engine core directly from bytes that do not deserialize, so the configuration's
// layout stays observable: validation passed when the failure is the deserialization.
class LayoutProbe {
 public:
  explicit LayoutProbe(ModelConfig config) : config_(std::move(config)) {
    lines_ = CapturedLines([&] {
      core_ =
          std::make_unique<trt_engine_core>(std::string(), 0, false, config_.in_shapes, config_.in_item_sizes,
                                            config_.out_shapes, config_.out_item_sizes);
    });
  }
  ~LayoutProbe() {
    CapturedLines([&] { core_.reset(); });
  }
  const std::vector<S_net_info>& NetInfos() const { return trt_engine_core_peer::NetInfos(*core_); }
  bool PassedValidation() const {
    for (const std::string& line : lines_) {
      if (line == "[inferlet][I] Loading trt_engine_core ... ") return true;
    }
    return false;
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  bool Valid() const { return core_->Valid(); }

 private:
  ModelConfig config_;
  std::unique_ptr<trt_engine_core> core_;
  std::vector<std::string> lines_;
};

class ConfigValidation : public FreshPlatformTest {};

TEST_F(ConfigValidation, ByteSizesAreItemSizeTimesEveryDimensionWithZeroedHostOutputs) {
  LayoutProbe probe(OneProfile({{8, 128}}, {{8, 2}}));
  ASSERT_TRUE(probe.PassedValidation());
  EXPECT_FALSE(probe.Valid());
  ASSERT_EQ(probe.NetInfos().size(), 1u);
  const S_net_info& rec = probe.NetInfos()[0];
  EXPECT_THAT(rec.input_shapes, ElementsAre(ElementsAre(8, 128)));
  EXPECT_THAT(rec.output_shapes, ElementsAre(ElementsAre(8, 2)));
  EXPECT_THAT(rec.input_sizes, ElementsAre(4096));
  EXPECT_THAT(rec.output_sizes, ElementsAre(64));
  ASSERT_EQ(rec.output_host_bufs.size(), 1u);
  EXPECT_EQ(rec.output_host_bufs[0].size(), 64u);
  EXPECT_THAT(rec.output_host_bufs[0], Each(0));
  EXPECT_THAT(rec.input_bufs, ElementsAre(nullptr));
  EXPECT_THAT(rec.output_bufs, ElementsAre(nullptr));
}

TEST_F(ConfigValidation, TwoAndEightDimensionsAreAccepted) {
  LayoutProbe probe(
      WithItemSizes(OneProfile({{3, 5}, {2, 1, 2, 1, 2, 1, 2, 3}}, {{2, 2, 2, 2, 2, 2, 2, 2}, {7, 1}}),
                    {{4, 2}}, {{1, 8}}));
  ASSERT_TRUE(probe.PassedValidation());
  const S_net_info& rec = probe.NetInfos()[0];
  EXPECT_THAT(rec.input_sizes, ElementsAre(60, 96));
  EXPECT_THAT(rec.output_sizes, ElementsAre(256, 56));
  EXPECT_EQ(rec.output_host_bufs[0].size(), 256u);
  EXPECT_EQ(rec.output_host_bufs[1].size(), 56u);
}

TEST_F(ConfigValidation, LargestByteSizeThatFitsThirtyTwoBitsIsAccepted) {
  LayoutProbe probe(WithItemSizes(OneProfile({{1, INT_MAX}}, {{4, 4}}), {{1}}, {{4}}));
  ASSERT_TRUE(probe.PassedValidation());
  EXPECT_THAT(probe.NetInfos()[0].input_sizes, ElementsAre(INT_MAX));
}

struct RejectedCase {
  const char* what;
  ModelConfig config;
  const char* message;
};

std::vector<RejectedCase> RejectedCases() {
  const ModelConfig smoke = SmokeConfig();
  const ModelConfig two = TwoProfilesConfig();
  return {
      {"no profiles at all", {{}, {}, {}, {}}, "bad input or output shape"},
      {"two input profiles, one output profile",
       {two.in_shapes, two.in_item_sizes, {two.out_shapes[0]}, {two.out_item_sizes[0]}},
       "bad input or output shape"},
      {"no input profile", {{}, {}, smoke.out_shapes, smoke.out_item_sizes}, "bad input or output shape"},
      {"no output item sizes", WithItemSizes(smoke, smoke.in_item_sizes, {}),
       "bad input or output item_size"},
      {"no input item sizes", WithItemSizes(smoke, {}, smoke.out_item_sizes),
       "bad input or output item_size"},
      {"item sizes for one of two profiles", WithItemSizes(two, {{4, 4}}, {{4}, {4}}),
       "bad input or output item_size"},
      {"output item sizes for one of two profiles", WithItemSizes(two, {{4, 4}, {4, 4}}, {{4}}),
       "bad input or output item_size"},
      {"item size missing for the second input", WithItemSizes(smoke, {{4}}, {{4}}),
       "bad input or output item_size"},
      {"item size missing for the only output", WithItemSizes(smoke, {{4, 4}}, {{}}),
       "bad input or output item_size"},
      {"bad first input decides before a missing item size",
       WithItemSizes(OneProfile({{16}, {4, 4}}, {{4, 4}}), {{4}}, {{4}}), "input shape ndim must in 2-8"},
      {"input of one dimension", OneProfile({{16}}, {{4, 4}}), "input shape ndim must in 2-8"},
      {"input without dimensions", OneProfile({{}}, {{4, 4}}), "input shape ndim must in 2-8"},
      {"input of nine dimensions", OneProfile({{1, 2, 1, 2, 1, 2, 1, 2, 1}}, {{4, 4}}),
       "input shape ndim must in 2-8"},
      {"output of one dimension", OneProfile({{4, 4}}, {{16}}), "output shape ndim must in 2-8"},
      {"output of nine dimensions", OneProfile({{4, 4}}, {{1, 1, 1, 1, 1, 1, 1, 1, 1}}),
       "output shape ndim must in 2-8"},
      {"zero input dimension", OneProfile({{4, 0, 16}}, {{4, 4}}), "input shape can not contain zero"},
      {"zero input item size", WithItemSizes(OneProfile({{4, 4}}, {{4, 4}}), {{0}}, {{4}}),
       "input shape can not contain zero"},
      {"zero output dimension", OneProfile({{4, 4}}, {{4, 0, 16}}), "output shape can not contain zero"},
      {"zero output item size", WithItemSizes(OneProfile({{4, 4}}, {{4, 4}}), {{4}}, {{0}}),
       "output shape can not contain zero"},
      {"a zero beside a negative dimension is still zero", OneProfile({{-1, 0}}, {{4, 4}}),
       "input shape can not contain zero"},
      {"negative input dimension", OneProfile({{-1, 340}}, {{4, 4}}), "input shape out of range"},
      {"negative input item size", WithItemSizes(OneProfile({{4, 4}}, {{4, 4}}), {{-4}}, {{4}}),
       "input shape out of range"},
      {"two negative dimensions make a positive product", OneProfile({{-2, -8}}, {{4, 4}}),
       "input shape out of range"},
      {"input bytes that wrap to zero in 32 bits",
       WithItemSizes(OneProfile({{65536, 65536}}, {{4, 4}}), {{1}}, {{4}}), "input shape out of range"},
      {"input bytes just past the 32-bit range",
       WithItemSizes(OneProfile({{2, 1073741824}}, {{4, 4}}), {{1}}, {{4}}), "input shape out of range"},
      {"input bytes that wrap to a small positive size", OneProfile({{1073741825, 4}}, {{4, 4}}),
       "input shape out of range"},
      {"negative output dimension", OneProfile({{4, 4}}, {{-1, 338}}), "output shape out of range"},
      {"negative output item size", WithItemSizes(OneProfile({{4, 4}}, {{4, 4}}), {{4}}, {{-1}}),
       "output shape out of range"},
      {"output bytes beyond the 32-bit range", OneProfile({{4, 4}}, {{46341, 46341}}),
       "output shape out of range"},
      {"bad input and bad output in one profile", OneProfile({{16}}, {{16}}), "input shape ndim must in 2-8"},
      {"bad output of profile 0 comes before a bad input of profile 1",
       {{{{4, 4}}, {{16}}}, {{4}, {4}}, {{{0, 4}}, {{4, 4}}}, {{4}, {4}}},
       "output shape can not contain zero"},
  };
}

class ConfigValidationOnEmulator : public FreshPlatformTest {};

// A rejection stops construction before TensorRT or device memory is touched: the device line, the
// graph line, the one message, and the teardown of the half-built object.
INFERLET_EMULATOR_TEST_F(ConfigValidationOnEmulator, EachRejectionLogsItsOneMessageAndTouchesNothing) {
  const std::string engine = ReadEngine("smoke");
  for (const RejectedCase& c : RejectedCases()) {
    SCOPED_TRACE(c.what);
    cudaemu_reset();
    trt_standin_reset();
    const auto outcome = CallNew(engine, c.config);
    EXPECT_EQ(outcome.rc, -1);
    EXPECT_EQ(outcome.handle, UntouchedHandle());
    EXPECT_THAT(outcome.lines, ElementsAre("[inferlet][E] setDevice 0ok", "[inferlet][I] CUDA Graph is 0",
                                           std::string("[inferlet][E] ") + c.message,
                                           "[inferlet][I] closedestory...", "[inferlet][I] closedestroy ok"));
    EXPECT_EQ(trt_standin_count("initLibNvInferPlugins"), 0);
    EXPECT_EQ(trt_standin_count("createInferRuntime"), 0);
    EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
    EXPECT_EQ(cudaemu_call_count("cudaStreamCreate"), 0u);
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
  }
}

INFERLET_EMULATOR_TEST_F(ConfigValidationOnEmulator, BadSecondProfileKeepsTheFirstAndTakesNoDeviceMemory) {
  ModelConfig config = TwoProfilesConfig();
  config.in_shapes[1][1] = {16, 4, 8, 1, 1, 1, 1, 1, 1};
  LayoutProbe probe(config);
  EXPECT_FALSE(probe.PassedValidation());
  EXPECT_THAT(probe.Lines(), ::testing::Contains("[inferlet][E] input shape ndim must in 2-8"));
  EXPECT_FALSE(probe.Valid());
  ASSERT_EQ(probe.NetInfos().size(), 2u);
  const S_net_info& first = probe.NetInfos()[0];
  EXPECT_THAT(first.input_shapes, ElementsAre(ElementsAre(4, 4, 8), ElementsAre(4, 4, 8)));
  EXPECT_THAT(first.input_sizes, ElementsAre(512, 512));
  EXPECT_THAT(first.output_sizes, ElementsAre(512));
  ASSERT_EQ(first.output_host_bufs.size(), 1u);
  EXPECT_EQ(first.output_host_bufs[0].size(), 512u);
  EXPECT_EQ(probe.NetInfos()[1].input_sizes[0], 2048);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
}

}  // namespace
}  // namespace inferlet_test
