// CUDA graphs: the first call of a key runs plain and captures, later calls of the key launch the graph
// and leave TensorRT alone, with the same bytes as a session without graphs; a key whose graph was not
// the context's last enqueue runs plainly once, since TensorRT configures the context at each enqueue;
// the cache keeps at most its size, least recently used out first; a capture TensorRT refuses, or one in
// which TensorRT allocates, leaves its key to plain calls, with one warning, and leaves other threads'
// sessions alone; empty tensors run.
#include <trt_standin.h>

#include <cstring>
#include <thread>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

// What the emulated device and TensorRT saw of the calls so far.
struct GraphCounts {
  size_t captures, launches, execs;
  long enqueues, runs;
  static GraphCounts Now() {
    return {cudaemu_call_count("cudaStreamBeginCapture"), cudaemu_call_count("cudaGraphLaunch"),
            cudaemu_live_graph_execs(), trt_standin_count(kEnqueueCall), trt_standin_count("network_runs")};
  }
  bool operator==(const GraphCounts& o) const {
    return captures == o.captures && launches == o.launches && execs == o.execs && enqueues == o.enqueues &&
           runs == o.runs;
  }
};

inline void PrintTo(const GraphCounts& c, std::ostream* out) {
  *out << "{captures " << c.captures << ", launches " << c.launches << ", execs " << c.execs << ", enqueues "
       << c.enqueues << ", runs " << c.runs << "}";
}

// A mixed_rank call of batch rows in every memory kind: the graph then holds host staging, pinned and
// device addresses alike.
class MixedCall {
 public:
  explicit MixedCall(int rows, int seed = 1) : rows_(rows) {
    tensors_.Input("in0", INFERLET_MEMORY_HOST, Shape({rows, 8}), Pattern(rows * 8, seed));
    tensors_.Input("in1", INFERLET_MEMORY_DEVICE, Shape({rows, 4, 8}), Pattern(rows * 32, seed + 1));
    tensors_.Output("out0", INFERLET_MEMORY_PINNED, 64);
    tensors_.Output("out1", INFERLET_MEMORY_HOST, 256);
  }
  Answer Run(inferlet_session* session) {
    return Take(inferlet_session_run(session, tensors_.inputs(), 2, tensors_.outputs(), 2));
  }
  std::string Bytes() const {
    std::string bytes;
    for (size_t j = 0; j < 2; ++j) {
      const Tensor values = tensors_.Read(j);
      bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
    }
    return bytes;
  }
  ::testing::AssertionResult Right(int seed = 1) const {
    const ::testing::AssertionResult out0 =
        Matches(tensors_.Read(0), ReluReference(Pattern(rows_ * 8, seed), rows_ * 8));
    if (!out0) return out0;
    return Matches(tensors_.Read(1), HalfReference(Pattern(rows_ * 32, seed + 1), rows_ * 32));
  }

 private:
  int rows_;
  CallTensors tensors_;
};

class SessionGraphsOnEmulator : public SessionsTest {
 protected:
  SessionHandle GraphSession(inferlet_engine* engine, int cache_size = 8) {
    return NewSession(engine, [&](inferlet_session_options& o) {
      o.cuda_graphs = 1;
      o.graph_cache_size = cache_size;
    });
  }
};

INFERLET_EMULATOR_TEST_F(SessionGraphsOnEmulator, TheFirstCallCapturesAndLaterCallsLaunch) {
  EngineHandle engine = LoadEngine("mixed_rank");
  SessionHandle graphs = GraphSession(engine.get());
  ASSERT_TRUE(graphs);
  MixedCall call(3);
  ASSERT_EQ(call.Run(graphs.get()).code, INFERLET_OK);
  // One plain enqueue that ran, one recorded into the capture.
  EXPECT_EQ(GraphCounts::Now(), (GraphCounts{1, 0, 1, 2, 1}));
  EXPECT_TRUE(call.Right());
  for (int k = 0; k < 3; ++k) ASSERT_EQ(call.Run(graphs.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now(), (GraphCounts{1, 3, 1, 2, 4}));
  EXPECT_TRUE(call.Right());

  // Other inputs in the same buffers: the same key, the graph computes them.
  MixedCall other(3, 7);
  ASSERT_EQ(other.Run(graphs.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now(), (GraphCounts{2, 3, 2, 4, 5})) << "other device and pinned buffers: a new key";
  ASSERT_EQ(other.Run(graphs.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now(), (GraphCounts{2, 4, 2, 4, 6}));
  EXPECT_TRUE(other.Right(7));

  // The same bytes as a session without graphs.
  SessionHandle plain = NewSession(LoadEngine("mixed_rank").get());
  MixedCall again(3, 7);
  ASSERT_EQ(again.Run(plain.get()).code, INFERLET_OK);
  EXPECT_EQ(again.Bytes(), other.Bytes());
}

INFERLET_EMULATOR_TEST_F(SessionGraphsOnEmulator, TheCacheKeepsItsSizeReleasingTheLeastRecentlyUsed) {
  EngineHandle engine = LoadEngine("mixed_rank");
  SessionHandle session = GraphSession(engine.get(), 2);
  ASSERT_TRUE(session);
  MixedCall a(1), b(2), c(3);  // other shapes, other buffers: three keys
  for (MixedCall* call : {&a, &b, &c}) ASSERT_EQ(call->Run(session.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now().captures, 3u);
  EXPECT_EQ(cudaemu_live_graph_execs(), 2u);
  EXPECT_EQ(cudaemu_call_count("cudaGraphExecDestroy"), 1u);  // a's
  // b's graph is used (now the most recent), first by a plain call: the context was last c's.
  for (int k = 0; k < 2; ++k) ASSERT_EQ(b.Run(session.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now().launches, 1u);
  ASSERT_EQ(a.Run(session.get()).code, INFERLET_OK);  // a is captured again, in c's place
  EXPECT_EQ(GraphCounts::Now().captures, 4u);
  for (int k = 0; k < 2; ++k) ASSERT_EQ(b.Run(session.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now().launches, 2u);
  ASSERT_EQ(c.Run(session.get()).code, INFERLET_OK);  // in a's place
  EXPECT_EQ(GraphCounts::Now().captures, 5u);
  EXPECT_EQ(cudaemu_live_graph_execs(), 2u);
  EXPECT_TRUE(a.Right() && b.Right() && c.Right());
}

INFERLET_EMULATOR_TEST_F(SessionGraphsOnEmulator, ACaptureTensorRtRefusesFallsBackWithOneWarning) {
  LogRecorder log(INFERLET_LOG_WARNING);
  EngineHandle engine = LoadEngine("mixed_rank");
  SessionHandle session = GraphSession(engine.get());
  ASSERT_TRUE(session);
  trt_standin_fail(kEnqueueCall, 2);  // the enqueue recorded into the first capture
  MixedCall call(4);
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(call.Run(session.get()).code, INFERLET_OK);
    EXPECT_TRUE(call.Right());
  }
  // One capture tried; every call enqueued plainly after it.
  EXPECT_EQ(GraphCounts::Now(), (GraphCounts{1, 0, 0, 4, 3}));
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_THAT(
      log.Texts(INFERLET_LOG_WARNING),
      ::testing::ElementsAre("CUDA graph capture failed on profile 0, calls with these input shapes and "
                             "buffers run without a graph from now on: TensorRT refused to enqueue the call "
                             "(TensorRT: " +
                             std::string(kEnqueueCall) + ": injected failure)"));
  EXPECT_EQ(log.Texts(INFERLET_LOG_ERROR).size(), 1u);  // TensorRT's own
  // Another key still gets its graph.
  MixedCall other(2);
  ASSERT_EQ(other.Run(session.get()).code, INFERLET_OK);
  ASSERT_EQ(other.Run(session.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now().launches, 1u);
}

// Keys alternating on one session: a graph replays only right after a call of its own key (the context
// is then configured for it), so that the stand-in's strict mode, where a replay on a context last
// enqueued for other shapes computes NaN, sees no such replay and every result is right.
INFERLET_EMULATOR_TEST_F(SessionGraphsOnEmulator, AlternatingKeysReplayOnlyOnAContextConfiguredForThem) {
  trt_standin_set_strict(1);
  EngineHandle engine = LoadEngine("mixed_rank");
  SessionHandle session = GraphSession(engine.get());
  ASSERT_TRUE(session);
  MixedCall a(2), b(3, 5);
  struct Step {
    MixedCall* call;
    GraphCounts after;  // captures, launches, execs, enqueues, runs
  };
  const Step steps[] = {
      {&a, {1, 0, 1, 2, 1}},  // plain, then captured
      {&b, {2, 0, 2, 4, 2}},  //
      {&a, {2, 0, 2, 5, 3}},  // plain: the context was last enqueued for b
      {&a, {2, 1, 2, 5, 4}},  // launched
      {&b, {2, 1, 2, 6, 5}},  // plain
      {&b, {2, 2, 2, 6, 6}},  // launched
      {&a, {2, 2, 2, 7, 7}},  // plain
      {&b, {2, 2, 2, 8, 8}},  // plain
  };
  for (size_t k = 0; k < sizeof steps / sizeof steps[0]; ++k) {
    SCOPED_TRACE("call " + std::to_string(k));
    ASSERT_EQ(steps[k].call->Run(session.get()).code, INFERLET_OK);
    EXPECT_TRUE(steps[k].call == &a ? a.Right() : b.Right(5));
    EXPECT_EQ(GraphCounts::Now(), steps[k].after);
  }
  EXPECT_EQ(trt_standin_count("stale_graph_replays"), 0);
}

// TensorRT taking temporary memory inside the captured enqueue (the stand-in's enqueue scratch): the
// ThreadLocal capture refuses the allocation, so the key falls back to plain calls with one warning and
// no graph keeps a freed address, while a session on another thread allocating in each of its calls
// goes on unharmed.
INFERLET_EMULATOR_TEST_F(SessionGraphsOnEmulator, AnAllocationInACaptureFailsItAndSparesOtherThreads) {
  LogRecorder log(INFERLET_LOG_WARNING);
  trt_standin_set_enqueue_scratch(1);
  EngineHandle capturing_engine = LoadEngine("mixed_rank");
  EngineHandle plain_engine = LoadEngine("mixed_rank");
  SessionHandle capturing = GraphSession(capturing_engine.get());
  SessionHandle plain = NewSession(plain_engine.get());
  ASSERT_TRUE(capturing && plain);
  constexpr int kCalls = 20;
  // Made before any capture begins: filling its device input synchronizes the whole device, which a
  // capture in progress on another thread forbids.
  MixedCall other_call(4, 9);
  std::thread other([&] {
    for (int k = 0; k < kCalls; ++k) {
      ASSERT_EQ(other_call.Run(plain.get()).code, INFERLET_OK);
      EXPECT_TRUE(other_call.Right(9));
    }
  });
  MixedCall call(3);
  for (int k = 0; k < kCalls; ++k) {
    ASSERT_EQ(call.Run(capturing.get()).code, INFERLET_OK);
    EXPECT_TRUE(call.Right());
  }
  other.join();
  trt_standin_set_enqueue_scratch(0);
  EXPECT_EQ(cudaemu_call_count("cudaStreamBeginCapture"), 1u);
  EXPECT_EQ(cudaemu_call_count("cudaGraphLaunch"), 0u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_EQ(cudaemu_violations(), 0u);
  EXPECT_EQ(trt_standin_count("network_runs"), 2 * kCalls);
  EXPECT_THAT(log.Texts(INFERLET_LOG_WARNING),
              ::testing::ElementsAre(
                  "CUDA graph capture failed on profile 0, calls with these input shapes and buffers run "
                  "without a graph from now on: TensorRT refused to enqueue the call (TensorRT: " +
                  std::string(kEnqueueCall) +
                  ": cudaMalloc failed: " + cudaGetErrorString(cudaErrorStreamCaptureUnsupported) + ")"));
}

// A tensor whose largest size is 0 still gets an address of the session's (TensorRT takes none as
// null), with graphs or without, and a batch of 0 rows runs as well.
INFERLET_EMULATOR_TEST_F(SessionGraphsOnEmulator, EmptyTensorsRun) {
  EngineHandle engine = LoadEngine("empty_batch");
  for (int graphs = 0; graphs <= 1; ++graphs) {
    SCOPED_TRACE(graphs ? "graphs" : "no graphs");
    SessionHandle session = graphs ? GraphSession(engine.get()) : NewSession(engine.get());
    ASSERT_TRUE(session);
    for (int rows : {2, 0, 2}) {
      CallTensors tensors;
      tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({rows, 4}), Pattern(static_cast<size_t>(rows) * 4, 3));
      tensors.Input("none", INFERLET_MEMORY_HOST, Shape({0, 4}), Tensor());
      tensors.Output("out0", INFERLET_MEMORY_HOST, 16);
      tensors.Output("none_out", INFERLET_MEMORY_HOST, 0);
      ASSERT_EQ(Take(inferlet_session_run(session.get(), tensors.inputs(), 2, tensors.outputs(), 2)),
                Answer());
      EXPECT_EQ(ShapeText(tensors.output(0).shape), "[" + std::to_string(rows) + ", 4]");
      EXPECT_EQ(ShapeText(tensors.output(1).shape), "[0, 4]");
      Tensor expected = Pattern(static_cast<size_t>(rows) * 4, 3);
      for (float& v : expected) v = 2 * v + 1;
      EXPECT_TRUE(Matches(tensors.Read(0), expected));
    }
  }
}

}  // namespace
}  // namespace inferlet_test
