// Shape tensors in host memory: how each generation reports them, their values read from the host
// address given, and a device address refused by the emulated device.
#include "io_support.h"

namespace trt_test {
namespace {

// host_shape with a second output that copies the host tensor, so its values show.
const char* kEchoedShape = R"({"name": "echoed_shape",
  "inputs": [{"name": "in0", "dtype": "float", "dims": [-1, 4]},
             {"name": "shape", "dtype": "int32", "dims": [2], "location": "host"}],
  "outputs": [{"name": "out0", "dtype": "float", "dims": [-1, 4]},
              {"name": "echo", "dtype": "int32", "dims": [2]}],
  "layers": [{"op": "relu", "inputs": ["in0"], "output": "out0"},
             {"op": "identity", "inputs": ["shape"], "output": "echo"}],
  "profiles": [{"in0": {"min": [1, 4], "opt": [2, 4], "max": [4, 4]}, "shape": {"min": [2], "opt": [2], "max": [2]}}]})";

class HostTensorsTest : public TrtTest {};

TEST_F(HostTensorsTest, HostInputsAreReportedAsShapeTensors) {
  auto unread = load(sample_engine("host_shape"));
  auto read = load(engine_from_json(kEchoedShape));
  ASSERT_TRUE(unread->engine);
  ASSERT_TRUE(read->engine);
#if NV_TENSORRT_MAJOR >= 10
  for (const nvinfer1::ICudaEngine* e : {unread->engine.get(), read->engine.get()}) {
    EXPECT_EQ(e->getTensorLocation("shape"), nvinfer1::TensorLocation::kHOST);
    EXPECT_EQ(e->getTensorLocation("in0"), nvinfer1::TensorLocation::kDEVICE);
    EXPECT_EQ(e->getTensorLocation("out0"), nvinfer1::TensorLocation::kDEVICE);
    EXPECT_TRUE(e->isShapeInferenceIO("shape"));
    EXPECT_FALSE(e->isShapeInferenceIO("in0"));
    EXPECT_FALSE(e->isShapeInferenceIO("out0"));
    EXPECT_EQ(e->getTensorDataType("shape"), nvinfer1::DataType::kINT32);
    EXPECT_EQ(e->getTensorFormat("shape"), nvinfer1::TensorFormat::kLINEAR);
  }
#else
  // Bindings in0, shape, out0 (and echo).
  for (const nvinfer1::ICudaEngine* e : {unread->engine.get(), read->engine.get()}) {
    EXPECT_EQ(e->getLocation(0), nvinfer1::TensorLocation::kDEVICE);
    EXPECT_EQ(e->getLocation(1), nvinfer1::TensorLocation::kHOST);
    EXPECT_EQ(e->getLocation(2), nvinfer1::TensorLocation::kDEVICE);
    EXPECT_FALSE(e->isShapeBinding(0));
    EXPECT_TRUE(e->isShapeBinding(1));
    EXPECT_FALSE(e->isShapeBinding(2));
    EXPECT_TRUE(e->isExecutionBinding(0));
    EXPECT_TRUE(e->isExecutionBinding(2));
  }
  EXPECT_FALSE(unread->engine->isExecutionBinding(1)) << "no layer reads it";
  EXPECT_TRUE(read->engine->isExecutionBinding(1)) << "a layer reads its values";
#endif
}

class HostTensorEnqueueTest : public TrtTest {
 protected:
  // Device memory and streams after the emulator reset, which drops them all.
  void SetUp() override {
    TrtTest::SetUp();
    l_ = load(engine_from_json(kEchoedShape));
    ASSERT_TRUE(l_->context);
    ASSERT_TRUE(set_shape(*l_, "in0", dims({2, 4})));
    in0_ = std::make_unique<DeviceBuffer>(8 * sizeof(float));
    out0_ = std::make_unique<DeviceBuffer>(8 * sizeof(float));
    echo_ = std::make_unique<DeviceBuffer>(2 * sizeof(int32_t));
    stream_ = std::make_unique<Stream>();
    in0_->upload(std::vector<float>{1, -2, 3, -4, -5, 6, -7, 8});
  }
  bool enqueue_with_shape_at(void* shape) {
    return enqueue(*l_, {in0_->get(), shape, out0_->get(), echo_->get()}, stream_->get());
  }

  std::unique_ptr<Loaded> l_;
  std::unique_ptr<DeviceBuffer> in0_, out0_, echo_;
  std::unique_ptr<Stream> stream_;
};

TEST_F(HostTensorEnqueueTest, ValuesAreCopiedHostToHostFromTheAddressGiven) {
  HostBuffer shape(2 * sizeof(int32_t));
  const int32_t values[2] = {7, -3};
  std::memcpy(shape.get(), values, sizeof values);
#if NV_TENSORRT_MAJOR >= 10
  // Until the shape tensor has an address, it counts as unspecified and the outputs stay unresolved.
  const char* missing[2] = {};
  EXPECT_EQ(l_->context->inferShapes(2, missing), 1);
  EXPECT_STREQ(missing[0], "shape");
  EXPECT_EQ(extents(l_->context->getTensorShape("out0")), (std::vector<int32_t>{-1, 4}));
#if NV_TENSORRT_MAJOR < 11
  EXPECT_FALSE(l_->context->allInputShapesSpecified());
#endif
  ASSERT_TRUE(l_->context->setInputTensorAddress("shape", shape.get()));
  EXPECT_EQ(l_->context->inferShapes(0, nullptr), 0);
  EXPECT_EQ(extents(l_->context->getTensorShape("out0")), (std::vector<int32_t>{2, 4}));
#if NV_TENSORRT_MAJOR < 11
  EXPECT_TRUE(l_->context->allInputShapesSpecified());
#endif
#endif
  cudaemu_trace_clear();
  ASSERT_TRUE(enqueue_with_shape_at(shape.get()));
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(echo_->download<int32_t>(2), (std::vector<int32_t>{7, -3}));
  EXPECT_EQ(out0_->download<float>(8), (std::vector<float>{1, 0, 3, 0, 0, 6, 0, 8}));

  int host_reads = 0;
  for (std::size_t i = 0; i < cudaemu_trace_size(); ++i) {
    cudaemu_trace_entry entry{};
    ASSERT_EQ(cudaemu_trace_get(i, &entry), 1);
    if (std::string(entry.api) != "cudaMemcpyAsync" ||
        entry.args[1] != reinterpret_cast<uintptr_t>(shape.get()))
      continue;
    ++host_reads;
    EXPECT_EQ(entry.args[2], 2 * sizeof(int32_t));
    EXPECT_EQ(entry.args[3], static_cast<uintptr_t>(cudaMemcpyHostToHost));
    EXPECT_EQ(entry.result, cudaSuccess);
  }
  EXPECT_EQ(host_reads, 1);
}

TEST_F(HostTensorEnqueueTest, ADeviceAddressIsRefusedByTheDevice) {
  DeviceBuffer on_device(2 * sizeof(int32_t));
  EXPECT_FALSE(enqueue_with_shape_at(on_device.get()));
  EXPECT_EQ(l_->logger.only_error(), refused_copy_line());
  EXPECT_EQ(cudaemu_violations(), 1u);
  char text[256] = {};
  cudaemu_last_violation(text, sizeof text);
  EXPECT_NE(std::string(text), "");
  ASSERT_EQ(cudaStreamSynchronize(stream_->get()), cudaSuccess);
  EXPECT_EQ(trt_standin_count("network_runs"), 0) << "nothing was queued after the refused copy";
  expected_violations_ = 1;
}

}  // namespace
}  // namespace trt_test
