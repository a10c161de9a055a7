// The runtime's own device memory: the weights an engine holds from deserialization, the activation
// memory each context holds, their sizes per profile, their failures and their device.
#include <functional>
#include <sstream>

#include "test_support.h"

namespace trt_test {
namespace {

// x [-1, 10] -> dense 3 -> h -> relu -> r (an output) -> conv1d 2 taps + bias -> c -> scale -> y.
// Weights: 30 + 3 (dense) and 2 + 1 (conv1d) floats, 144 bytes. Between layers, h and c (r is an
// output): at batch 5, 60 and 40 bytes, 256 each when rounded; at batch 100, 1200 -> 1280 and
// 800 -> 1024.
constexpr const char* kSizes = R"({"name": "sizes",
  "inputs": [{"name": "x", "dtype": "float", "dims": [-1, 10]}],
  "outputs": [{"name": "r", "dtype": "float", "dims": [-1, 3]},
              {"name": "y", "dtype": "float", "dims": [-1, 2]}],
  "layers": [
    {"op": "dense", "inputs": ["x"], "output": "h", "units": 3, "weights": {"fill": "constant", "value": 1},
     "bias": {"fill": "constant", "value": 0}},
    {"op": "relu", "inputs": ["h"], "output": "r"},
    {"op": "conv1d", "inputs": ["r"], "output": "c", "weights": [1, 1], "bias": 0.5},
    {"op": "scale", "inputs": ["c"], "output": "y", "a": 2}],
  "profiles": [{"x": {"min": [1, 10], "opt": [5, 10], "max": [5, 10]}},
               {"x": {"min": [1, 10], "opt": [50, 10], "max": [100, 10]}}]})";
constexpr std::size_t kSizesWeights = 144;
constexpr std::size_t kSizesProfile0 = 512;
constexpr std::size_t kSizesProfile1 = 2304;

// What an engine says a context needs: the largest profile's activation memory.
std::size_t context_memory(const nvinfer1::ICudaEngine& engine) {
#if NV_TENSORRT_MAJOR >= 10
  return static_cast<std::size_t>(engine.getDeviceMemorySizeV2());
#else
  return engine.getDeviceMemorySize();
#endif
}

std::vector<uintptr_t> component_allocation_sizes() {
  std::vector<uintptr_t> sizes;
  cudaemu_trace_entry e;
  for (size_t i = 0; cudaemu_trace_get(i, &e); ++i) {
    if (std::string(e.api) == "cudaemu_component_malloc" && e.result == cudaSuccess)
      sizes.push_back(e.args[1]);
  }
  return sizes;
}

class DeviceMemoryTest : public TrtTest {};

TEST_F(DeviceMemoryTest, WeightsAndActivationMemoryAreTensorRtsOwnAndLiveWithTheirObjects) {
  auto l = load(engine_from_json(kSizes));
  ASSERT_TRUE(l->context);
  EXPECT_EQ(cudaemu_live_component_allocations(), 2u);
  EXPECT_EQ(cudaemu_live_component_bytes(), kSizesWeights + kSizesProfile1)
      << "a context holds the largest profile's activation memory";
  EXPECT_EQ(cudaemu_live_device_bytes(), kSizesWeights + kSizesProfile1);
  EXPECT_EQ(component_allocation_sizes(), (std::vector<uintptr_t>{kSizesWeights, kSizesProfile1}))
      << "the weights at deserialization, then the context's activation memory";
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u) << "not the application's cudaMalloc";

  EXPECT_EQ(context_memory(*l->engine), kSizesProfile1);
#if NV_TENSORRT_MAJOR >= 10
  EXPECT_EQ(l->engine->getDeviceMemorySizeForProfileV2(0), static_cast<int64_t>(kSizesProfile0));
  EXPECT_EQ(l->engine->getDeviceMemorySizeForProfileV2(1), static_cast<int64_t>(kSizesProfile1));
  EXPECT_EQ(l->engine->getDeviceMemorySizeForProfileV2(2), -1);
  EXPECT_EQ(l->engine->getDeviceMemorySizeForProfileV2(-1), -1);
  // kON_PROFILE_CHANGE holds the memory of the profile it runs: profile 0's from creation, another's
  // from its selection on; kUSER_MANAGED holds none.
  TrtPtr<nvinfer1::IExecutionContext> on_change(
      l->engine->createExecutionContext(nvinfer1::ExecutionContextAllocationStrategy::kON_PROFILE_CHANGE));
  ASSERT_TRUE(on_change);
  EXPECT_EQ(cudaemu_live_component_bytes(), kSizesWeights + kSizesProfile1 + kSizesProfile0);
  Stream stream;
  ASSERT_TRUE(on_change->setOptimizationProfileAsync(1, stream.get()));
  EXPECT_EQ(cudaemu_live_component_bytes(), kSizesWeights + 2 * kSizesProfile1);
  ASSERT_TRUE(on_change->setOptimizationProfileAsync(0, stream.get()));
  EXPECT_EQ(cudaemu_live_component_bytes(), kSizesWeights + kSizesProfile1 + kSizesProfile0);
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  on_change.reset();
  TrtPtr<nvinfer1::IExecutionContext> user_managed(
      l->engine->createExecutionContext(nvinfer1::ExecutionContextAllocationStrategy::kUSER_MANAGED));
  ASSERT_TRUE(user_managed);
  EXPECT_EQ(cudaemu_live_component_bytes(), kSizesWeights + kSizesProfile1);
  user_managed.reset();
#else
  TrtPtr<nvinfer1::IExecutionContext> second(l->engine->createExecutionContext());
  ASSERT_TRUE(second);
  EXPECT_EQ(cudaemu_live_component_bytes(), kSizesWeights + 2 * kSizesProfile1) << "every context its own";
  second.reset();
#endif

  l->context.reset();
  EXPECT_EQ(cudaemu_live_component_bytes(), kSizesWeights);
  l->engine.reset();
  EXPECT_EQ(cudaemu_live_component_allocations(), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaemu_component_free"), NV_TENSORRT_MAJOR >= 10 ? 5u : 3u)
      << "10/11: kON_PROFILE_CHANGE's two switches free what the profile before held";
  EXPECT_EQ(cudaemu_call_count("cudaMalloc") + cudaemu_call_count("cudaFree"), 0u);
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0);
}

#if NV_TENSORRT_MAJOR >= 10
// kUSER_MANAGED: the application's memory, given with setDeviceMemoryV2, checked when given (null,
// size, alignment, strategy) and against the selected profile at every enqueueV3.
TEST_F(DeviceMemoryTest, UserManagedMemoryIsCheckedWhenGivenAndAtEachEnqueue) {
  auto l = load(engine_from_json(kSizes));
  ASSERT_TRUE(l->context);
  TrtPtr<nvinfer1::IExecutionContext> context(
      l->engine->createExecutionContext(nvinfer1::ExecutionContextAllocationStrategy::kUSER_MANAGED));
  ASSERT_TRUE(context);
  DeviceBuffer memory(kSizesProfile1 + 512);
  char* base = static_cast<char*>(memory.get());
  struct Given {
    nvinfer1::IExecutionContext* context;
    void* memory;
    int64_t size;
    const char* error;  // null: taken
  };
  const Given refusals[] = {
      {l->context.get(), base, 512,
       "setDeviceMemoryV2: the execution context holds its own activation memory: create it with "
       "ExecutionContextAllocationStrategy::kUSER_MANAGED to supply it"},
      {context.get(), base, -1, "setDeviceMemoryV2: size -1 is negative"},
      {context.get(), nullptr, 512, "setDeviceMemoryV2: memory is null with size 512: null only with size 0"},
      {context.get(), base + 256, 512, nullptr},  // the address is in the line below
  };
  for (const Given& g : refusals) {
    l->logger.lines.clear();
    g.context->setDeviceMemoryV2(g.memory, g.size);
    if (g.error) {
      EXPECT_EQ(l->logger.only_error(), g.error);
    } else {
      std::ostringstream address;
      address << static_cast<void*>(base + 256);
      EXPECT_EQ(l->logger.only_error(),
                "setDeviceMemoryV2: memory " + address.str() + " is not aligned to 512 bytes");
    }
  }

  // Enqueues on profile 1 of x [2, 10]: refused without memory and with too little, run with enough.
  Stream stream;
  ASSERT_TRUE(context->setOptimizationProfileAsync(1, stream.get()));
  ASSERT_TRUE(context->setInputShape("x", dims({2, 10})));
  TensorBuffers buffers(*l->engine, 4096);
  ASSERT_TRUE(buffers.bind(*context));
  const std::pair<int64_t, const char*> enqueues[] = {
      {-1,
       "enqueueV3: the execution context was created with kUSER_MANAGED and has no device memory: set it "
       "with setDeviceMemoryV2"},
      {kSizesProfile0,
       "enqueueV3: the device memory set with setDeviceMemoryV2 has 512 bytes, optimization "
       "profile 1 needs 2304 (getDeviceMemorySizeForProfileV2)"},
      {kSizesProfile1, nullptr},
  };
  for (const auto& e : enqueues) {
    l->logger.lines.clear();
    if (e.first >= 0) context->setDeviceMemoryV2(base, e.first);
    EXPECT_EQ(context->enqueueV3(stream.get()), e.second == nullptr);
    if (e.second) {
      EXPECT_EQ(l->logger.only_error(), e.second);
    }
  }
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 1);
  EXPECT_EQ(trt_standin_count("setDeviceMemoryV2"), 6);
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0);
}
#endif

TEST_F(DeviceMemoryTest, NothingIsTakenWithoutWeightsOrTensorsBetweenLayers) {
  // two_profiles: max(in0, in1) lies between layers, [4, 4, 8] or [16, 4, 8] floats; no weights.
  auto two = load(sample_engine("two_profiles"));
  ASSERT_TRUE(two->context);
  EXPECT_EQ(component_allocation_sizes(), (std::vector<uintptr_t>{2048}));
  EXPECT_EQ(context_memory(*two->engine), 2048u);
#if NV_TENSORRT_MAJOR >= 10
  EXPECT_EQ(two->engine->getDeviceMemorySizeForProfileV2(0), 512);
  EXPECT_EQ(two->engine->getDeviceMemorySizeForProfileV2(1), 2048);
#endif
  // static_batch: relu straight from the input to the output.
  cudaemu_trace_clear();
  auto relu = load(sample_engine("static_batch"));
  ASSERT_TRUE(relu->context);
  EXPECT_EQ(context_memory(*relu->engine), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaemu_component_malloc"), 1u) << "two_profiles' context only";
  EXPECT_EQ(cudaemu_live_component_allocations(), 1u);
}

TEST_F(DeviceMemoryTest, AFailedAllocationAnswersNullWithItsLineAndLeavesNothingBehind) {
  const std::vector<unsigned char> bytes = engine_from_json(kSizes);
  struct Case {
    const char* what;
    std::function<void()> arrange;
    bool engine_made;
    std::string line;
  };
  const std::string weights_line =
      "deserializeCudaEngine: cannot allocate 144 bytes of device memory for the weights: "
      "cudaemu_component_malloc failed: out of memory";
  const std::string activation_line =
      "createExecutionContext: cannot allocate 2304 bytes of device activation memory: "
      "cudaemu_component_malloc failed: out of memory";
  const std::vector<Case> cases = {
      {"weights, injected",
       [] { cudaemu_fail_call("cudaemu_component_malloc", 1, cudaErrorMemoryAllocation); }, false,
       weights_line},
      {"weights, device full", [] { cudaemu_set_memory_capacity(100); }, false, weights_line},
      {"activation memory, injected",
       [] { cudaemu_fail_call("cudaemu_component_malloc", 2, cudaErrorMemoryAllocation); }, true,
       activation_line},
      {"activation memory, device full", [] { cudaemu_set_memory_capacity(2000); }, true, activation_line},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cudaemu_reset();
    c.arrange();
    auto l = load(bytes);
    ASSERT_TRUE(l->runtime);
    EXPECT_EQ(l->engine != nullptr, c.engine_made);
    EXPECT_EQ(l->context, nullptr);
    EXPECT_EQ(l->logger.only_error(), c.line);
    EXPECT_EQ(trt_standin_count("live_contexts"), 0);
    EXPECT_EQ(trt_standin_count("live_engines"), c.engine_made ? 1 : 0);
    EXPECT_EQ(cudaemu_live_pinned_allocations(), 0u) << "the failed context's staging memory";
    EXPECT_EQ(cudaemu_live_component_bytes(), c.engine_made ? kSizesWeights : 0u);
    l->engine.reset();
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
  }
}

TEST_F(DeviceMemoryTest, MemoryBelongsToTheDeviceCurrentAtDeserializationAndContextCreation) {
  cudaemu_set_device_count(2);
  cudaemu_set_memory_capacity(10000);
  auto free_on = [](int device) {
    EXPECT_EQ(cudaSetDevice(device), cudaSuccess);
    size_t free = 0;
    size_t total = 0;
    EXPECT_EQ(cudaMemGetInfo(&free, &total), cudaSuccess);
    return free;
  };
  ASSERT_EQ(cudaSetDevice(1), cudaSuccess);
  const std::vector<unsigned char> bytes = engine_from_json(kSizes);
  RecordingLogger logger;
  TrtPtr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger));
  TrtPtr<nvinfer1::ICudaEngine> engine(runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
  ASSERT_TRUE(engine);
  EXPECT_EQ(free_on(1), 10000 - kSizesWeights);
  EXPECT_EQ(free_on(0), 10000u);

  TrtPtr<nvinfer1::IExecutionContext> on_zero(engine->createExecutionContext());  // device 0 current
  ASSERT_TRUE(on_zero);
  EXPECT_EQ(free_on(0), 10000 - kSizesProfile1);
  EXPECT_EQ(free_on(1), 10000 - kSizesWeights);
  on_zero.reset();
  engine.reset();
  EXPECT_EQ(free_on(1), 10000u);
  EXPECT_EQ(free_on(0), 10000u);
  EXPECT_EQ(logger.count(Severity::kERROR), 0);
}

}  // namespace
}  // namespace trt_test
