// Outputs of data-dependent extent (the test network data_dependent: out0 = keep_positive(in0) [-1],
// out1 = 2 * in0 [-1, 4]): IOutputAllocator, getMaxOutputSize, the shapes the context answers and each
// refusal of enqueueV3.
#include <cstdint>
#include <string>
#include <vector>

#include "output_allocator.h"
#include "test_support.h"

namespace trt_test {
namespace {

class OutputsTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(sample_engine("data_dependent"));
    ASSERT_TRUE(l_->context);
    stream_ = std::make_unique<Stream>();
    in0_ = std::make_unique<DeviceBuffer>(16 * 4);
    out1_ = std::make_unique<DeviceBuffer>(16 * 4);
  }
  // in0 of `rows` rows of 4 values, with the addresses of in0 and out1 set.
  void set_input(const std::vector<float>& values) {
    ASSERT_TRUE(l_->context->setInputShape("in0", dims({static_cast<int32_t>(values.size() / 4), 4})));
    in0_->upload(values);
    ASSERT_TRUE(l_->context->setTensorAddress("in0", in0_->get()));
    ASSERT_TRUE(l_->context->setTensorAddress("out1", out1_->get()));
  }
  nvinfer1::IExecutionContext& context() { return *l_->context; }

  std::unique_ptr<Loaded> l_;
  std::unique_ptr<Stream> stream_;
  std::unique_ptr<DeviceBuffer> in0_, out1_;
};

const std::vector<float> kMixed = {1, -2, 3, 0, -1, 5, -6, 7};  // two rows; 1, 3, 5 and 7 are kept

TEST_F(OutputsTest, ShapesAndMaxOutputSizes) {
  EXPECT_EQ(extents(l_->engine->getTensorShape("out0")), (std::vector<int32_t>{-1}));
  for (const char* name : {"out0", "out1", "in0", "none"})
    EXPECT_EQ(context().getMaxOutputSize(name), -1) << name;
  EXPECT_EQ(extents(context().getTensorShape("out0")), (std::vector<int32_t>{-1}));
  ASSERT_TRUE(context().setInputShape("in0", dims({3, 4})));
  // "A dimension in an output tensor will have a -1 wildcard value if the dimension depends on values".
  EXPECT_EQ(extents(context().getTensorShape("out0")), (std::vector<int32_t>{-1}));
  EXPECT_EQ(extents(context().getTensorShape("out1")), (std::vector<int32_t>{3, 4}));
  EXPECT_EQ(context().getMaxOutputSize("out0"), 3 * 4 * 4) << "every element kept";
  EXPECT_EQ(context().getMaxOutputSize("out1"), 3 * 4 * 4);
  EXPECT_EQ(context().getMaxOutputSize("in0"), -1);
  EXPECT_EQ(context().getMaxOutputSize(nullptr), -1);
}

TEST_F(OutputsTest, AllocatorsAreAskedAndToldTheShapeBeforeEnqueueReturns) {
  struct Case {
    std::vector<float> in0;
    std::vector<float> kept;
    uint64_t size;  // asked of the allocator: positive even for an empty tensor
  };
  const Case cases[] = {
      {kMixed, {1, 3, 5, 7}, 16}, {{-1, 0, -2, -3}, {}, 1}, {{4, 3, 2, 1}, {4, 3, 2, 1}, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kept.size());
    trt_standin_reset();
    RecordingAllocator kept_allocator, scaled_allocator;
    set_input(c.in0);
    ASSERT_TRUE(context().setTensorAddress("out1", nullptr));
    ASSERT_TRUE(context().setOutputAllocator("out0", &kept_allocator));
    ASSERT_TRUE(context().setOutputAllocator("out1", &scaled_allocator));
    EXPECT_EQ(context().getOutputAllocator("out0"), &kept_allocator);
    ASSERT_TRUE(context().enqueueV3(stream_->get()));
    const std::string rows = std::to_string(c.in0.size() / 4);
    EXPECT_EQ(kept_allocator.calls,
              (std::vector<std::string>{"reallocate out0 " + std::to_string(c.size) + " 256",
                                        "notify out0 [" + std::to_string(c.kept.size()) + "]"}));
    EXPECT_EQ(scaled_allocator.calls,
              (std::vector<std::string>{"reallocate out1 " + std::to_string(c.in0.size() * 4) + " 256",
                                        "notify out1 [" + rows + ", 4]"}));
    EXPECT_EQ(kept_allocator.current, std::vector<void*>{nullptr}) << "no address was set";
    EXPECT_EQ(kept_allocator.streams, std::vector<cudaStream_t>{stream_->get()});
    ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
    EXPECT_EQ(kept_allocator.last().download<float>(c.kept.size()), c.kept);
    std::vector<float> doubled;
    for (float v : c.in0) doubled.push_back(2 * v);
    EXPECT_EQ(scaled_allocator.last().download<float>(c.in0.size()), doubled);
    EXPECT_EQ(trt_standin_count("data_dependent_waits"), 1);
    EXPECT_EQ(trt_standin_count("network_runs"), 1);
  }
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0);
  EXPECT_EQ(cudaemu_pending_work(), 0u);
}

TEST_F(OutputsTest, AnAddressGivesTheAllocatorItsCurrentMemory) {
  RecordingAllocator allocator;
  DeviceBuffer preallocated(16 * 4);
  set_input(kMixed);
  ASSERT_TRUE(context().setTensorAddress("out0", preallocated.get()));
  ASSERT_TRUE(context().setOutputAllocator("out0", &allocator));
  ASSERT_TRUE(context().enqueueV3(stream_->get()));
  EXPECT_EQ(allocator.current, std::vector<void*>{preallocated.get()});
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(allocator.last().download<float>(4), (std::vector<float>{1, 3, 5, 7}));
}

TEST_F(OutputsTest, AnAddressWithoutAllocatorTakesTheUpperBoundWithoutWaiting) {
  DeviceBuffer out0(8 * 4);  // exactly getMaxOutputSize for two rows
  out0.upload(std::vector<float>(8, 9.0f));
  set_input(kMixed);
  ASSERT_EQ(context().getMaxOutputSize("out0"), 32);
  ASSERT_TRUE(context().setTensorAddress("out0", out0.get()));
  ASSERT_TRUE(context().enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(out0.download<float>(8), (std::vector<float>{1, 3, 5, 7, 0, 0, 0, 0}))
      << "zeros past the elements";
  EXPECT_EQ(trt_standin_count("data_dependent_waits"), 0);
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0);
}

TEST_F(OutputsTest, EnqueueRefusals) {
  enum class Setup { kNothing, kNullAllocator, kMisalignedAllocator, kSmallAddress, kCapture };
  struct Case {
    Setup setup;
    std::string line;  // after "enqueueV3: "; a prefix where an address follows
    long waits;
    uint64_t violations;
  };
  const Case cases[] = {
      {Setup::kNothing,
       "tensor 'out0' has neither an address nor an output allocator: its shape depends on the values "
       "computed, "
       "set one with setTensorAddress or setOutputAllocator",
       0, 0},
      {Setup::kNullAllocator, "the output allocator of tensor 'out0' returned null for 16 bytes", 1, 0},
      {Setup::kMisalignedAllocator, "the output allocator of tensor 'out0' returned 0x", 1, 0},
      {Setup::kSmallAddress, "cudaMemcpyAsync failed: invalid argument", 0, 1},
      {Setup::kCapture,
       "the network computes data-dependent shapes, which cannot be captured into a CUDA graph: enqueue it "
       "outside the capture",
       0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    trt_standin_reset();
    const uint64_t violations_before = cudaemu_violations();
    l_ = load(sample_engine("data_dependent"));  // a fresh context and log per case
    ASSERT_TRUE(l_->context);
    RecordingAllocator allocator(c.setup == Setup::kNullAllocator ? RecordingAllocator::Answer::kNull
                                                                  : RecordingAllocator::Answer::kMisaligned);
    DeviceBuffer small(7 * 4), enough(8 * 4);
    set_input(kMixed);
    if (c.setup == Setup::kNullAllocator || c.setup == Setup::kMisalignedAllocator) {
      ASSERT_TRUE(context().setOutputAllocator("out0", &allocator));
    }
    if (c.setup == Setup::kSmallAddress) {
      ASSERT_TRUE(context().setTensorAddress("out0", small.get()));
    }
    bool enqueued = false;
    if (c.setup == Setup::kCapture) {
      ASSERT_TRUE(context().setTensorAddress("out0", enough.get()));
      ASSERT_TRUE(context().enqueueV3(stream_->get()));  // lifts the capture rule of the first enqueue
      ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
      ASSERT_EQ(cudaStreamBeginCapture(stream_->get(), cudaStreamCaptureModeRelaxed), cudaSuccess);
      enqueued = context().enqueueV3(stream_->get());
      cudaGraph_t graph = nullptr;
      ASSERT_EQ(cudaStreamEndCapture(stream_->get(), &graph), cudaSuccess);
      if (graph != nullptr) cudaGraphDestroy(graph);
    } else {
      enqueued = context().enqueueV3(stream_->get());
    }
    EXPECT_FALSE(enqueued);
    EXPECT_EQ(l_->logger.only_error().rfind("enqueueV3: " + c.line, 0), 0u) << l_->logger.only_error();
    EXPECT_EQ(trt_standin_count("data_dependent_waits"), c.waits);
    EXPECT_EQ(cudaemu_violations() - violations_before, c.violations);
    expected_violations_ += c.violations;
    ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  }
}

TEST_F(OutputsTest, AllocatorsAreForOutputsAndDroppedByAProfileSwitch) {
  RecordingAllocator allocator;
  EXPECT_FALSE(context().setOutputAllocator("in0", &allocator));
  EXPECT_EQ(l_->logger.only_error(),
            "setOutputAllocator: tensor 'in0' is not an output tensor of the engine");
  EXPECT_FALSE(context().setOutputAllocator(nullptr, &allocator));
  EXPECT_EQ(l_->logger.lines.back().second,
            "setOutputAllocator: tensor (null) is not an output tensor of the engine");
  EXPECT_EQ(context().getOutputAllocator("in0"), nullptr);
  EXPECT_EQ(context().getOutputAllocator("none"), nullptr);

  ASSERT_TRUE(context().setOutputAllocator("out0", &allocator));
  ASSERT_TRUE(context().setOutputAllocator("out0", nullptr)) << "nullptr unsets";
  EXPECT_EQ(context().getOutputAllocator("out0"), nullptr);
  ASSERT_TRUE(context().setOutputAllocator("out0", &allocator));
  // As the addresses: a switch, to the same profile too, drops what was set.
  ASSERT_TRUE(context().setOptimizationProfileAsync(0, stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(context().getOutputAllocator("out0"), nullptr);

  trt_standin_fail("setOutputAllocator", 1);
  EXPECT_FALSE(context().setOutputAllocator("out0", &allocator));
  EXPECT_EQ(l_->logger.lines.back().second, "setOutputAllocator: tensor 'out0': injected failure");
  EXPECT_EQ(context().getOutputAllocator("out0"), nullptr);
  EXPECT_EQ(trt_standin_count("setOutputAllocator"), 6);
}

// Written against 9.x: only the deprecated form is overridden, which the default reallocateOutputAsync calls.
class LegacyAllocator : public nvinfer1::IOutputAllocator {
 public:
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  void* reallocateOutput(const char*, void*, uint64_t size, uint64_t) noexcept override {
    sizes.push_back(size);
    buffer = std::make_unique<DeviceBuffer>(size);
    return buffer->get();
  }
#pragma GCC diagnostic pop
  void notifyShape(const char*, const nvinfer1::Dims& d) noexcept override { shapes.push_back(extents(d)); }

  std::vector<uint64_t> sizes;
  std::vector<std::vector<int32_t>> shapes;
  std::unique_ptr<DeviceBuffer> buffer;
};

TEST_F(OutputsTest, TheDefaultReallocateOutputAsyncCallsTheDeprecatedForm) {
  static_assert(noexcept(std::declval<nvinfer1::IOutputAllocator&>().notifyShape(nullptr, nvinfer1::Dims{})));
  static_assert(!noexcept(
      std::declval<nvinfer1::IOutputAllocator&>().reallocateOutputAsync(nullptr, nullptr, 0, 0, nullptr)));
  LegacyAllocator allocator;
  const nvinfer1::InterfaceInfo info = allocator.getInterfaceInfo();
  EXPECT_STREQ(info.kind, "IOutputAllocator");
  EXPECT_EQ(info.major, 1);
  EXPECT_EQ(info.minor, 0);
  set_input(kMixed);
  ASSERT_TRUE(context().setOutputAllocator("out0", &allocator));
  ASSERT_TRUE(context().enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(allocator.sizes, std::vector<uint64_t>{16});
  EXPECT_EQ(allocator.shapes, (std::vector<std::vector<int32_t>>{{4}}));
  EXPECT_EQ(allocator.buffer->download<float>(4), (std::vector<float>{1, 3, 5, 7}));
}

}  // namespace
}  // namespace trt_test
