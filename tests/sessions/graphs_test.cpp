// CUDA graphs: the first call of a key runs plain and captures, later calls of the key launch the graph
// and leave TensorRT alone, with the same bytes as a session without graphs; the cache keeps at most
// its size, least recently used out first; a capture TensorRT refuses leaves its key to plain calls,
// with one warning.
#include <trt_standin.h>

#include <cstring>

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
  ASSERT_EQ(b.Run(session.get()).code, INFERLET_OK);          // b launches, and is now the most recent
  EXPECT_EQ(GraphCounts::Now().launches, 1u);
  ASSERT_EQ(a.Run(session.get()).code, INFERLET_OK);  // a is captured again, in c's place
  EXPECT_EQ(GraphCounts::Now().captures, 4u);
  ASSERT_EQ(b.Run(session.get()).code, INFERLET_OK);
  EXPECT_EQ(GraphCounts::Now().launches, 2u);
  ASSERT_EQ(c.Run(session.get()).code, INFERLET_OK);
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

}  // namespace
}  // namespace inferlet_test
