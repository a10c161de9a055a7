// Sessions and profiles: one live session per profile of an engine with dynamic shapes, given back by
// its release; any number on the one profile of an engine without; the options and tensor layouts a
// session refuses before it takes anything.
#include <trt_standin.h>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

inferlet_session_options OnProfile(int profile) {
  inferlet_session_options options;
  inferlet_session_options_init(&options);
  options.profile = profile;
  return options;
}

TEST_F(SessionsTest, ADynamicShapeEngineLendsEachProfileToOneSession) {
  EngineHandle engine = LoadEngine("two_profiles");
  ASSERT_TRUE(engine);
  SessionHandle first, second, third;
  ASSERT_EQ(TryNewSession(engine.get(), OnProfile(0), &first).code, INFERLET_OK);
  EXPECT_EQ(
      TryNewSession(engine.get(), OnProfile(0), &second),
      (Answer{
          INFERLET_PROFILE_IN_USE,
          "profile 0 is in use by another session: the engine has dynamic shapes, so each of its profiles "
          "serves one session at a time; for more sessions at once, make them on its other profiles (it has "
          "1 more), build the engine with more profiles, or with static shapes, which any number of "
          "sessions share"}));
  EXPECT_FALSE(second);
  ASSERT_EQ(TryNewSession(engine.get(), OnProfile(1), &third).code, INFERLET_OK);
  first.reset();
  ASSERT_EQ(TryNewSession(engine.get(), OnProfile(0), &second).code, INFERLET_OK);

  // Sessions outlive the host's reference to their engine.
  engine.reset();
  CallTensors tensors;
  tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({16, 4, 8}), Pattern(512, 1));
  tensors.Input("in1", INFERLET_MEMORY_HOST, Shape({16, 4, 8}), Pattern(512, 2));
  tensors.Output("out0", INFERLET_MEMORY_HOST, 512);
  ASSERT_TRUE(Ok(inferlet_session_run(third.get(), tensors.inputs(), 2, tensors.outputs(), 1)));
  EXPECT_TRUE(Matches(tensors.Read(0), TwoProfilesReference(Pattern(512, 1), Pattern(512, 2), 16)));
  EXPECT_EQ(
      Take(inferlet_session_run(second.get(), tensors.inputs(), 2, tensors.outputs(), 1)),
      (Answer{INFERLET_SHAPE_OUT_OF_PROFILE,
              "input 'in0' shape [16, 4, 8] is outside the range of profile 0: [1, 4, 8] to [4, 4, 8]"}));
}

TEST_F(SessionsTest, AStaticEngineRunsAnyNumberOfSessionsOnItsProfile) {
  EngineHandle engine = LoadEngine("static_batch");
  std::vector<SessionHandle> sessions;
  for (int s = 0; s < 3; ++s) sessions.push_back(NewSession(engine.get()));
  std::vector<std::unique_ptr<CallTensors>> calls;
  for (size_t s = 0; s < sessions.size(); ++s) {
    ASSERT_TRUE(sessions[s]);
    calls.push_back(std::make_unique<CallTensors>());
    calls[s]->Input("in0", INFERLET_MEMORY_PINNED, Shape({4, 8}), Pattern(32, static_cast<int>(s)));
    calls[s]->Output("out0", INFERLET_MEMORY_PINNED, 32);
    ASSERT_TRUE(
        Ok(inferlet_session_enqueue(sessions[s].get(), calls[s]->inputs(), 1, calls[s]->outputs(), 1)));
  }
  for (size_t s = 0; s < sessions.size(); ++s) {
    ASSERT_TRUE(Ok(inferlet_session_wait(sessions[s].get())));
    EXPECT_TRUE(Matches(calls[s]->Read(0), ReluReference(Pattern(32, static_cast<int>(s)), 32)));
  }
}

class SessionCreationOnEmulator : public SessionsTest {};

// Refused before any memory or TensorRT object is taken.
INFERLET_EMULATOR_TEST_F(SessionCreationOnEmulator, RefusesOptionsAndTensorsItCannotServe) {
  struct Case {
    const char* engine;
    inferlet_session_options options;
    Answer answer;
  };
  inferlet_session_options no_graphs = OnProfile(0);
  no_graphs.graph_cache_size = 0;
  const std::string dense = ", not a dense row-major tensor in device memory";
  const Case cases[] = {
      {"two_profiles",
       OnProfile(2),
       {INFERLET_INVALID_ARGUMENT, "profile 2 is out of range: the engine has 2 profile(s)"}},
      {"two_profiles",
       OnProfile(-1),
       {INFERLET_INVALID_ARGUMENT, "profile -1 is out of range: the engine has 2 profile(s)"}},
      {"smoke", no_graphs, {INFERLET_INVALID_ARGUMENT, "graph_cache_size 0 is below 1"}},
      {"layout_chw4",
       OnProfile(0),
       {INFERLET_UNSUPPORTED_TENSOR, "input 'in0' of profile 0 is in format kCHW4" + dense}},
      {"layout_hwc",
       OnProfile(0),
       {INFERLET_UNSUPPORTED_TENSOR, "input 'in0' of profile 0 is in format kHWC" + dense}},
      {"layout_hwc8_out",
       OnProfile(0),
       {INFERLET_UNSUPPORTED_TENSOR, "output 'out0' of profile 0 is in format kHWC8" + dense}},
      {"layout_per_profile",
       OnProfile(1),
       {INFERLET_UNSUPPORTED_TENSOR, "input 'in0' of profile 1 is in format kCHW32" + dense}},
      // From 10 on a session serves shape tensors (value_shapes_test).
      {INFERLET_TRT_MAJOR < 10 ? "host_shape" : "layout_hwc", OnProfile(0),
       INFERLET_TRT_MAJOR < 10
           ? Answer{INFERLET_UNSUPPORTED_TENSOR, "input 'shape' of profile 0 is in host memory" + dense +
                                                     " (a shape tensor: served from TensorRT 10 on)"}
           : Answer{INFERLET_UNSUPPORTED_TENSOR, "input 'in0' of profile 0 is in format kHWC" + dense}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.engine);
    EngineHandle engine = LoadEngine(c.engine);
    const DeviceCounts before = DeviceCounts::Now();
    const long contexts = trt_standin_count("createExecutionContext");
    SessionHandle session;
    EXPECT_EQ(TryNewSession(engine.get(), c.options, &session), c.answer);
    EXPECT_FALSE(session);
    EXPECT_EQ(DeviceCounts::Now(), before);
    EXPECT_EQ(trt_standin_count("createExecutionContext"), contexts);
  }
  // The other profile of layout_per_profile is dense.
  EngineHandle per_profile = LoadEngine("layout_per_profile");
  EXPECT_TRUE(NewSession(per_profile.get()));
  inferlet_session* untouched = reinterpret_cast<inferlet_session*>(&no_graphs);
  EXPECT_EQ(Take(inferlet_session_create(nullptr, nullptr, &untouched)),
            (Answer{INFERLET_INVALID_ARGUMENT, "engine is null"}));
  EXPECT_EQ(untouched, reinterpret_cast<inferlet_session*>(&no_graphs));
}

// An output that TensorRT writes into an input's memory (11) is refused when the session is made,
// naming the input: a call's inputs are the host's, staged or read in place, never written.
INFERLET_EMULATOR_TEST_F(SessionCreationOnEmulator, AnOutputAliasingAnInputIsRefused) {
  if (INFERLET_TRT_MAJOR < 11) GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " has no aliased outputs";
  EngineHandle engine = LoadEngine("aliased_output");
  ASSERT_TRUE(engine);
  const DeviceCounts before = DeviceCounts::Now();
  SessionHandle session;
  EXPECT_EQ(TryNewSession(engine.get(), OnProfile(0), &session),
            (Answer{INFERLET_UNSUPPORTED_TENSOR,
                    "output 'out0' aliases input 'in0' (TensorRT writes it into that "
                    "input's memory), which this library does not serve"}));
  EXPECT_FALSE(session);
  EXPECT_EQ(DeviceCounts::Now(), before);
  EXPECT_EQ(trt_standin_count("createExecutionContext"), 0);
}

}  // namespace
}  // namespace inferlet_test
