// CUDA graphs of an enqueue against the context's last configuration (strict mode: a replay of a graph
// captured for other shapes or another profile computes 0xFF bytes and is counted), the enqueue
// scratch option inside captures of each mode, and null addresses of empty tensors refused.
#include <cmath>

#include "io_support.h"

namespace trt_test {
namespace {

// out0 = 2 * in0 + 1 over [-1, 4]: batch 1..4 in profile 0, 1..8 in profile 1.
constexpr const char* kScaleNetwork = R"({
  "name": "scale_rows",
  "inputs": [{"name": "in0", "dtype": "float", "dims": [-1, 4]}],
  "outputs": [{"name": "out0", "dtype": "float", "dims": [-1, 4]}],
  "layers": [{"op": "scale", "inputs": ["in0"], "output": "out0", "a": 2, "b": 1}],
  "profiles": [{"in0": {"min": [1, 4], "opt": [2, 4], "max": [4, 4]}},
               {"in0": {"min": [1, 4], "opt": [2, 4], "max": [8, 4]}}]
})";

const char* enqueue_call() { return NV_TENSORRT_MAJOR >= 10 ? "enqueueV3" : "enqueueV2"; }

class GraphReplayTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    // Made after the emulated device's reset, which frees everything.
    in_ = std::make_unique<DeviceBuffer>(32 * sizeof(float));
    out_ = std::make_unique<DeviceBuffer>(32 * sizeof(float));
    stream_ = std::make_unique<Stream>();
    l_ = load(engine_from_json(kScaleNetwork));
    ASSERT_TRUE(l_->context);
    in_->upload(std::vector<float>(32, 3.0f));
  }
  void TearDown() override {
    trt_standin_set_enqueue_scratch(0);
    TrtTest::TearDown();
  }
  bool plain(int rows) {
    return set_shape(*l_, "in0", dims({rows, 4})) &&
           enqueue(*l_, {in_->get(), out_->get()}, stream_->get()) &&
           cudaStreamSynchronize(stream_->get()) == cudaSuccess;
  }
  // Records one enqueue (after a plain one at rows) into a graph and instantiates it.
  cudaGraphExec_t capture(int rows, cudaStreamCaptureMode mode = cudaStreamCaptureModeThreadLocal) {
    if (!plain(rows)) return nullptr;
    cudaGraph_t graph = nullptr;
    cudaGraphExec_t exec = nullptr;
    EXPECT_EQ(cudaStreamBeginCapture(stream_->get(), mode), cudaSuccess);
    EXPECT_TRUE(enqueue(*l_, {in_->get(), out_->get()}, stream_->get()));
    EXPECT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
    EXPECT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
    cudaGraphDestroy(graph);
    return exec;
  }
  // Replays exec with out0 cleared first; out0's first rows * 4 values.
  std::vector<float> replay(cudaGraphExec_t exec, int rows) {
    EXPECT_EQ(cudaMemset(out_->get(), 0, 32 * sizeof(float)), cudaSuccess);
    EXPECT_EQ(cudaGraphLaunch(exec, stream_->get()), cudaSuccess);
    EXPECT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
    return out_->download<float>(static_cast<std::size_t>(rows) * 4);
  }

  std::unique_ptr<DeviceBuffer> in_, out_;
  std::unique_ptr<Stream> stream_;
  std::unique_ptr<Loaded> l_;
};

bool all_computed(const std::vector<float>& values) {
  for (float v : values) {
    if (v != 7.0f) return false;
  }
  return true;
}

bool all_nan(const std::vector<float>& values) {
  for (float v : values) {
    if (!std::isnan(v)) return false;
  }
  return true;
}

// The context was last enqueued for other shapes, or on another profile, than the graph was captured
// for: strict mode computes nothing right and counts the replay; by default the graph computes as
// captured. An enqueue of the graph's own configuration makes it right again.
TEST_F(GraphReplayTest, AReplayAfterAnEnqueueOfAnotherConfigurationIsStaleInStrictMode) {
  struct Case {
    const char* change;
    bool switch_profile;
  };
  const Case cases[] = {{"other shapes", false}, {"another profile", true}};
  for (int strict = 0; strict <= 1; ++strict) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.change) + (strict ? ", strict" : ", default"));
      trt_standin_reset();
      trt_standin_set_strict(strict);
      ASSERT_TRUE(select_profile(*l_, 0, stream_->get()));
      cudaGraphExec_t exec = capture(2);
      ASSERT_NE(exec, nullptr);
      EXPECT_TRUE(all_computed(replay(exec, 2))) << "the context's last enqueue is the graph's";
      if (c.switch_profile) {
        ASSERT_TRUE(select_profile(*l_, 1, stream_->get()));
      }
      ASSERT_TRUE(plain(c.switch_profile ? 2 : 3));
      const std::vector<float> stale = replay(exec, 2);
      EXPECT_EQ(all_nan(stale), strict == 1);
      EXPECT_EQ(all_computed(stale), strict == 0);
      EXPECT_EQ(trt_standin_count("stale_graph_replays"), strict);

      if (c.switch_profile) {
        ASSERT_TRUE(select_profile(*l_, 0, stream_->get()));
      }
      ASSERT_TRUE(plain(2));
      EXPECT_TRUE(all_computed(replay(exec, 2)));
      EXPECT_EQ(trt_standin_count("stale_graph_replays"), strict);
      EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
    }
  }
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0);
}

// A graph captured last configures the context too: replaying an older graph after it is stale.
TEST_F(GraphReplayTest, ACapturedEnqueueConfiguresTheContext) {
  trt_standin_set_strict(1);
  cudaGraphExec_t two = capture(2);
  cudaGraphExec_t three = capture(3);
  ASSERT_TRUE(two && three);
  EXPECT_TRUE(all_computed(replay(three, 3)));
  EXPECT_TRUE(all_nan(replay(two, 2)));
  EXPECT_EQ(trt_standin_count("stale_graph_replays"), 1);
  cudaGraphExecDestroy(two);
  cudaGraphExecDestroy(three);
}

// Global and ThreadLocal captures refuse the scratch allocation (the enqueue fails with its line, the
// capture is invalidated); outside a capture it is taken and freed within the enqueue.
TEST_F(GraphReplayTest, TheScratchOptionFailsCapturesInGlobalAndThreadLocalMode) {
  trt_standin_set_enqueue_scratch(1);
  EXPECT_EQ(trt_standin_enqueue_scratch(), 1);
  for (cudaStreamCaptureMode mode : {cudaStreamCaptureModeGlobal, cudaStreamCaptureModeThreadLocal}) {
    SCOPED_TRACE(static_cast<int>(mode));
    l_->logger.lines.clear();
    const std::size_t mallocs = cudaemu_call_count("cudaMalloc");
    ASSERT_TRUE(plain(2));
    EXPECT_EQ(cudaemu_call_count("cudaMalloc"), mallocs + 1);
    EXPECT_TRUE(all_computed(out_->download<float>(8)));
    ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), mode), cudaSuccess);
    EXPECT_FALSE(enqueue(*l_, {in_->get(), out_->get()}, stream_->get()));
    cudaGraph_t graph = nullptr;
    EXPECT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaErrorStreamCaptureInvalidated);
    EXPECT_EQ(graph, nullptr);
    EXPECT_EQ(l_->logger.only_error(), std::string(enqueue_call()) + ": cudaMalloc failed: " +
                                           cudaGetErrorString(cudaErrorStreamCaptureUnsupported));
  }
  EXPECT_EQ(cudaemu_live_device_allocations(), 2u + (cudaemu_live_component_allocations())) << "in_, out_";
}

// A Relaxed capture records the memset of memory freed before the enqueue returned: the emulated device
// refuses to instantiate the graph (a violation), as the real runtime refuses it.
TEST_F(GraphReplayTest, TheScratchOptionLeavesAFreedAddressInARelaxedCapture) {
  trt_standin_set_enqueue_scratch(1);
  ASSERT_TRUE(plain(2));
  ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeRelaxed), cudaSuccess);
  EXPECT_TRUE(enqueue(*l_, {in_->get(), out_->get()}, stream_->get()));
  cudaGraph_t graph = nullptr;
  ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
  EXPECT_EQ(cudaemu_violations(), 0u);
  cudaGraphExec_t exec = nullptr;
  EXPECT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaErrorInvalidValue);
  EXPECT_EQ(cudaemu_violations(), 1u);
  expected_violations_ = 1;
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0) << "TensorRT saw nothing wrong";
  cudaGraphDestroy(graph);
}

// Every I/O tensor needs an address, empty ones too: the stricter reading on every major.
TEST_F(GraphReplayTest, AnEmptyTensorWithoutAnAddressIsRefused) {
  auto e = load(sample_engine("empty_batch"));
  ASSERT_TRUE(e->context);
  ASSERT_TRUE(set_shape(*e, "in0", dims({0, 4})));
  ASSERT_TRUE(set_shape(*e, "none", dims({0, 4})));
  EXPECT_FALSE(enqueue(*e, {in_->get(), in_->get(), out_->get(), nullptr}, stream_->get()));
#if NV_TENSORRT_MAJOR >= 10
  EXPECT_EQ(e->logger.only_error(),
            "enqueueV3: tensor 'none_out' has no address: set every input and output with setTensorAddress");
#else
  EXPECT_EQ(e->logger.only_error(), "enqueueV2: binding 3 (none_out) is null");
#endif
  // With every address the empty call runs and copies nothing.
  const std::size_t copies = cudaemu_call_count("cudaMemcpyAsync");
  ASSERT_TRUE(enqueue(*e, {in_->get(), in_->get(), out_->get(), out_->get()}, stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), copies);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
}

}  // namespace
}  // namespace trt_test
