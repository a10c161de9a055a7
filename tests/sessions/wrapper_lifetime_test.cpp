// What the wrapper's owners release, and when: nothing of an engine or a session is left once the
// last owner is gone, however the owners were moved; a move hands the one reference over and leaves
// an empty owner; a session keeps its engine after the host's Engine went; a session released with a
// call enqueued finishes the call first.
#include <trt_standin.h>

#include "emulator_support.h"
#include "wrapper_support.h"

namespace inferlet_test {
namespace {

using inferlet::Engine;
using inferlet::Session;
using inferlet::SessionOptions;

// What TensorRT and the emulated device hold at one moment.
struct Held {
  long engines = 0;
  long contexts = 0;
  size_t streams = 0;
  size_t events = 0;
  size_t graph_execs = 0;
  bool operator==(const Held& other) const {
    return engines == other.engines && contexts == other.contexts && streams == other.streams &&
           events == other.events && graph_execs == other.graph_execs;
  }
};

inline void PrintTo(const Held& held, std::ostream* out) {
  *out << "{engines " << held.engines << ", contexts " << held.contexts << ", streams " << held.streams
       << ", events " << held.events << ", graph execs " << held.graph_execs << "}";
}

void RunSmoke(Session& session, int rows) {
  SmokeCall call(rows);
  session.Run(call.inputs, call.outputs);
  EXPECT_TRUE(Matches(call.out0, call.Expected()));
}

struct Scope {
  std::string name;
  // Makes what the scope owns, calls peak while it all exists, and lets it go.
  std::function<void(const std::function<void()>& peak)> body;
  Held at_peak;
};

inline void PrintTo(const Scope& scope, std::ostream* out) { *out << scope.name; }

std::vector<Scope> Scopes() {
  return {
      {"AnEngine",
       [](auto& peak) {
         Engine engine = LoadWrapped("smoke");
         peak();
       },
       {1, 0, 0, 0, 0}},
      {"TwoSessionsOfOneEngine",
       [](auto& peak) {
         Engine engine = LoadWrapped("static_batch");
         Session first(engine), second(engine);
         peak();
       },
       {1, 2, 2, 2, 0}},
      {"ASessionWhoseEngineWentFirst",
       [](auto& peak) {
         Session session(LoadWrapped("smoke"));
         for (int rows : {1, 10}) RunSmoke(session, rows);
         peak();
       },
       {1, 1, 1, 1, 0}},
      {"ASessionThatCapturedAGraph",
       [](auto& peak) {
         Engine engine = LoadWrapped("smoke");
         SessionOptions options;
         options.cuda_graphs = true;
         Session session(engine, options);
         RunSmoke(session, 2);  // captured after it ran
         RunSmoke(session, 2);  // launched
         peak();
       },
       {1, 1, 1, 1, 1}},
      {"SessionsMovedAsTheirVectorGrows",
       [](auto& peak) {
         Engine engine = LoadWrapped("static_batch");
         std::vector<Session> sessions;
         for (int s = 0; s < 5; ++s) sessions.emplace_back(engine);
         peak();
       },
       {1, 5, 5, 5, 0}},
      {"OwnersMovedOntoOwnersThatHeldOthers",
       [](auto& peak) {
         Engine engine = LoadWrapped("smoke");
         Engine other = LoadWrapped("static_batch");
         Session session(other);
         Session moved(other);
         session = std::move(moved);  // the first session of static_batch goes
         engine = std::move(other);   // smoke goes; static_batch stays with its session
         peak();
       },
       {1, 1, 1, 1, 0}},
      {"OwnersMovedOntoThemselvesAndEmptyOnes",
       [](auto& peak) {
         Engine engine = LoadWrapped("smoke");
         Engine& alias = engine;
         engine = std::move(alias);
         Session session(engine);
         Session& session_alias = session;
         session = std::move(session_alias);
         Engine empty;
         Session empty_session;
         empty = Engine();
         empty_session = Session();
         RunSmoke(session, 1);
         peak();
       },
       {1, 1, 1, 1, 0}},
  };
}

class WrapperLifetimeOnEmulator : public WrapperTest, public ::testing::WithParamInterface<Scope> {
 protected:
  static Held Now() {
    return {trt_standin_count("live_engines"), trt_standin_count("live_contexts"), cudaemu_live_streams(),
            cudaemu_live_events(), cudaemu_live_graph_execs()};
  }
};

INFERLET_EMULATOR_TEST_P(WrapperLifetimeOnEmulator, NothingIsLeftOnceTheLastOwnerIsGone) {
  const Scope& scope = GetParam();
  Held at_peak;
  size_t allocations_at_peak = 0;
  scope.body([&] {
    at_peak = Now();
    allocations_at_peak = cudaemu_live_allocations();
  });
  EXPECT_EQ(at_peak, scope.at_peak);
  EXPECT_GT(allocations_at_peak, 0u);
  EXPECT_EQ(Now(), Held{});
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 0);
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(Scopes, WrapperLifetimeOnEmulator, ::testing::ValuesIn(Scopes()),
                                           [](const auto& info) { return info.param.name; });

TEST_F(WrapperTest, AMovedFromOwnerIsEmptyAndTheOneMovedToWorks) {
  Engine engine = LoadWrapped("smoke");
  Session session(engine);
  inferlet_engine* const engine_handle = engine.get();
  inferlet_session* const session_handle = session.get();

  Engine engine_moved(std::move(engine));
  Session session_moved(std::move(session));
  EXPECT_FALSE(engine);
  EXPECT_FALSE(session);
  EXPECT_EQ(engine.get(), nullptr);
  EXPECT_EQ(session.get(), nullptr);
  EXPECT_EQ(engine_moved.get(), engine_handle);
  EXPECT_EQ(session_moved.get(), session_handle);
  EXPECT_EQ(engine_moved.TensorCount(), 3);
  RunSmoke(session_moved, 3);

  engine = std::move(engine_moved);  // back into the emptied one
  EXPECT_EQ(engine.get(), engine_handle);
  EXPECT_FALSE(engine_moved);
  EXPECT_EQ(trt_standin_count("live_engines"), 1);
}

// The session's release waits for the call: pinned outputs hold its values, and nothing TensorRT had
// queued met freed memory.
TEST_F(WrapperTest, ASessionReleasedWithACallEnqueuedFinishesItFirst) {
  CallTensors pinned;
  const Tensor in0 = Pattern(4 * kSmokeInWidth, 3), in1 = Pattern(4 * kSmokeInWidth, 4);
  pinned.Input("in0", INFERLET_MEMORY_PINNED, Shape({4, kSmokeInWidth}), in0);
  pinned.Input("in1", INFERLET_MEMORY_PINNED, Shape({4, kSmokeInWidth}), in1);
  pinned.Output("out0", INFERLET_MEMORY_PINNED, 4 * kSmokeOutWidth);
  std::vector<inferlet::Input> inputs;
  for (size_t i = 0; i < 2; ++i) {
    const inferlet_tensor& c = pinned.inputs()[i];
    inputs.emplace_back(c.name, c.data, c.bytes, inferlet::Shape(c.shape), inferlet::Memory::kPinned);
  }
  std::vector<inferlet::Output> outputs{
      {"out0", pinned.outputs()[0].data, pinned.outputs()[0].bytes, inferlet::Memory::kPinned}};
  {
    Session session(LoadWrapped("smoke"));
    session.Enqueue(inputs, outputs);
  }
  EXPECT_EQ(trt_standin_count("live_engines"), 0);
  EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 0);
  EXPECT_EQ(outputs[0].shape, (inferlet::Shape{4, kSmokeOutWidth}));
  const float* out0 = static_cast<const float*>(outputs[0].data);
  EXPECT_TRUE(Matches(Tensor(out0, out0 + 4 * kSmokeOutWidth), SmokeReference(in0, in1, 4)));
}

}  // namespace
}  // namespace inferlet_test
