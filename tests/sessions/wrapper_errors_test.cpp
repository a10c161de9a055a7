// Failures through the wrapper: each one thrown as an inferlet::Error with the library's code and
// message (or the wrapper's own), and where there is a Try... form, answered by it in the same words
// without a throw and with its target left as it was.
#include <trt_standin.h>

#include "wrapper_support.h"

namespace inferlet_test {
namespace {

using inferlet::Code;
using inferlet::Engine;
using inferlet::Session;
using inferlet::SessionOptions;
using inferlet::Status;

// What a case starts from: smoke, with a session, and two_profiles, whose profiles serve one session
// at a time.
struct Ground {
  Engine smoke = LoadWrapped("smoke");
  Engine two_profiles = LoadWrapped("two_profiles");
  Session session{smoke};
  SmokeCall call{2};
};

struct Failure {
  std::string name;
  std::function<void(Ground&)> act;
  std::function<Status(Ground&)> attempt;  // the Try... form of act, where there is one
  Code code;
  std::string message;
};

void PrintTo(const Failure& failure, std::ostream* out) { *out << failure.name; }

SessionOptions OnProfile(int32_t profile) {
  SessionOptions options;
  options.profile = profile;
  return options;
}

// TryLoad and TryCreate on a target that already holds something: a refusal leaves it holding it.
Status TryLoadOver(const std::string& bytes) {
  Engine target = LoadWrapped("mlp");
  inferlet_engine* const held = target.get();
  Status status = Engine::TryLoad(bytes.data(), bytes.size(), 0, &target);
  EXPECT_EQ(target.get(), held);
  return status;
}

Status TryCreateOver(const Engine& engine, const SessionOptions& options) {
  Session target(LoadWrapped("static_batch"));
  inferlet_session* const held = target.get();
  Status status = Session::TryCreate(engine, options, &target);
  EXPECT_EQ(target.get(), held);
  return status;
}

std::vector<Failure> Failures() {
  const std::string trt = std::to_string(INFERLET_TRT_MAJOR);
  const std::string garbage(32, 'x');
  const std::string in_use =
      "profile 0 is in use by another session: the engine has dynamic shapes, so each of its profiles "
      "serves one session at a time; for more sessions at once, make them on its other profiles (it has "
      "1 more), build the engine with more profiles, or with static shapes, which any number of sessions "
      "share";
  return {
      {"BytesThatAreNoEngine", [=](Ground&) { Engine::Load(garbage); },
       [=](Ground&) { return TryLoadOver(garbage); }, Code::kEngineRefused,
       "TensorRT " + trt +
           " could not deserialize the 32 bytes as an engine (TensorRT: deserializeCudaEngine: magic tag "
           "does "
           "not match: not an engine file)" +
           HostCodeHint()},
      {"NoEngineBytes", [](Ground&) { Engine::Load(std::string()); },
       [](Ground&) { return TryLoadOver(std::string()); }, Code::kInvalidArgument,
       "no engine bytes (bytes given, size 0)"},
      {"AFileThatCannotBeRead", [](Ground&) { Engine::LoadFile("/nonexistent/smoke.engine"); }, nullptr,
       Code::kInvalidArgument, "cannot read engine file '/nonexistent/smoke.engine'"},
      {"AProfileTheEngineLacks", [](Ground& g) { Session(g.smoke, OnProfile(1)); },
       [](Ground& g) { return TryCreateOver(g.smoke, OnProfile(1)); }, Code::kInvalidArgument,
       "profile 1 is out of range: the engine has 1 profile(s)"},
      {"AProfileInUse",
       [](Ground& g) {
         Session first(g.two_profiles);
         Session second(g.two_profiles);
       },
       [](Ground& g) {
         Session first(g.two_profiles);
         return TryCreateOver(g.two_profiles, {});
       },
       Code::kProfileInUse, in_use},
      {"AGraphCacheOfNoGraphs",
       [](Ground& g) {
         SessionOptions options;
         options.cuda_graphs = true;
         options.graph_cache_size = 0;
         Session(g.smoke, options);
       },
       nullptr, Code::kInvalidArgument, "graph_cache_size 0 is below 1"},
      {"AnEmptyEngine", [](Ground&) { Session{Engine()}; },
       [](Ground&) { return TryCreateOver(Engine(), {}); }, Code::kInvalidArgument, "engine is null"},
      {"ATensorPastTheEngines", [](Ground& g) { g.smoke.Tensor(3); }, nullptr, Code::kInvalidArgument,
       "tensor index 3 is out of range: the engine has 3 tensors"},
      {"AnOutputsProfileShapes", [](Ground& g) { g.smoke.ProfileShapes(0, 2); }, nullptr,
       Code::kInvalidArgument, "tensor 2 ('out0') is an output: profiles give inputs' shapes"},
      {"AFormatOfAProfileTheEngineLacks", [](Ground& g) { g.smoke.TensorFormat(0, 1); }, nullptr,
       Code::kInvalidArgument, "profile 1 is out of range: the engine has 1 profile(s)"},
      {"AMovedFromEngine",
       [](Ground& g) {
         Engine taken = std::move(g.smoke);
         g.smoke.DeviceMemory();
       },
       nullptr, Code::kInvalidArgument, "engine is null"},
      {"AShapeOutsideTheProfile",
       [](Ground& g) {
         g.call.inputs[0].shape = {11, kSmokeInWidth};
         g.session.Run(g.call.inputs, g.call.outputs);
       },
       [](Ground& g) {
         g.call.inputs[0].shape = {11, kSmokeInWidth};
         return g.session.TryRun(g.call.inputs, g.call.outputs);
       },
       Code::kShapeOutOfProfile,
       "input 'in0' shape [11, 340] is outside the range of profile 0: [1, 340] to [10, 340]"},
      {"AnOutputTooSmall",
       [](Ground& g) {
         g.call.outputs[0].bytes -= 4;
         g.session.Enqueue(g.call.inputs, g.call.outputs);
       },
       [](Ground& g) {
         g.call.outputs[0].bytes -= 4;
         return g.session.TryEnqueue(g.call.inputs, g.call.outputs);
       },
       Code::kBufferTooSmall, "output 'out0' has 2700 bytes, its shape [2, 338] takes 2704"},
      {"AnInputMissing",
       [](Ground& g) {
         g.call.inputs.pop_back();
         g.session.Run(g.call.inputs, g.call.outputs);
       },
       nullptr, Code::kInvalidArgument, "input 'in1' is missing"},
      {"AnEnqueueWhileACallRuns",
       [](Ground& g) {
         g.session.Enqueue(g.call.inputs, g.call.outputs);
         g.session.Run(g.call.inputs, g.call.outputs);
       },
       [](Ground& g) {
         g.session.Enqueue(g.call.inputs, g.call.outputs);
         return g.session.TryEnqueue(g.call.inputs, g.call.outputs);
       },
       Code::kBusy,
       "the session is running a call: wait for it before the next one; a session serves one call at a "
       "time, so threads that call at once need a session each (sessions of one engine run at once)"},
      {"AWaitWithNoCall", [](Ground& g) { g.session.Wait(); }, [](Ground& g) { return g.session.TryWait(); },
       Code::kNotRunning, "the session has no call enqueued"},
      {"AnEventWithNoCall", [](Ground& g) { g.session.Event(); }, nullptr, Code::kNotRunning,
       "the session has no call enqueued"},
      {"TensorRtRefusingTheEnqueue",
       [](Ground& g) {
         trt_standin_fail(kEnqueueCall, 1);
         g.session.Run(g.call.inputs, g.call.outputs);
       },
       [](Ground& g) {
         trt_standin_fail(kEnqueueCall, 1);
         return g.session.TryRun(g.call.inputs, g.call.outputs);
       },
       Code::kTensorRtError,
       "TensorRT refused to enqueue the call (TensorRT: " + std::string(kEnqueueCall) +
           ": injected failure)"},
      {"AMovedFromSession",
       [](Ground& g) {
         Session taken = std::move(g.session);
         g.session.Run(g.call.inputs, g.call.outputs);
       },
       [](Ground& g) {
         Session taken = std::move(g.session);
         return g.session.TryRun(g.call.inputs, g.call.outputs);
       },
       Code::kInvalidArgument, "session is null"},
      {"AShapeOfNineDimensions", [](Ground&) { inferlet::Shape{1, 2, 3, 4, 5, 6, 7, 8, 9}; }, nullptr,
       Code::kInvalidArgument, "a shape has at most 8 dimensions, not 9"},
  };
}

class WrapperFailure : public WrapperTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(WrapperFailure, IsThrownWithTheCodeAndMessageAndAnsweredByTheTryForm) {
  const Failure& failure = GetParam();
  const Thrown expected{failure.code, failure.message};
  {
    Ground ground;
    EXPECT_EQ(ThrownBy([&] { failure.act(ground); }), expected);
  }
  if (failure.attempt) {
    Ground ground;
    Thrown answered;
    EXPECT_EQ(ThrownBy([&] { answered = Answered(failure.attempt(ground)); }), Thrown{})
        << "the Try form threw";
    EXPECT_EQ(answered, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Failures, WrapperFailure, ::testing::ValuesIn(Failures()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace inferlet_test
