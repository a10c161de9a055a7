// Outputs that share an input's memory (11.x: the test network aliased_output, out0 = 2 * in0 + 1
// written into in0's memory): getAliasedInputTensor, the enqueue in place and the refusal of another
// address.
#include <sstream>
#include <string>
#include <vector>

#include "output_allocator.h"
#include "test_support.h"

namespace trt_test {
namespace {

#if NV_TENSORRT_MAJOR >= 11

// A pointer as the log lines print it.
std::string address(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

class AliasedTest : public TrtTest {
 protected:
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(sample_engine("aliased_output"));
    ASSERT_TRUE(l_->context);
    ASSERT_TRUE(l_->context->setInputShape("in0", dims({2, 4})));
    stream_ = std::make_unique<Stream>();
  }

  std::unique_ptr<Loaded> l_;
  std::unique_ptr<Stream> stream_;
};

TEST_F(AliasedTest, TheEngineNamesTheInputAnOutputShares) {
  const nvinfer1::ICudaEngine& engine = *l_->engine;
  EXPECT_STREQ(engine.getAliasedInputTensor("out0"), "in0");
  for (const char* name : {"in0", "none"}) EXPECT_EQ(engine.getAliasedInputTensor(name), nullptr) << name;
  EXPECT_EQ(engine.getAliasedInputTensor(nullptr), nullptr);
  auto smoke = load(sample_engine("smoke"));
  ASSERT_TRUE(smoke->engine);
  EXPECT_EQ(smoke->engine->getAliasedInputTensor("out0"), nullptr) << "an output that shares nothing";
}

TEST_F(AliasedTest, TheOutputIsWrittenIntoTheInputsMemory) {
  DeviceBuffer shared(8 * 4);
  shared.upload(std::vector<float>{0, 1, 2, 3, -1, -2, 0.5f, 4});
  ASSERT_TRUE(l_->context->setTensorAddress("in0", shared.get()));
  ASSERT_TRUE(l_->context->setTensorAddress("out0", shared.get()));
  ASSERT_TRUE(l_->context->enqueueV3(stream_->get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(shared.download<float>(8), (std::vector<float>{1, 3, 5, 7, -1, -3, 2, 9}));
  EXPECT_EQ(l_->logger.count(Severity::kERROR), 0);
}

TEST_F(AliasedTest, EnqueueRefusesAnotherAddressOrAnAllocator) {
  DeviceBuffer in0(8 * 4), other(8 * 4);
  RecordingAllocator allocator;
  struct Case {
    void* out0;
    bool allocator;
  };
  for (const Case& c : {Case{other.get(), false}, Case{nullptr, true}}) {
    l_->logger.lines.clear();
    ASSERT_TRUE(l_->context->setTensorAddress("in0", in0.get()));
    ASSERT_TRUE(l_->context->setTensorAddress("out0", c.out0));
    ASSERT_TRUE(l_->context->setOutputAllocator("out0", c.allocator ? &allocator : nullptr));
    EXPECT_FALSE(l_->context->enqueueV3(stream_->get()));
    EXPECT_EQ(l_->logger.only_error(),
              "enqueueV3: output 'out0' must share the memory of input 'in0' "
              "(ICudaEngine::getAliasedInputTensor): its address " +
                  address(c.out0) + " is not the input's " + address(in0.get()));
  }
  EXPECT_TRUE(allocator.calls.empty());
  EXPECT_EQ(trt_standin_count("network_runs"), 0);
}

#endif  // NV_TENSORRT_MAJOR >= 11

}  // namespace
}  // namespace trt_test
