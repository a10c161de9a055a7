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
#include "tool_process.h"

namespace inferlet_run {
namespace {

// Two profiles of a network with inputs a (float) and b (half) and output y (int32), as the sessions
// library describes it.
inferlet_loader::EngineDescription TwoProfileNet() {
  inferlet_loader::EngineDescription d;
  d.trt_major = 8;
  d.name = "net";
  d.max_batch_size = 1;
  d.tensors = {{"a", true, 0, {}, {0, 0}, false, 4, {-1, 8}},
               {"b", true, 1, {}, {0, 0}, false, 2, {-1, 3, -1}},
               {"y", false, 3, {}, {0, 0}, false, 4, {-1, 8}}};
  d.profiles = {
      {{{1, 8}, {1, 3, 1}, {1, 8}}, {{2, 8}, {2, 3, 4}, {2, 8}}, {{4, 8}, {4, 3, 5}, {4, 8}}, {}, {}, {}},
      {{{8, 8}, {8, 3, 1}, {8, 8}},
       {{12, 8}, {12, 3, 6}, {12, 8}},
       {{16, 8}, {16, 3, 7}, {16, 8}},
       {},
       {},
       {}}};
  d.engine_bytes = 2704;
  d.context_bytes = 8192;
  return d;
}

// Described, with the types of the build's data-type table.
EngineDesc Described(const inferlet_loader::EngineDescription& description) {
  EngineDesc e = DescribeEngine(description);
  DescribeTypes(e, inferlet_run_test::TestDataTypes());
  return e;
}

TEST(EngineDescription, TensorsBecomeTensorRt8BindingsInProfileBlocks) {
  const EngineDesc e = DescribeEngine(TwoProfileNet());
  EXPECT_EQ(e.name, "net");
  EXPECT_EQ(e.trt_major, 8);
  ASSERT_EQ(e.bindings.size(), 6u);
  EXPECT_EQ(e.bindings[1].name, "b");
  EXPECT_EQ(e.bindings[4].name, "b [profile 1]");
  EXPECT_EQ(e.bindings[4].base_name, "b");
  EXPECT_EQ(e.bindings[4].index, 4);
  EXPECT_EQ(e.bindings[4].dtype, 1);
  EXPECT_EQ(e.bindings[4].dims, (std::vector<int>{-1, 3, -1}));
  ASSERT_EQ(e.profiles.size(), 2u);
  EXPECT_EQ(e.profiles[1].inputs, (std::vector<int>{3, 4}));
  EXPECT_EQ(e.profiles[1].outputs, (std::vector<int>{5}));
  EXPECT_EQ(e.MinDims(1, 4), (std::vector<int>{8, 3, 1}));
  EXPECT_EQ(e.OptDims(1, 4), (std::vector<int>{12, 3, 6}));
  EXPECT_EQ(e.MaxDims(1, 4), (std::vector<int>{16, 3, 7}));
  EXPECT_EQ(e.OptDims(0, 2), (std::vector<int>{2, 8}));
  EXPECT_EQ(e.engine_device_bytes, 2704);
  EXPECT_EQ(e.context_device_bytes, 8192);
}

// An output TensorRT leaves partly open at a point takes the engine's dimensions, the leading -1 the
// inputs' batch there; one it resolves keeps what it resolved.
TEST(EngineDescription, OutputsTensorRtCannotResolveFollowTheInputsBatch) {
  inferlet_loader::EngineDescription d = TwoProfileNet();
  d.profiles[1].max[2] = {16, -1};
  d.profiles[1].opt[2] = {};
  d.tensors[2].dims = {-1, -1};
  const EngineDesc e = DescribeEngine(d);
  EXPECT_EQ(e.MaxDims(1, 5), (std::vector<int>{16, -1}));
  EXPECT_EQ(e.OptDims(1, 5), (std::vector<int>{12, -1}));
  EXPECT_EQ(e.MinDims(1, 5), (std::vector<int>{8, 8}));
  d.profiles.clear();
  try {
    DescribeEngine(d);
    ADD_FAILURE() << "described an engine without a profile";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitInput);
    EXPECT_EQ(e.message, "the engine has no optimization profile");
  }
}

// A data-dependent output (TensorRT 10 and later) keeps its -1 at every point, where a 7 or 8 output
// left open takes the batch; its configuration stays open without an override, and the legacy
// interface refuses it, as it does a shape tensor, by name.
TEST(EngineDescription, DataDependentOutputsStayOpenAndTheLegacyInterfaceRefusesThem) {
  inferlet_loader::EngineDescription d = TwoProfileNet();
  d.trt_major = 10;
  d.tensors[2].dims = {-1};
  d.tensors[2].data_dependent = true;
  for (inferlet_loader::ProfileDescription& p : d.profiles)
    for (std::vector<inferlet_loader::Dims>* point : {&p.min, &p.opt, &p.max}) (*point)[2] = {-1};
  const EngineDesc e = Described(d);
  EXPECT_TRUE(e.bindings[5].data_dependent);
  EXPECT_FALSE(e.bindings[3].data_dependent);
  EXPECT_EQ(e.MinDims(1, 5), std::vector<int>{-1});
  EXPECT_EQ(e.MaxDims(0, 2), std::vector<int>{-1});
  const ModelConfig c = DeriveConfig(e, {}, {});
  EXPECT_EQ(c.profiles[1].outputs[0].shape, std::vector<int>{-1});
  EXPECT_TRUE(c.profiles[1].outputs[0].data_dependent);
  RequireServableTypes(e);

  inferlet_loader::EngineDescription shape_tensor = TwoProfileNet();
  shape_tensor.tensors[1].on_host = true;
  const std::pair<EngineDesc, std::string> refused[] = {
      {e,
       "output 'y' is data-dependent (its extents are known once a call has run), which the legacy "
       "kestrel_trt_* interface cannot serve: give --api sessions"},
      {Described(shape_tensor),
       "input 'b' is a shape tensor (its values steer shapes), which the legacy kestrel_trt_* interface "
       "cannot serve: give --api sessions"}};
  for (const auto& [engine, message] : refused) {
    try {
      RequireLegacyServable(engine);
      ADD_FAILURE() << message;
    } catch (const ToolError& error) {
      EXPECT_EQ(error.code, kExitInput);
      EXPECT_EQ(error.message, message);
    }
  }
  RequireLegacyServable(Described(TwoProfileNet()));

  d.tensors[2].data_dependent = false;  // as 7 and 8 answer an output they cannot resolve
  EXPECT_EQ(Described(d).MaxDims(1, 5), std::vector<int>{16});
}

// Any number the table has is a type; the 4-bit ones are refused before anything runs, by name.
TEST(EngineDescription, TypesComeFromTheTableAndTheFourBitOnesAreRefused) {
  auto with_type = [](int dtype, bool input) {
    inferlet_loader::EngineDescription d = TwoProfileNet();
    d.tensors[input ? 0 : 2].dtype = dtype;
    return d;
  };
  const EngineDesc int64 = Described(with_type(8, true));
  EXPECT_EQ(int64.bindings[0].type.ReportName(), "int64");
  EXPECT_EQ(DeriveConfig(int64, {}, {}).profiles[0].inputs[0].item_size, 8);
  RequireServableTypes(int64);
  const std::pair<EngineDesc, std::string> refused[] = {
      {Described(with_type(9, true)),
       "input 'a' is of data type kINT4, which inferlet-run cannot fill or read"},
      {Described(with_type(10, false)), "output 'y' is of data type kFP4, which inferlet-run cannot read"}};
  for (const auto& [engine, message] : refused) {
    try {
      RequireServableTypes(engine);
      ADD_FAILURE() << message;
    } catch (const ToolError& e) {
      EXPECT_EQ(e.code, kExitInput);
      EXPECT_EQ(e.message, message);
    }
  }
  for (int unknown : {12, -1}) {
    try {
      Described(with_type(unknown, true));
      ADD_FAILURE() << "described type " << unknown;
    } catch (const ToolError& e) {
      EXPECT_EQ(e.message, "binding a has an unknown data type " + std::to_string(unknown));
    }
  }
}

TEST(ModelConfiguration, DerivedFromTheLargestDimensionsAndDataTypes) {
  const ModelConfig c = DeriveConfig(Described(TwoProfileNet()), {}, {});
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
  const EngineDesc e = Described(TwoProfileNet());
  const ModelConfig c =
      DeriveConfig(e, {ParseOverride("1:b=2x3x9", "--shape"), ParseOverride("y=3x8", "--shape")},
                   {ParseOverride("0:a=2", "--item-size")});
  EXPECT_EQ(c.InShapes(), (ModelConfig::Shapes{{{4, 8}, {4, 3, 5}}, {{16, 8}, {2, 3, 9}}}));
  EXPECT_EQ(c.OutShapes(), (ModelConfig::Shapes{{{3, 8}}, {{3, 8}}}));
  EXPECT_EQ(c.InItemSizes(), (ModelConfig::ItemSizes{{2, 2}, {4, 2}}));
  EXPECT_FALSE(c.profiles[0].inputs[0].ItemMatchesDType());
}

TEST(ModelConfiguration, ExtentsTheLibraryMustJudgePassThrough) {
  const ModelConfig c = DeriveConfig(
      Described(TwoProfileNet()), {ParseOverride("a=340", "--shape"), ParseOverride("y=4x0", "--shape")}, {});
  EXPECT_EQ(c.profiles[0].inputs[0].shape, std::vector<int>{340});
  EXPECT_EQ(c.profiles[0].inputs[0].SampleBytes(), -1);
  EXPECT_EQ(c.profiles[0].outputs[0].shape, (std::vector<int>{4, 0}));
}

TEST(ModelConfiguration, BadOverridesAreUsageErrors) {
  const EngineDesc e = Described(TwoProfileNet());
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
  inferlet_loader::EngineDescription open = TwoProfileNet();
  open.tensors[2].dims = {-1, -1};
  open.profiles[0].max[2] = {4, -1};
  const EngineDesc e = Described(open);
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

}  // namespace
}  // namespace inferlet_run
