// What an engine says of itself beyond its tensors (inferlet_engine_get_properties) and every tensor's
// shape at a profile's points with the outputs resolved (inferlet_engine_profile_resolved_shape): the
// answers on engines of one and two profiles, static and dynamic, what the first question costs, and
// the refusals.
#include <cudaemu.h>
#include <trt_standin.h>

#include <cstddef>
#include <set>

#include "emulator_case.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

struct PointShapes {
  std::string tensor;
  int profile;
  inferlet_shape min, opt, max;
};

struct PropertiesCase {
  std::string engine;
  int from_major;  // the first TensorRT major that builds it
  int32_t binding_count, dynamic_shapes;
  std::vector<PointShapes> shapes;  // inputs and outputs; the outputs as TensorRT resolves them
};

inline std::vector<PropertiesCase> PropertiesCases() {
  return {
      {"smoke",
       7,
       3,
       1,
       {{"in1", 0, Shape({1, 340}), Shape({10, 340}), Shape({10, 340})},
        {"out0", 0, Shape({1, 338}), Shape({10, 338}), Shape({10, 338})}}},
      {"two_profiles",
       7,
       6,
       1,
       {{"out0", 0, Shape({1, 4, 8}), Shape({4, 4, 8}), Shape({4, 4, 8})},
        {"in0", 1, Shape({1, 4, 8}), Shape({8, 4, 8}), Shape({16, 4, 8})},
        {"out0", 1, Shape({1, 4, 8}), Shape({8, 4, 8}), Shape({16, 4, 8})}}},
      {"varying_width",
       7,
       4,
       1,
       {{"smoothed", 0, Shape({1, 6}), Shape({2, 14}), Shape({4, 30})},
        {"smoothed", 1, Shape({2, 62}), Shape({4, 94}), Shape({8, 126})}}},
      {"static_batch", 7, 2, 0, {{"out0", 0, Shape({4, 8}), Shape({4, 8}), Shape({4, 8})}}},
      {"dtypes_all",
       10,
       24,
       1,
       {{"in_bf16", 0, Shape({1, 3}), Shape({2, 3}), Shape({4, 3})},
        {"out_int4", 0, Shape({1, 3}), Shape({2, 3}), Shape({4, 3})},
        {"out_e8m0", 0, Shape({1, 3}), Shape({2, 3}), Shape({4, 3})}}},
  };
}

inline void PrintTo(const PropertiesCase& c, std::ostream* out) { *out << c.engine; }

inline int32_t TensorIndex(inferlet_engine* engine, const std::string& name) {
  int32_t count = 0;
  EXPECT_TRUE(Ok(inferlet_engine_tensor_count(engine, &count)));
  for (int32_t t = 0; t < count; ++t) {
    inferlet_tensor_info info{};
    EXPECT_TRUE(Ok(inferlet_engine_tensor_info(engine, t, &info)));
    if (name == info.name) return t;
  }
  ADD_FAILURE() << "no tensor " << name;
  return 0;
}

class EnginePropertiesOnEmulator : public SessionsTest,
                                   public ::testing::WithParamInterface<PropertiesCase> {};
// Cases that make TensorRT fail or count its contexts.
class EngineDescriptionOnEmulator : public SessionsTest {};

INFERLET_EMULATOR_TEST_P(EnginePropertiesOnEmulator, NameLimitsAndEveryTensorAtEachPointOfItsProfiles) {
  const PropertiesCase& c = GetParam();
  if (INFERLET_TRT_MAJOR < c.from_major)
    GTEST_SKIP() << c.engine << " is built from TensorRT " << c.from_major;
  EngineHandle engine = LoadEngine(c.engine);
  ASSERT_TRUE(engine);
  inferlet_engine_properties properties;
  inferlet_engine_properties_init(&properties);
  ASSERT_TRUE(Ok(inferlet_engine_get_properties(engine.get(), &properties)));
  EXPECT_STREQ(properties.name, c.engine.c_str());
  EXPECT_EQ(properties.max_batch_size, 1);
  EXPECT_EQ(properties.refittable, 0);
  EXPECT_EQ(properties.binding_count, c.binding_count);
  EXPECT_EQ(properties.dynamic_shapes, c.dynamic_shapes);
  EXPECT_EQ(properties.struct_size, sizeof(inferlet_engine_properties));

  const long contexts = trt_standin_count("createExecutionContext");
  const inferlet_profile_point points[] = {INFERLET_PROFILE_MIN, INFERLET_PROFILE_OPT, INFERLET_PROFILE_MAX};
  for (const PointShapes& expected : c.shapes) {
    const int32_t index = TensorIndex(engine.get(), expected.tensor);
    const inferlet_shape* shapes[] = {&expected.min, &expected.opt, &expected.max};
    for (int k = 0; k < 3; ++k) {
      inferlet_shape shape{};
      ASSERT_TRUE(Ok(
          inferlet_engine_profile_resolved_shape(engine.get(), expected.profile, index, points[k], &shape)));
      EXPECT_EQ(ShapeText(shape), ShapeText(*shapes[k]))
          << expected.tensor << " profile " << expected.profile;
      // An input's shape is the profile's own.
      if (expected.tensor.rfind("in", 0) == 0) {
        ASSERT_TRUE(
            Ok(inferlet_engine_profile_shape(engine.get(), expected.profile, index, points[k], &shape)));
        EXPECT_EQ(ShapeText(shape), ShapeText(*shapes[k])) << expected.tensor;
      }
    }
  }
  // One context for each profile asked about, released once its answers are known.
  std::set<int> profiles;
  for (const PointShapes& expected : c.shapes) profiles.insert(expected.profile);
  EXPECT_EQ(trt_standin_count("createExecutionContext"), contexts + static_cast<long>(profiles.size()));
  EXPECT_EQ(trt_standin_count("live_contexts"), 0);
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(Engines, EnginePropertiesOnEmulator,
                                           ::testing::ValuesIn(PropertiesCases()),
                                           [](const auto& info) { return info.param.engine; });

// Where TensorRT does not call the inputs specified, the outputs keep the engine's own shape at that
// point (here the first, min); the other points are resolved.
INFERLET_EMULATOR_TEST_F(EngineDescriptionOnEmulator, OutputsTensorRtCannotResolveKeepTheEnginesShape) {
  EngineHandle engine = LoadEngine("smoke");
  ASSERT_TRUE(engine);
  // What tells TensorRT's view of the inputs: allInputDimensionsSpecified up to 8, inferShapes from 10.
  trt_standin_fail(INFERLET_TRT_MAJOR < 10 ? "allInputDimensionsSpecified" : "inferShapes", 1);
  const std::pair<inferlet_profile_point, std::string> expected[] = {{INFERLET_PROFILE_MIN, "[-1, 338]"},
                                                                     {INFERLET_PROFILE_OPT, "[10, 338]"},
                                                                     {INFERLET_PROFILE_MAX, "[10, 338]"}};
  for (const auto& [point, text] : expected) {
    inferlet_shape shape{};
    ASSERT_TRUE(Ok(inferlet_engine_profile_resolved_shape(engine.get(), 0, 2, point, &shape)));
    EXPECT_EQ(ShapeText(shape), text) << point;
  }
}

// The first question about a profile needs it free of sessions and a context; once answered, the
// profile's points are kept and later questions ask TensorRT nothing, sessions or not.
INFERLET_EMULATOR_TEST_F(EngineDescriptionOnEmulator, FirstQuestionAboutAProfileNeedsItFreeAndAContext) {
  EngineHandle engine = LoadEngine("two_profiles");
  ASSERT_TRUE(engine);
  inferlet_shape shape{};
  {
    SessionHandle session = NewSession(engine.get(), [](inferlet_session_options& o) { o.profile = 1; });
    ASSERT_TRUE(session);
    EXPECT_EQ(
        Take(inferlet_engine_profile_resolved_shape(engine.get(), 1, 2, INFERLET_PROFILE_MAX, &shape)),
        (Answer{INFERLET_PROFILE_IN_USE,
                "profile 1 is in use by another session: the engine has dynamic shapes, so each of its "
                "profiles serves one session at a time; for more sessions at once, make them on its other "
                "profiles (it has 1 more), build the engine with more profiles, or with static shapes, "
                "which any number of sessions share"}));
  }
  trt_standin_fail("createExecutionContext", 1);
  EXPECT_EQ(Take(inferlet_engine_profile_resolved_shape(engine.get(), 1, 2, INFERLET_PROFILE_MAX, &shape)),
            (Answer{INFERLET_TENSORRT_ERROR,
                    "TensorRT made no execution context to resolve profile 1's shapes (TensorRT logged no "
                    "error)"}));
  const size_t device_bytes = cudaemu_live_device_bytes();
  ASSERT_TRUE(Ok(inferlet_engine_profile_resolved_shape(engine.get(), 1, 2, INFERLET_PROFILE_MAX, &shape)));
  EXPECT_EQ(ShapeText(shape), "[16, 4, 8]");
  EXPECT_EQ(cudaemu_live_device_bytes(), device_bytes) << "the context went with the answer";
  const long contexts = trt_standin_count("createExecutionContext");
  SessionHandle session = NewSession(engine.get(), [](inferlet_session_options& o) { o.profile = 1; });
  ASSERT_TRUE(session);
  const long with_session = trt_standin_count("createExecutionContext");
  EXPECT_EQ(with_session, contexts + 1);
  ASSERT_TRUE(Ok(inferlet_engine_profile_resolved_shape(engine.get(), 1, 2, INFERLET_PROFILE_MIN, &shape)));
  EXPECT_EQ(ShapeText(shape), "[1, 4, 8]");
  EXPECT_EQ(trt_standin_count("createExecutionContext"), with_session);
}

TEST_F(SessionsTest, PropertiesAndResolvedShapesRefuseWhatTheyCannotAnswer) {
  EngineHandle engine = LoadEngine("two_profiles");
  ASSERT_TRUE(engine);
  inferlet_engine_properties properties;
  inferlet_engine_properties_init(&properties);
  inferlet_shape shape{};
  const auto invalid = [](const std::string& message) { return Answer{INFERLET_INVALID_ARGUMENT, message}; };
  EXPECT_EQ(Take(inferlet_engine_get_properties(nullptr, &properties)), invalid("engine is null"));
  EXPECT_EQ(Take(inferlet_engine_get_properties(engine.get(), nullptr)), invalid("properties is null"));
  properties.struct_size = offsetof(inferlet_engine_properties, dynamic_shapes);
  EXPECT_EQ(Take(inferlet_engine_get_properties(engine.get(), &properties)),
            invalid("properties.struct_size " + std::to_string(properties.struct_size) + " is below the " +
                    std::to_string(sizeof(inferlet_engine_properties)) + " bytes of its first version"));
  struct Cases {
    int32_t profile, tensor;
    int point;
    std::string message;
  };
  for (const Cases& c : {Cases{2, 0, 0, "profile 2 is out of range: the engine has 2 profile(s)"},
                         Cases{-1, 0, 0, "profile -1 is out of range: the engine has 2 profile(s)"},
                         Cases{0, 3, 0, "tensor index 3 is out of range: the engine has 3 tensors"},
                         Cases{1, 0, 3, "profile point 3 is not INFERLET_PROFILE_MIN, _OPT or _MAX"}}) {
    EXPECT_EQ(Take(inferlet_engine_profile_resolved_shape(
                  engine.get(), c.profile, c.tensor, static_cast<inferlet_profile_point>(c.point), &shape)),
              invalid(c.message));
  }
  EXPECT_EQ(Take(inferlet_engine_profile_resolved_shape(nullptr, 0, 0, INFERLET_PROFILE_MIN, &shape)),
            invalid("engine is null"));
  EXPECT_EQ(Take(inferlet_engine_profile_resolved_shape(engine.get(), 0, 0, INFERLET_PROFILE_MIN, nullptr)),
            invalid("shape is null"));
}

// A newer host's longer struct: the fields this library knows are written, the rest left as they were.
TEST_F(SessionsTest, PropertiesFillALongerStructAsFarAsTheyReach) {
  EngineHandle engine = LoadEngine("smoke");
  ASSERT_TRUE(engine);
  struct Newer {
    inferlet_engine_properties known;
    int64_t later;
  } newer{};
  inferlet_engine_properties_init(&newer.known);
  newer.known.struct_size = sizeof(Newer);
  newer.later = 77;
  ASSERT_TRUE(Ok(inferlet_engine_get_properties(engine.get(), &newer.known)));
  EXPECT_STREQ(newer.known.name, "smoke");
  EXPECT_EQ(newer.known.binding_count, 3);
  EXPECT_EQ(newer.known.struct_size, sizeof(Newer));
  EXPECT_EQ(newer.later, 77);
}

}  // namespace
}  // namespace inferlet_test
