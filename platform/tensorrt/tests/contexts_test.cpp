// Several execution contexts of one engine, each on its own stream (and thread), and strict mode's
// report of two contexts of a dynamic-shape engine with networks queued on one profile at once.
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"  // setOptimizationProfile, as in real use
#endif

namespace trt_test {
namespace {

// out0 = 2 * in0 + 1 over [batch, 8]; four profiles of batch 1..4.
constexpr const char* kDynamic = R"({
  "name": "four_profiles",
  "inputs": [{"name": "in0", "dtype": "float", "dims": [-1, 8]}],
  "outputs": [{"name": "out0", "dtype": "float", "dims": [-1, 8]}],
  "layers": [{"op": "scale", "inputs": ["in0"], "output": "out0", "a": 2, "b": 1}],
  "profiles": [{"in0": {"min": [1, 8], "opt": [2, 8], "max": [4, 8]}},
               {"in0": {"min": [1, 8], "opt": [2, 8], "max": [4, 8]}},
               {"in0": {"min": [1, 8], "opt": [2, 8], "max": [4, 8]}},
               {"in0": {"min": [1, 8], "opt": [2, 8], "max": [4, 8]}}]
})";
// The same with every input pinned by its one profile.
constexpr const char* kStatic = R"({
  "name": "pinned",
  "inputs": [{"name": "in0", "dtype": "float", "dims": [4, 8]}],
  "outputs": [{"name": "out0", "dtype": "float", "dims": [4, 8]}],
  "layers": [{"op": "scale", "inputs": ["in0"], "output": "out0", "a": 2, "b": 1}],
  "profiles": [{"in0": {"min": [4, 8], "opt": [4, 8], "max": [4, 8]}}]
})";
constexpr std::size_t kBytes = 4 * 8 * sizeof(float);
constexpr std::size_t kSlot = 256;  // tensor addresses are 256-byte aligned

#if NV_TENSORRT_MAJOR >= 10
constexpr const char* kEnqueueCall = "enqueueV3";
bool use_profile(nvinfer1::IExecutionContext& c, int32_t profile, cudaStream_t s) {
  return c.setOptimizationProfileAsync(profile, s) && cudaStreamSynchronize(s) == cudaSuccess;
}
bool set_batch(nvinfer1::IExecutionContext& c, int32_t batch) {
  return c.setInputShape("in0", dims({batch, 8}));
}
bool enqueue(nvinfer1::IExecutionContext& c, void* in, void* out, cudaStream_t s) {
  return c.setTensorAddress("in0", in) && c.setTensorAddress("out0", out) && c.enqueueV3(s);
}
#else
constexpr const char* kEnqueueCall = "enqueueV2";
bool use_profile(nvinfer1::IExecutionContext& c, int32_t profile, cudaStream_t /*s*/) {
  return c.setOptimizationProfile(profile);
}
bool set_batch(nvinfer1::IExecutionContext& c, int32_t batch) {
  return c.setBindingDimensions(2 * c.getOptimizationProfile(), dims({batch, 8}));
}
bool enqueue(nvinfer1::IExecutionContext& c, void* in, void* out, cudaStream_t s) {
  std::vector<void*> bindings(static_cast<std::size_t>(c.getEngine().getNbBindings()), nullptr);
  bindings[2 * c.getOptimizationProfile()] = in;
  bindings[2 * c.getOptimizationProfile() + 1] = out;
  return c.enqueueV2(bindings.data(), s, nullptr);
}
#endif

std::string shared_profile_line(int profile) {
  return std::string(kEnqueueCall) +
         ": another execution context of this engine has a network queued on optimization profile " +
         std::to_string(profile) +
         " that has not run yet: with dynamic shapes, execution contexts in concurrent use need separate "
         "optimization profiles";
}

// TensorRT requires the logger to be thread safe.
class SharedLogger : public nvinfer1::ILogger {
 public:
  void log(Severity severity, const char* msg) noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (severity == Severity::kERROR) errors_.emplace_back(msg);
  }
  std::vector<std::string> errors() {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> errors_;
};

class ContextsTest : public TrtTest {
 protected:
  void load_engine(const char* json) {
    runtime_.reset(nvinfer1::createInferRuntime(logger_));
    ASSERT_TRUE(runtime_);
    const std::vector<unsigned char> bytes = engine_from_json(json);
    engine_.reset(runtime_->deserializeCudaEngine(bytes.data(), bytes.size()));
    ASSERT_TRUE(engine_);
  }
  void TearDown() override {
    engine_.reset();
    runtime_.reset();
    TrtTest::TearDown();
  }

  SharedLogger logger_;
  TrtPtr<nvinfer1::IRuntime> runtime_;
  TrtPtr<nvinfer1::ICudaEngine> engine_;
};

// One context per thread, each made on its thread, on its own profile and non-blocking stream, with its
// own buffers: every result is its own, and no use is reported.
TEST_F(ContextsTest, ManyContextsOnTheirOwnProfilesStreamsAndThreads) {
  trt_standin_set_strict(1);
  load_engine(kDynamic);
  constexpr int kThreads = 4;
  constexpr int kRounds = 20;
  std::vector<int32_t> initial(kThreads, -2);
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  std::atomic<int> ready{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // All at once, so that the creations overlap.
      ++ready;
      while (ready < kThreads) std::this_thread::yield();
      TrtPtr<nvinfer1::IExecutionContext> context(engine_->createExecutionContext());
      cudaStream_t s = nullptr;
      void* dev = nullptr;
      void* pinned = nullptr;
      if (!context || cudaStreamCreateWithFlags(&s, cudaStreamNonBlocking) != cudaSuccess ||
          cudaMalloc(&dev, 2 * kSlot) != cudaSuccess || cudaMallocHost(&pinned, 2 * kSlot) != cudaSuccess) {
        ++failures[t];
        return;
      }
      initial[t] = context->getOptimizationProfile();
      if (!use_profile(*context, t, s)) ++failures[t];
      auto* host = static_cast<float*>(pinned);
      void* out = static_cast<char*>(dev) + kSlot;
      float* back = host + kSlot / sizeof(float);
      for (int r = 0; r < kRounds && failures[t] == 0; ++r) {
        const int batch = 1 + r % 4;
        for (int i = 0; i < batch * 8; ++i) host[i] = static_cast<float>(t * 1000 + r * 10 + i % 8);
        bool ok = set_batch(*context, batch) &&
                  cudaMemcpyAsync(dev, host, kBytes, cudaMemcpyHostToDevice, s) == cudaSuccess &&
                  enqueue(*context, dev, out, s) &&
                  cudaMemcpyAsync(back, out, kBytes, cudaMemcpyDeviceToHost, s) == cudaSuccess &&
                  cudaStreamSynchronize(s) == cudaSuccess;
        for (int i = 0; ok && i < batch * 8; ++i) ok = back[i] == 2 * host[i] + 1;
        if (!ok) ++failures[t];
      }
      context.reset();
      if (cudaFreeHost(pinned) || cudaFree(dev) || cudaStreamDestroy(s)) ++failures[t];
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
#if NV_TENSORRT_MAJOR >= 10
  EXPECT_EQ(initial, std::vector<int32_t>(kThreads, 0)) << "every context starts on profile 0";
#else
  EXPECT_EQ(std::count(initial.begin(), initial.end(), 0), 1) << "only the first context gets profile 0";
  EXPECT_EQ(std::count(initial.begin(), initial.end(), -1), kThreads - 1);
#endif
  EXPECT_EQ(trt_standin_count("network_runs"), kThreads * kRounds);
  EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), 0);
  EXPECT_EQ(trt_standin_count("live_contexts"), 0);
  EXPECT_EQ(logger_.errors(), std::vector<std::string>{});
}

// "At the same time" is two contexts with networks queued outside a capture, not yet run, on one
// profile: reported (strict mode) by the enqueue that makes the second. The enqueue itself succeeds.
TEST_F(ContextsTest, TwoContextsWithNetworksQueuedOnOneProfileAreReportedInStrictMode) {
  for (int strict : {0, 1}) {
    SCOPED_TRACE(strict ? "strict" : "default");
    cudaemu_reset();
    trt_standin_reset();
    trt_standin_set_strict(strict);
    load_engine(kDynamic);
    TrtPtr<nvinfer1::IExecutionContext> a(engine_->createExecutionContext());
    TrtPtr<nvinfer1::IExecutionContext> b(engine_->createExecutionContext());
    ASSERT_TRUE(a && b);
    Stream sa, sb;
    DeviceBuffer in_a(kBytes), out_a(kBytes), in_b(kBytes), out_b(kBytes);
    ASSERT_TRUE(use_profile(*b, 0, sb.get()));
    ASSERT_TRUE(set_batch(*a, 2) && set_batch(*b, 2));
    const long reported = strict ? 1 : 0;

    ASSERT_TRUE(enqueue(*a, in_a.get(), out_a.get(), sa.get()));
    ASSERT_TRUE(enqueue(*b, in_b.get(), out_b.get(), sb.get()));
    EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), reported);
    EXPECT_EQ(logger_.errors(),
              strict ? std::vector<std::string>{shared_profile_line(0)} : std::vector<std::string>{});
    // Once a's network ran, b's queued one overlaps nothing; a's next one overlaps b's.
    ASSERT_EQ(cudaStreamSynchronize(sa.get()), cudaSuccess);
    ASSERT_TRUE(enqueue(*b, in_b.get(), out_b.get(), sb.get()));
    EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), reported) << "two of one context's own";
    ASSERT_TRUE(enqueue(*a, in_a.get(), out_a.get(), sa.get()));
    EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), 2 * reported);
    ASSERT_EQ(cudaStreamSynchronize(sa.get()), cudaSuccess);
    ASSERT_EQ(cudaStreamSynchronize(sb.get()), cudaSuccess);

    // A captured network is not queued work, nor does the stand-in know when its graph replays.
    ASSERT_EQ(cudaStreamBeginCapture(sa.get(), cudaStreamCaptureModeGlobal), cudaSuccess);
    ASSERT_TRUE(enqueue(*a, in_a.get(), out_a.get(), sa.get()));
    cudaGraph_t graph = nullptr;
    cudaGraphExec_t exec = nullptr;
    ASSERT_EQ(cudaStreamEndCapture(sa.get(), &graph), cudaSuccess);
    ASSERT_EQ(cudaGraphInstantiate(&exec, graph, 0), cudaSuccess);
    ASSERT_EQ(cudaGraphLaunch(exec, sa.get()), cudaSuccess);
    ASSERT_TRUE(enqueue(*b, in_b.get(), out_b.get(), sb.get()));
    EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), 2 * reported);

    // On separate profiles nothing is shared, even with both queued.
    ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    ASSERT_TRUE(use_profile(*b, 1, sb.get()));
    ASSERT_TRUE(set_batch(*b, 3));
    ASSERT_TRUE(enqueue(*b, in_b.get(), out_b.get(), sb.get()));
    ASSERT_TRUE(enqueue(*a, in_a.get(), out_a.get(), sa.get()));
    EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), 2 * reported);
    ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    EXPECT_EQ(trt_standin_count("network_runs"), 8);
    EXPECT_EQ(logger_.errors().size(), static_cast<std::size_t>(2 * reported));
    EXPECT_EQ(cudaGraphExecDestroy(exec), cudaSuccess);
    EXPECT_EQ(cudaGraphDestroy(graph), cudaSuccess);
    a.reset();
    b.reset();
    engine_.reset();
  }
}

TEST_F(ContextsTest, AnEngineWithoutDynamicShapesRunsAnyNumberOfContextsOnItsProfile) {
  trt_standin_set_strict(1);
  load_engine(kStatic);
  constexpr int kContexts = 3;
  std::vector<TrtPtr<nvinfer1::IExecutionContext>> contexts;
  std::vector<std::unique_ptr<Stream>> streams;
  std::vector<std::unique_ptr<DeviceBuffer>> ins, outs;
  for (int c = 0; c < kContexts; ++c) {
    contexts.emplace_back(engine_->createExecutionContext());
    ASSERT_TRUE(contexts.back());
    streams.push_back(std::make_unique<Stream>());
    ASSERT_TRUE(use_profile(*contexts.back(), 0, streams.back()->get()));
    ins.push_back(std::make_unique<DeviceBuffer>(kBytes));
    outs.push_back(std::make_unique<DeviceBuffer>(kBytes));
    ins.back()->upload(std::vector<float>(32, static_cast<float>(c)));
  }
  for (int c = 0; c < kContexts; ++c)
    ASSERT_TRUE(enqueue(*contexts[c], ins[c]->get(), outs[c]->get(), streams[c]->get()));
  EXPECT_EQ(trt_standin_count("network_runs"), 0) << "every network still queued";
  EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), 0);
  EXPECT_EQ(logger_.errors(), std::vector<std::string>{});
  ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), kContexts);
  for (int c = 0; c < kContexts; ++c) EXPECT_EQ(outs[c]->download<float>(32)[31], 2.0f * c + 1) << c;
}

}  // namespace
}  // namespace trt_test
