// Engines of every data type of TensorRT 10 and 11 (the dtypes_all test network: one identity per
// type): each tensor's type and sizes, the bytes an enqueue copies (4-bit types two elements a byte)
// and the element-wise layers on int64.
#include <cstdint>
#include <map>
#include <string>

#include "test_support.h"

namespace trt_test {
namespace {

struct TypeRow {
  const char* name;  // dtypes_all's tensors are in_<name> and out_<name>
  nvinfer1::DataType type;
  int32_t bytes_per_component;
  std::size_t bytes_of_3;  // one row of [-1, 3]
  std::size_t bytes_of_6;  // two rows
};

constexpr TypeRow kTypes[] = {
    {"float", nvinfer1::DataType::kFLOAT, 4, 12, 24}, {"half", nvinfer1::DataType::kHALF, 2, 6, 12},
    {"int8", nvinfer1::DataType::kINT8, 1, 3, 6},     {"int32", nvinfer1::DataType::kINT32, 4, 12, 24},
    {"bool", nvinfer1::DataType::kBOOL, 1, 3, 6},     {"uint8", nvinfer1::DataType::kUINT8, 1, 3, 6},
    {"fp8", nvinfer1::DataType::kFP8, 1, 3, 6},       {"bf16", nvinfer1::DataType::kBF16, 2, 6, 12},
    {"int64", nvinfer1::DataType::kINT64, 8, 24, 48}, {"int4", nvinfer1::DataType::kINT4, -1, 2, 3},
    {"fp4", nvinfer1::DataType::kFP4, -1, 2, 3},      {"e8m0", nvinfer1::DataType::kE8M0, 1, 3, 6},
};

using DataTypesTest = TrtTest;

TEST_F(DataTypesTest, EveryTensorAnswersItsTypeAndSizes) {
  auto l = load(sample_engine("dtypes_all"));
  ASSERT_TRUE(l->context);
  ASSERT_EQ(l->engine->getNbIOTensors(), 24);
  for (const TypeRow& row : kTypes) {
    for (const std::string& name : {std::string("in_") + row.name, std::string("out_") + row.name}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(l->engine->getTensorDataType(name.c_str()), row.type);
      EXPECT_EQ(l->engine->getTensorBytesPerComponent(name.c_str()), row.bytes_per_component);
      EXPECT_EQ(l->engine->getTensorComponentsPerElement(name.c_str()), 1);
      EXPECT_EQ(l->engine->getTensorFormat(name.c_str()), nvinfer1::TensorFormat::kLINEAR);
    }
  }
  EXPECT_EQ(l->logger.count(Severity::kERROR), 0);
}

// Each tensor in a device buffer of exactly its bytes: copying more is an out-of-bounds access (the
// fixture counts violations), copying less leaves output bytes unwritten.
TEST_F(DataTypesTest, AnEnqueueCopiesEachTypesBytesExactly) {
  auto l = load(sample_engine("dtypes_all"));
  ASSERT_TRUE(l->context);
  Stream stream;
  for (int batch : {1, 2}) {
    SCOPED_TRACE(batch);
    std::map<std::string, std::unique_ptr<DeviceBuffer>> buffers;
    std::map<uintptr_t, std::size_t> expected_copies;  // device address -> bytes
    for (const TypeRow& row : kTypes) {
      const std::size_t bytes = batch == 1 ? row.bytes_of_3 : row.bytes_of_6;
      const std::string in = std::string("in_") + row.name, out = std::string("out_") + row.name;
      ASSERT_TRUE(l->context->setInputShape(in.c_str(), dims({batch, 3})));
      std::vector<unsigned char> pattern(bytes);
      for (std::size_t i = 0; i < bytes; ++i)
        pattern[i] = static_cast<unsigned char>(0x11 * (i + 1) + row.bytes_of_6);
      for (const std::string& name : {in, out}) {
        buffers[name] = std::make_unique<DeviceBuffer>(bytes);
        ASSERT_TRUE(l->context->setTensorAddress(name.c_str(), buffers[name]->get()));
        expected_copies[reinterpret_cast<uintptr_t>(buffers[name]->get())] = bytes;
      }
      buffers[in]->upload(pattern);
      buffers[out]->upload(std::vector<unsigned char>(bytes, 0xEE));
    }
    cudaemu_trace_clear();
    ASSERT_TRUE(l->context->enqueueV3(stream.get())) << l->logger.only_error();
    ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);

    std::map<uintptr_t, std::size_t> copies;  // each tensor's copy, by its device address
    cudaemu_trace_entry e;
    for (size_t i = 0; cudaemu_trace_get(i, &e); ++i) {
      if (std::string(e.api) != "cudaMemcpyAsync") continue;
      const uintptr_t device = e.args[3] == cudaMemcpyDeviceToHost ? e.args[1] : e.args[0];
      copies[device] = e.args[2];
    }
    EXPECT_EQ(copies, expected_copies);
    for (const TypeRow& row : kTypes) {
      const std::size_t bytes = batch == 1 ? row.bytes_of_3 : row.bytes_of_6;
      EXPECT_EQ(buffers[std::string("out_") + row.name]->download<unsigned char>(bytes),
                buffers[std::string("in_") + row.name]->download<unsigned char>(bytes))
          << row.name;
    }
  }
  EXPECT_EQ(trt_standin_count("network_runs"), 2);
}

TEST_F(DataTypesTest, ElementWiseLayersComputeOnInt64AndWrapAround) {
  std::string layers, outputs;
  for (const char* op : {"add", "sub", "mul", "max"}) {
    layers += std::string(layers.empty() ? "" : ", ") + R"({"op": ")" + op +
              R"(", "inputs": ["a", "b"], "output": ")" + op + R"("})";
    outputs += std::string(outputs.empty() ? "" : ", ") + R"({"name": ")" + op +
               R"(", "dtype": "int64", "dims": [4]})";
  }
  auto l = load(engine_from_json(R"({"name": "wide",
    "inputs": [{"name": "a", "dtype": "int64", "dims": [4]}, {"name": "b", "dtype": "int64", "dims": [4]}],
    "outputs": [)" + outputs + R"(], "layers": [)" +
                                 layers + R"(],
    "profiles": [{"a": {"min": [4], "opt": [4], "max": [4]}, "b": {"min": [4], "opt": [4], "max": [4]}}]})"));
  ASSERT_TRUE(l->context);
  constexpr int64_t kBig = INT64_MAX;
  const std::vector<int64_t> a = {kBig, -5, 3000000000, INT64_MIN}, b = {1, 7, 3000000000, 1};
  TensorBuffers buffers(*l->engine, 4 * sizeof(int64_t));
  buffers["a"].upload(a);
  buffers["b"].upload(b);
  ASSERT_TRUE(buffers.bind(*l->context));
  Stream stream;
  ASSERT_TRUE(l->context->enqueueV3(stream.get()));
  ASSERT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  EXPECT_EQ(buffers["add"].download<int64_t>(4),
            (std::vector<int64_t>{INT64_MIN, 2, 6000000000, INT64_MIN + 1}));
  EXPECT_EQ(buffers["sub"].download<int64_t>(4), (std::vector<int64_t>{kBig - 1, -12, 0, kBig}));
  EXPECT_EQ(buffers["mul"].download<int64_t>(4),
            (std::vector<int64_t>{kBig, -35, static_cast<int64_t>(9000000000000000000), INT64_MIN}));
  EXPECT_EQ(buffers["max"].download<int64_t>(4), (std::vector<int64_t>{kBig, 7, 3000000000, 1}));
}

}  // namespace
}  // namespace trt_test
