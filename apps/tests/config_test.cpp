// Turning an engine's description into the configuration for kestrel_trt_new, the command-line
// overrides of it, and the numbers the report prints.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "engine_desc.h"
#include "exit_codes.h"
#include "latency.h"
#include "model_config.h"
#include "tensor_data.h"

namespace inferlet_run {
namespace {

// Two profiles of a network with inputs a (float) and b (half) and output y (int32) of open rank.
const char* kTwoProfileEngine = R"({
  "trt_major": 8, "name": "net", "max_batch_size": 1, "refittable": false,
  "bindings": [
    {"index": 0, "name": "a", "input": true, "dtype": 0, "item_size": 4, "dims": [-1, 8]},
    {"index": 1, "name": "b", "input": true, "dtype": 1, "item_size": 2, "dims": [-1, 3, -1]},
    {"index": 2, "name": "y", "input": false, "dtype": 3, "item_size": 4, "dims": [-1, 8]},
    {"index": 3, "name": "a [profile 1]", "input": true, "dtype": 0, "item_size": 4, "dims": [-1, 8]},
    {"index": 4, "name": "b [profile 1]", "input": true, "dtype": 1, "item_size": 2, "dims": [-1, 3, -1]},
    {"index": 5, "name": "y [profile 1]", "input": false, "dtype": 3, "item_size": 4, "dims": [-1, 8]}],
  "profiles": [{"min": [[1, 8], [1, 3, 1], [1, 8]], "opt": [[2, 8], [2, 3, 4], [2, 8]],
                "max": [[4, 8], [4, 3, 5], [4, 8]]},
               {"min": [[8, 8], [8, 3, 1], [8, 8]], "opt": [[12, 8], [12, 3, 6], [12, 8]],
                "max": [[16, 8], [16, 3, 7], [16, 8]]}]
})";

TEST(EngineDescription, ParsesBindingsAndSplitsProfileBlocks) {
  const EngineDesc e = ParseEngineDesc(kTwoProfileEngine);
  EXPECT_EQ(e.name, "net");
  ASSERT_EQ(e.bindings.size(), 6u);
  EXPECT_EQ(e.bindings[4].name, "b [profile 1]");
  EXPECT_EQ(e.bindings[4].base_name, "b");
  EXPECT_EQ(e.bindings[4].dtype, DType::kHalf);
  ASSERT_EQ(e.profiles.size(), 2u);
  EXPECT_EQ(e.profiles[1].inputs, (std::vector<int>{3, 4}));
  EXPECT_EQ(e.profiles[1].outputs, (std::vector<int>{5}));
  EXPECT_EQ(e.MinDims(1, 4), (std::vector<int>{8, 3, 1}));
  EXPECT_EQ(e.OptDims(1, 4), (std::vector<int>{12, 3, 6}));
  EXPECT_EQ(e.MaxDims(1, 4), (std::vector<int>{16, 3, 7}));
  EXPECT_EQ(e.OptDims(0, 2), (std::vector<int>{2, 8}));
  EXPECT_EQ(e.engine_device_bytes, -1) << "an inspector that does not tell";
  EXPECT_EQ(e.context_device_bytes, -1);
  std::string told = kTwoProfileEngine;
  told.insert(told.rfind('}'), R"(, "device_memory": {"engine": 2704, "context": 8192})");
  const EngineDesc with_memory = ParseEngineDesc(told);
  EXPECT_EQ(with_memory.engine_device_bytes, 2704);
  EXPECT_EQ(with_memory.context_device_bytes, 8192);
}

TEST(EngineDescription, RejectsMalformedDescriptions) {
  EXPECT_THROW(ParseEngineDesc("{}"), std::runtime_error);
  EXPECT_THROW(ParseEngineDesc("not json"), std::runtime_error);
  std::string no_profiles = kTwoProfileEngine;
  no_profiles.replace(no_profiles.find("\"profiles\": ["), 13, "\"profiles\": [], \"x\": [");
  EXPECT_THROW(ParseEngineDesc(no_profiles), std::runtime_error);
}

TEST(EngineDescription, ProfileSuffixIsStrippedOnlyAtTheEnd) {
  EXPECT_EQ(StripProfileSuffix("in0 [profile 12]"), "in0");
  EXPECT_EQ(StripProfileSuffix("in0"), "in0");
  EXPECT_EQ(StripProfileSuffix("x [profile 1] y"), "x [profile 1] y");
}

TEST(ModelConfiguration, DerivedFromTheLargestDimensionsAndDataTypes) {
  const ModelConfig c = DeriveConfig(ParseEngineDesc(kTwoProfileEngine), {}, {});
  EXPECT_EQ(c.InShapes(), (ModelConfig::Shapes{{{4, 8}, {4, 3, 5}}, {{16, 8}, {16, 3, 7}}}));
  EXPECT_EQ(c.InItemSizes(), (ModelConfig::ItemSizes{{4, 2}, {4, 2}}));
  EXPECT_EQ(c.OutShapes(), (ModelConfig::Shapes{{{4, 8}}, {{16, 8}}}));
  EXPECT_EQ(c.OutItemSizes(), (ModelConfig::ItemSizes{{4}, {4}}));
  EXPECT_EQ(c.profiles[1].inputs[1].SampleBytes(), 3 * 7 * 2);
  // The device buffers of a handle: every tensor of both profiles at its configured shape.
  EXPECT_EQ(c.profiles[1].inputs[1].BufferBytes(), 16 * 3 * 7 * 2);
  EXPECT_EQ(c.BufferBytes(),
            (4 * 8 * 4 + 4 * 3 * 5 * 2 + 4 * 8 * 4) + (16 * 8 * 4 + 16 * 3 * 7 * 2 + 16 * 8 * 4));
  ModelConfig unsized = c;
  unsized.profiles[0].outputs[0].shape = {0, 8};
  EXPECT_EQ(unsized.BufferBytes(), -1);
}

TEST(ModelConfiguration, OverridesApplyToOneProfileOrToAll) {
  const EngineDesc e = ParseEngineDesc(kTwoProfileEngine);
  const ModelConfig c =
      DeriveConfig(e, {ParseOverride("1:b=2x3x9", "--shape"), ParseOverride("y=3x8", "--shape")},
                   {ParseOverride("0:a=2", "--item-size")});
  EXPECT_EQ(c.InShapes(), (ModelConfig::Shapes{{{4, 8}, {4, 3, 5}}, {{16, 8}, {2, 3, 9}}}));
  EXPECT_EQ(c.OutShapes(), (ModelConfig::Shapes{{{3, 8}}, {{3, 8}}}));
  EXPECT_EQ(c.InItemSizes(), (ModelConfig::ItemSizes{{2, 2}, {4, 2}}));
  EXPECT_FALSE(c.profiles[0].inputs[0].ItemMatchesDType());
}

TEST(ModelConfiguration, ExtentsTheLibraryMustJudgePassThrough) {
  const ModelConfig c =
      DeriveConfig(ParseEngineDesc(kTwoProfileEngine),
                   {ParseOverride("a=340", "--shape"), ParseOverride("y=4x0", "--shape")}, {});
  EXPECT_EQ(c.profiles[0].inputs[0].shape, std::vector<int>{340});
  EXPECT_EQ(c.profiles[0].inputs[0].SampleBytes(), -1);
  EXPECT_EQ(c.profiles[0].outputs[0].shape, (std::vector<int>{4, 0}));
}

TEST(ModelConfiguration, BadOverridesAreUsageErrors) {
  const EngineDesc e = ParseEngineDesc(kTwoProfileEngine);
  auto expect_usage = [&](std::vector<TensorOverride> shapes, std::vector<TensorOverride> items,
                          const std::string& why) {
    try {
      DeriveConfig(e, shapes, items);
      ADD_FAILURE() << "accepted: " << why;
    } catch (const ToolError& error) {
      EXPECT_EQ(error.code, kExitUsage);
      EXPECT_NE(error.message.find(why), std::string::npos) << error.message;
    }
  };
  expect_usage({ParseOverride("z=1x2", "--shape")}, {}, "no tensor named 'z'");
  expect_usage({ParseOverride("2:a=1x2", "--shape")}, {}, "has 2 optimization profile(s)");
  expect_usage({ParseOverride("a=1xx2", "--shape")}, {}, "not a list of extents");
  expect_usage({}, {ParseOverride("a=four", "--item-size")}, "'four' is not a number");
  EXPECT_THROW(ParseOverride("a", "--shape"), ToolError);
  EXPECT_THROW(ParseOverride("1:=4", "--shape"), ToolError);
}

TEST(ModelConfiguration, OpenExtentsMustBeGivenByTheUser) {
  std::string open = kTwoProfileEngine;
  open.replace(open.find("[4, 8]]},"), 6, "[-1, 8]");
  const EngineDesc e = ParseEngineDesc(open);
  try {
    DeriveConfig(e, {}, {});
    ADD_FAILURE() << "accepted an output of unknown size";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.code, kExitUsage);
    EXPECT_NE(error.message.find("--shape 0:y="), std::string::npos) << error.message;
  }
  EXPECT_EQ(DeriveConfig(e, {ParseOverride("0:y=4x8", "--shape")}, {}).profiles[0].outputs[0].shape,
            (std::vector<int>{4, 8}));
}

TEST(ParseOverride, ProfilePrefixIsOptionalAndNamesMayHoldColons) {
  TensorOverride o = ParseOverride("3:in0=1x2", "--shape");
  EXPECT_EQ(o.profile, 3);
  EXPECT_EQ(o.name, "in0");
  EXPECT_EQ(o.value, "1x2");
  o = ParseOverride("input:0=5", "--item-size");
  EXPECT_EQ(o.profile, -1);
  EXPECT_EQ(o.name, "input:0");
  EXPECT_EQ(ParseDims("-1x340", "--shape"), (std::vector<int>{-1, 340}));
}

TEST(Latency, PercentilesInterpolateBetweenRanks) {
  std::vector<double> values;
  for (int i = 100; i >= 1; --i) values.push_back(i);  // unsorted on purpose
  const LatencySummary s = Summarize(values, 2.0, 4);
  EXPECT_EQ(s.calls, 100u);
  EXPECT_DOUBLE_EQ(s.min_us, 1);
  EXPECT_DOUBLE_EQ(s.max_us, 100);
  EXPECT_DOUBLE_EQ(s.mean_us, 50.5);
  EXPECT_DOUBLE_EQ(s.median_us, 50.5);
  EXPECT_DOUBLE_EQ(s.p90_us, 90.1);
  EXPECT_DOUBLE_EQ(s.p99_us, 99.01);
  EXPECT_DOUBLE_EQ(s.calls_per_s, 50);
  EXPECT_DOUBLE_EQ(s.samples_per_s, 200);
  EXPECT_TRUE(s.extra.empty());
  EXPECT_DOUBLE_EQ(Percentile({7.0}, 99), 7.0);
}

TEST(Latency, AskedPercentilesComeInOrderWithoutRepeatsOrTheFixedOnes) {
  std::vector<double> values;
  for (int i = 1; i <= 1001; ++i) values.push_back(i);
  const LatencySummary s = Summarize(values, 1.0, 1, {99.9, 95, 90, 99.9, 50, 0});
  ASSERT_EQ(s.extra.size(), 3u);
  EXPECT_DOUBLE_EQ(s.extra[0].first, 0);
  EXPECT_DOUBLE_EQ(s.extra[0].second, 1);
  EXPECT_DOUBLE_EQ(s.extra[1].first, 95);
  EXPECT_DOUBLE_EQ(s.extra[1].second, 951);
  EXPECT_DOUBLE_EQ(s.extra[2].first, 99.9);
  EXPECT_DOUBLE_EQ(s.extra[2].second, 1000);
  EXPECT_EQ(PercentileName(99.9), "p99.9");
  EXPECT_EQ(PercentileName(95), "p95");
  EXPECT_EQ(PercentileName(99.99), "p99.99");
}

TEST(TensorData, ChecksumsAreFnv1aOfTheBytesAndTheSumOfTheElements) {
  EXPECT_EQ(ComputeChecksum("a", 1, DType::kInt8, true).fnv1a, 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(ComputeChecksum("", 0, DType::kFloat, true).fnv1a, 0xcbf29ce484222325ull);
  const float f[] = {1.5f, -0.25f, 2.0f};
  EXPECT_DOUBLE_EQ(ComputeChecksum(f, sizeof(f), DType::kFloat, true).sum, 3.25);
  const int32_t i[] = {-7, 3};
  EXPECT_DOUBLE_EQ(ComputeChecksum(i, sizeof(i), DType::kInt32, true).sum, -4);
  const uint16_t h[] = {FloatToHalf(0.5f), FloatToHalf(-3.0f)};
  EXPECT_DOUBLE_EQ(ComputeChecksum(h, sizeof(h), DType::kHalf, true).sum, -2.5);
  const unsigned char bytes[] = {200, 100};
  EXPECT_DOUBLE_EQ(ComputeChecksum(bytes, 2, DType::kFloat, false).sum, 300);
}

TEST(TensorData, HalfConversionRoundsToNearestEven) {
  EXPECT_EQ(FloatToHalf(1.0f), 0x3c00);
  EXPECT_EQ(FloatToHalf(-2.0f), 0xc000);
  EXPECT_EQ(FloatToHalf(65504.0f), 0x7bff);
  EXPECT_EQ(FloatToHalf(1e6f), 0x7c00);
  EXPECT_EQ(FloatToHalf(std::ldexp(1.0f, -24)), 0x0001);             // smallest subnormal
  EXPECT_EQ(FloatToHalf(1.0f + std::ldexp(1.0f, -11)), 0x3c00);      // halfway, even stays
  EXPECT_EQ(FloatToHalf(1.0f + 3 * std::ldexp(1.0f, -11)), 0x3c02);  // halfway, odd rounds up
  for (uint16_t bits : {0x0000, 0x0001, 0x03ff, 0x0400, 0x3555, 0x7bff, 0x8001, 0xfbff})
    EXPECT_EQ(FloatToHalf(HalfToFloat(bits)), bits) << std::hex << bits;
  EXPECT_TRUE(std::isnan(HalfToFloat(0x7e00)));
}

TEST(TensorData, RandomInputsDependOnlyOnTheSeedAndStayInRange) {
  std::mt19937 a(42), b(42), c(43);
  const std::string x = MakeData(DType::kFloat, true, 4000, FillMode::kRandom, a);
  EXPECT_EQ(x, MakeData(DType::kFloat, true, 4000, FillMode::kRandom, b));
  EXPECT_NE(x, MakeData(DType::kFloat, true, 4000, FillMode::kRandom, c));
  for (size_t k = 0; k < 1000; ++k) {
    float v;
    std::memcpy(&v, x.data() + 4 * k, 4);
    ASSERT_GE(v, -1.0f);
    ASSERT_LT(v, 1.0f);
  }
  const std::string bools = MakeData(DType::kBool, true, 100, FillMode::kRandom, a);
  for (char v : bools) ASSERT_TRUE(v == 0 || v == 1);
  EXPECT_EQ(MakeData(DType::kInt32, true, 12, FillMode::kZeros, a), std::string(12, '\0'));
}

TEST(TensorData, EachRandomInputIsAFunctionOfTheSeedAndItsNameOnly) {
  const std::string in1 = MakeInputData(DType::kFloat, true, 400, FillMode::kRandom, 5, "in1");
  EXPECT_EQ(in1, MakeInputData(DType::kFloat, true, 400, FillMode::kRandom, 5, "in1"));
  EXPECT_NE(in1, MakeInputData(DType::kFloat, true, 400, FillMode::kRandom, 5, "in0"));
  EXPECT_NE(in1, MakeInputData(DType::kFloat, true, 400, FillMode::kRandom, 6, "in1"));
  // A longer input starts with the same values: only the seed and the name choose the stream.
  EXPECT_EQ(MakeInputData(DType::kFloat, true, 800, FillMode::kRandom, 5, "in1").substr(0, 400), in1);
  // Fixed bytes: the generator and the seeding are fixed by the C++ standard, so these hold on
  // every machine and standard library.
  float first;
  std::memcpy(&first, in1.data(), sizeof(first));
  const uint64_t name_hash = ComputeChecksum("in1", 3, DType::kInt8, false).fnv1a;
  std::seed_seq seeds{5u, static_cast<uint32_t>(name_hash), static_cast<uint32_t>(name_hash >> 32)};
  std::mt19937 expected(seeds);
  EXPECT_EQ(first, static_cast<float>(expected() >> 8) * (1.0f / 16777216.0f) * 2.0f - 1.0f);
  EXPECT_EQ(MakeInputData(DType::kFloat, true, 8, FillMode::kZeros, 5, "in1"), std::string(8, '\0'));
}

}  // namespace
}  // namespace inferlet_run
