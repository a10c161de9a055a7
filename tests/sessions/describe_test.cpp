// Loading and describing engines: every sample's tensors, formats and profile shapes as the C interface
// gives them, the engines it refuses, and the description calls' own refusals.
#include <trt_standin.h>

#include "session_support.h"

namespace inferlet_test {
namespace {

struct Described {
  std::string name;
  int is_input;
  inferlet_shape shape;
};

struct Range {
  std::string tensor;
  int profile;
  inferlet_shape min, opt, max;
};

struct SampleDescription {
  std::string engine;
  std::vector<Described> tensors;
  std::vector<Range> ranges;  // one per input and profile
};

std::vector<SampleDescription> Samples() {
  return {
      {"smoke",
       {{"in0", 1, Shape({-1, 340})}, {"in1", 1, Shape({-1, 340})}, {"out0", 0, Shape({-1, 338})}},
       {{"in0", 0, Shape({1, 340}), Shape({10, 340}), Shape({10, 340})},
        {"in1", 0, Shape({1, 340}), Shape({10, 340}), Shape({10, 340})}}},
      {"two_profiles",
       {{"in0", 1, Shape({-1, 4, 8})}, {"in1", 1, Shape({-1, 4, 8})}, {"out0", 0, Shape({-1, 4, 8})}},
       {{"in0", 0, Shape({1, 4, 8}), Shape({4, 4, 8}), Shape({4, 4, 8})},
        {"in1", 0, Shape({1, 4, 8}), Shape({4, 4, 8}), Shape({4, 4, 8})},
        {"in0", 1, Shape({1, 4, 8}), Shape({8, 4, 8}), Shape({16, 4, 8})},
        {"in1", 1, Shape({1, 4, 8}), Shape({8, 4, 8}), Shape({16, 4, 8})}}},
      {"mixed_rank",
       {{"in0", 1, Shape({-1, 8})},
        {"in1", 1, Shape({-1, 4, 8})},
        {"out0", 0, Shape({-1, 8})},
        {"out1", 0, Shape({-1, 4, 8})}},
       {{"in0", 0, Shape({1, 8}), Shape({8, 8}), Shape({8, 8})},
        {"in1", 0, Shape({1, 4, 8}), Shape({8, 4, 8}), Shape({8, 4, 8})}}},
      {"mlp",
       {{"x", 1, Shape({-1, 16})}, {"y", 0, Shape({-1, 4})}},
       {{"x", 0, Shape({1, 16}), Shape({32, 16}), Shape({32, 16})}}},
      {"static_batch",
       {{"in0", 1, Shape({4, 8})}, {"out0", 0, Shape({4, 8})}},
       {{"in0", 0, Shape({4, 8}), Shape({4, 8}), Shape({4, 8})}}},
  };
}

void PrintTo(const SampleDescription& sample, std::ostream* out) { *out << sample.engine; }

class SessionsDescribe : public SessionsTest, public ::testing::WithParamInterface<SampleDescription> {};

TEST_P(SessionsDescribe, TensorsInTheEnginesOrderAndTheirProfileShapes) {
  const SampleDescription& expected = GetParam();
  EngineHandle engine = LoadEngine(expected.engine);
  ASSERT_TRUE(engine);
  int32_t count = -1, profiles = -1;
  ASSERT_TRUE(Ok(inferlet_engine_tensor_count(engine.get(), &count)));
  ASSERT_TRUE(Ok(inferlet_engine_profile_count(engine.get(), &profiles)));
  ASSERT_EQ(count, static_cast<int32_t>(expected.tensors.size()));
  EXPECT_EQ(profiles, expected.engine == "two_profiles" ? 2 : 1);
  for (int32_t t = 0; t < count; ++t) {
    inferlet_tensor_info info{};
    ASSERT_TRUE(Ok(inferlet_engine_tensor_info(engine.get(), t, &info)));
    EXPECT_EQ(info.name, expected.tensors[t].name);
    EXPECT_EQ(info.is_input, expected.tensors[t].is_input);
    EXPECT_EQ(ShapeText(info.shape), ShapeText(expected.tensors[t].shape)) << info.name;
    EXPECT_EQ(info.dtype, 0);  // kFLOAT
    EXPECT_EQ(info.item_size, 4);
    EXPECT_EQ(info.format, 0);  // kLINEAR
    EXPECT_EQ(info.on_host, 0);
    for (int32_t p = 0; p < profiles; ++p) {
      int32_t format = -1;
      ASSERT_TRUE(Ok(inferlet_engine_tensor_format(engine.get(), t, p, &format)));
      EXPECT_EQ(format, 0);
    }
  }
  for (const Range& range : expected.ranges) {
    int32_t index = 0;
    while (expected.tensors[index].name != range.tensor) ++index;
    const inferlet_profile_point points[] = {INFERLET_PROFILE_MIN, INFERLET_PROFILE_OPT,
                                             INFERLET_PROFILE_MAX};
    const inferlet_shape* shapes[] = {&range.min, &range.opt, &range.max};
    for (int k = 0; k < 3; ++k) {
      inferlet_shape shape{};
      ASSERT_TRUE(Ok(inferlet_engine_profile_shape(engine.get(), range.profile, index, points[k], &shape)));
      EXPECT_EQ(ShapeText(shape), ShapeText(*shapes[k])) << range.tensor << " profile " << range.profile;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, SessionsDescribe, ::testing::ValuesIn(Samples()),
                         [](const auto& info) { return info.param.engine; });

TEST_F(SessionsTest, LayoutsAndHostTensorsAreDescribedPerProfile) {
  EngineHandle per_profile = LoadEngine("layout_per_profile");
  EngineHandle host_shape = LoadEngine("host_shape");
  ASSERT_TRUE(per_profile && host_shape);
  int32_t format = -1;
  ASSERT_TRUE(Ok(inferlet_engine_tensor_format(per_profile.get(), 0, 1, &format)));
  EXPECT_EQ(format, 5);  // kCHW32
  inferlet_tensor_info info{};
  ASSERT_TRUE(Ok(inferlet_engine_tensor_info(per_profile.get(), 0, &info)));
  EXPECT_EQ(info.format, 0);  // profile 0's
  ASSERT_TRUE(Ok(inferlet_engine_tensor_info(host_shape.get(), 1, &info)));
  EXPECT_STREQ(info.name, "shape");
  EXPECT_EQ(info.on_host, 1);
  EXPECT_EQ(info.dtype, 3);  // kINT32
  EXPECT_EQ(info.item_size, 4);
}

TEST_F(SessionsTest, EnginesThatCannotBeLoadedAreRefusedWithTheReason) {
  const std::string smoke = ReadEngine("smoke");
  const std::string other = kOtherMajor ? ReadFile(std::string(INFERLET_ENGINE_DIR) + "/smoke-trt" +
                                                   std::to_string(kOtherMajor) + ".engine")
                                        : std::string();
  const std::string garbage(64, 'x');
  struct Case {
    const char* what;
    const void* bytes;
    size_t size;
    int device;
    Answer answer;
  };
  const std::string trt = std::to_string(INFERLET_TRT_MAJOR);
  std::vector<Case> cases = {
      {"null bytes", nullptr, 10, 0, {INFERLET_INVALID_ARGUMENT, "no engine bytes (bytes null, size 10)"}},
      {"no bytes", smoke.data(), 0, 0, {INFERLET_INVALID_ARGUMENT, "no engine bytes (bytes given, size 0)"}},
      {"negative device",
       smoke.data(),
       smoke.size(),
       -1,
       {INFERLET_INVALID_ARGUMENT, "device -1 is not a CUDA device: the process sees 1 device(s)"}},
      {"device past the last",
       smoke.data(),
       smoke.size(),
       1,
       {INFERLET_INVALID_ARGUMENT, "device 1 is not a CUDA device: the process sees 1 device(s)"}},
      {"not an engine",
       garbage.data(),
       garbage.size(),
       0,
       {INFERLET_ENGINE_REFUSED,
        "TensorRT " + trt +
            " could not deserialize the 64 bytes as an engine (TensorRT: deserializeCudaEngine: magic tag "
            "does not match: not an engine file)" +
            HostCodeHint()}},
  };
  if (kOtherMajor) {
    cases.push_back({"another major's engine",
                     other.data(),
                     other.size(),
                     0,
                     {INFERLET_ENGINE_REFUSED,
                      "TensorRT " + trt + " could not deserialize the " + std::to_string(other.size()) +
                          " bytes as an engine (TensorRT: deserializeCudaEngine: the "
                          "engine was built for TensorRT " +
                          std::to_string(kOtherMajor) + ", this runtime is TensorRT " + trt +
                          "; rebuild the engine)" + HostCodeHint()}});
  }
  int device_count = 0;
  ASSERT_EQ(cudaGetDeviceCount(&device_count), cudaSuccess);
  const auto load_each = [&](const char* how) {
    for (const Case& c : cases) {
      if (device_count != 1 && c.device != 0) continue;  // the messages count one device
      inferlet_engine* engine = reinterpret_cast<inferlet_engine*>(&device_count);
      EXPECT_EQ(Take(inferlet_engine_load(c.bytes, c.size, c.device, &engine)), c.answer) << c.what << how;
      EXPECT_EQ(engine, reinterpret_cast<inferlet_engine*>(&device_count)) << c.what << ": output written";
    }
  };
  {
    LogRecorder log;
    load_each(", with a log callback");
    // TensorRT's own reasons reached the log too, at its error level.
    EXPECT_THAT(log.Texts(INFERLET_LOG_ERROR),
                ::testing::Contains("deserializeCudaEngine: magic tag does not match: not an engine file"));
  }
  // The default, no callback: TensorRT's reason is in the status all the same.
  load_each(", without a log callback");
  EXPECT_EQ(Take(inferlet_engine_load(smoke.data(), smoke.size(), 0, nullptr)),
            (Answer{INFERLET_INVALID_ARGUMENT, "engine is null"}));
}

TEST_F(SessionsTest, DescriptionCallsRefuseWhatTheEngineDoesNotHave) {
  EngineHandle engine = LoadEngine("smoke");
  ASSERT_TRUE(engine);
  inferlet_tensor_info info{};
  inferlet_shape shape{};
  int32_t value = 0;
  const struct {
    const char* what;
    Answer got;
    Answer expected;
  } cases[] = {
      {"tensor 3",
       Take(inferlet_engine_tensor_info(engine.get(), 3, &info)),
       {INFERLET_INVALID_ARGUMENT, "tensor index 3 is out of range: the engine has 3 tensors"}},
      {"profile 1",
       Take(inferlet_engine_tensor_format(engine.get(), 0, 1, &value)),
       {INFERLET_INVALID_ARGUMENT, "profile 1 is out of range: the engine has 1 profile(s)"}},
      {"an output's range",
       Take(inferlet_engine_profile_shape(engine.get(), 0, 2, INFERLET_PROFILE_MAX, &shape)),
       {INFERLET_INVALID_ARGUMENT, "tensor 2 ('out0') is an output: profiles give inputs' shapes"}},
      {"point 3",
       Take(
           inferlet_engine_profile_shape(engine.get(), 0, 0, static_cast<inferlet_profile_point>(3), &shape)),
       {INFERLET_INVALID_ARGUMENT, "profile point 3 is not INFERLET_PROFILE_MIN, _OPT or _MAX"}},
      {"null engine",
       Take(inferlet_engine_tensor_count(nullptr, &value)),
       {INFERLET_INVALID_ARGUMENT, "engine is null"}},
      {"null count",
       Take(inferlet_engine_profile_count(engine.get(), nullptr)),
       {INFERLET_INVALID_ARGUMENT, "count is null"}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
  EXPECT_EQ(inferlet_tensorrt_major(), INFERLET_TRT_MAJOR);
  EXPECT_EQ(inferlet_status_code(nullptr), INFERLET_OK);
  EXPECT_STREQ(inferlet_status_message(nullptr), "");
}

}  // namespace
}  // namespace inferlet_test
