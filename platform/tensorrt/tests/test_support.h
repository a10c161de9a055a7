// Helpers for the stand-in's tests; every test source is compiled once per TensorRT major (the
// binding-index helpers for 7 and 8, the named-tensor ones for 10 and 11).
#ifndef TRT_STANDIN_TESTS_TEST_SUPPORT_H_
#define TRT_STANDIN_TESTS_TEST_SUPPORT_H_

#include <NvInfer.h>
#include <NvInferPlugin.h>
#include <cuda_runtime_api.h>
#include <cudaemu.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine_format.h"
#include "network_json.h"

namespace trt_test {

using Severity = nvinfer1::ILogger::Severity;

// Releases TensorRT objects the way each major allows.
struct TrtDelete {
  template <typename T>
  void operator()(T* p) const {
#if NV_TENSORRT_MAJOR >= 8
    delete p;
#else
    p->destroy();
#endif
  }
};
template <typename T>
using TrtPtr = std::unique_ptr<T, TrtDelete>;

class RecordingLogger : public nvinfer1::ILogger {
 public:
  void log(Severity severity, const char* msg) noexcept override { lines.emplace_back(severity, msg); }

  int count(Severity severity) const {
    int n = 0;
    for (const auto& l : lines) n += l.first == severity;
    return n;
  }
  // The only kERROR line; fails the test unless there is exactly one.
  std::string only_error() const {
    std::string found;
    for (const auto& l : lines) {
      if (l.first == Severity::kERROR) found = l.second;
    }
    EXPECT_EQ(count(Severity::kERROR), 1) << "kERROR lines";
    return found;
  }

  std::vector<std::pair<Severity, std::string>> lines;
};

// Each test starts with a fresh emulated device and fresh stand-in counters. The tests describe the
// stand-in's default answers, whatever TRT_STANDIN_STRICT says; strict mode's tests turn it on.
class TrtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cudaemu_reset();
    trt_standin_reset();
    trt_standin_set_strict(0);
  }
  void TearDown() override {
    EXPECT_EQ(cudaemu_violations(), expected_violations_) << "out-of-bounds device accesses";
  }

  uint64_t expected_violations_ = 0;  // a test that provokes refused accesses counts them here
};

inline std::vector<unsigned char> engine_from_json(const std::string& json,
                                                   uint32_t major = NV_TENSORRT_MAJOR) {
  trt_standin::Network net;
  std::string error;
  EXPECT_TRUE(trt_standin::network_from_json(json, &net, &error)) << error;
  return trt_standin::serialize_engine(net, major);
}

inline std::vector<unsigned char> sample_engine(const std::string& name, int major = NV_TENSORRT_MAJOR) {
  const std::string path =
      std::string(TRT_STANDIN_ENGINE_DIR) + "/" + name + "-trt" + std::to_string(major) + ".engine";
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline nvinfer1::Dims dims(std::initializer_list<int32_t> extents) {
  nvinfer1::Dims d{};
  d.nbDims = static_cast<int32_t>(extents.size());
  int i = 0;
  for (int32_t e : extents) d.d[i++] = e;
  return d;
}

inline std::vector<int32_t> extents(const nvinfer1::Dims& d) {
  std::vector<int32_t> e;
  for (int32_t i = 0; i < d.nbDims; ++i) e.push_back(static_cast<int32_t>(d.d[i]));
  return e;
}

// A runtime, an engine and its first context over some engine bytes, released in reverse order.
struct Loaded {
  RecordingLogger logger;
  TrtPtr<nvinfer1::IRuntime> runtime;
  TrtPtr<nvinfer1::ICudaEngine> engine;
  TrtPtr<nvinfer1::IExecutionContext> context;
};

inline std::unique_ptr<Loaded> load(const std::vector<unsigned char>& bytes) {
  auto l = std::make_unique<Loaded>();
  l->runtime.reset(nvinfer1::createInferRuntime(l->logger));
  if (!l->runtime) return l;
  l->engine.reset(l->runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
  if (l->engine) l->context.reset(l->engine->createExecutionContext());
  return l;
}

class DeviceBuffer {
 public:
  explicit DeviceBuffer(std::size_t bytes) : bytes_(bytes) { EXPECT_EQ(cudaMalloc(&p_, bytes), cudaSuccess); }
  ~DeviceBuffer() { cudaFree(p_); }
  DeviceBuffer(const DeviceBuffer&) = delete;
  DeviceBuffer& operator=(const DeviceBuffer&) = delete;
  void* get() const { return p_; }
  template <typename T>
  void upload(const std::vector<T>& host) {
    ASSERT_LE(host.size() * sizeof(T), bytes_);
    ASSERT_EQ(cudaMemcpy(p_, host.data(), host.size() * sizeof(T), cudaMemcpyHostToDevice), cudaSuccess);
  }
  template <typename T>
  std::vector<T> download(std::size_t count) const {
    std::vector<T> host(count);
    EXPECT_EQ(cudaMemcpy(host.data(), p_, count * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
    return host;
  }

 private:
  void* p_ = nullptr;
  std::size_t bytes_;
};

class Stream {
 public:
  Stream() { EXPECT_EQ(cudaStreamCreate(&s_), cudaSuccess); }
  ~Stream() { cudaStreamDestroy(s_); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  cudaStream_t get() const { return s_; }

 private:
  cudaStream_t s_ = nullptr;
};

#if NV_TENSORRT_MAJOR < 10
// One device buffer per binding of the engine, each large enough for bytes_each.
struct Bindings {
  Bindings(const nvinfer1::ICudaEngine& engine, std::size_t bytes_each) {
    for (int32_t b = 0; b < engine.getNbBindings(); ++b) {
      buffers.push_back(std::make_unique<DeviceBuffer>(bytes_each));
      pointers.push_back(buffers.back()->get());
    }
  }
  DeviceBuffer& operator[](int32_t b) { return *buffers[b]; }
  void** data() { return pointers.data(); }

  std::vector<std::unique_ptr<DeviceBuffer>> buffers;
  std::vector<void*> pointers;
};

// Runs one enqueue with float inputs on the context's selected profile and returns float output
// `output_binding` of `output_count` values.
inline std::vector<float> run_floats(Loaded& l,
                                     const std::vector<std::pair<int32_t, std::vector<float>>>& inputs,
                                     int32_t output_binding, std::size_t output_count) {
  Bindings bindings(*l.engine, 1 << 16);
  for (const auto& in : inputs) bindings[in.first].upload(in.second);
  Stream stream;
  EXPECT_TRUE(l.context->enqueueV2(bindings.data(), stream.get(), nullptr));
  EXPECT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  return bindings[output_binding].download<float>(output_count);
}

#else

// One device buffer per I/O tensor of the engine, each large enough for bytes_each.
struct TensorBuffers {
  TensorBuffers(const nvinfer1::ICudaEngine& engine, std::size_t bytes_each) {
    for (int32_t i = 0; i < engine.getNbIOTensors(); ++i) {
      names.emplace_back(engine.getIOTensorName(i));
      buffers.push_back(std::make_unique<DeviceBuffer>(bytes_each));
    }
  }
  DeviceBuffer& operator[](const std::string& name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == name) return *buffers[i];
    }
    ADD_FAILURE() << "no I/O tensor " << name;
    return *buffers.front();
  }
  // Gives every I/O tensor its buffer's address.
  bool bind(nvinfer1::IExecutionContext& context) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!context.setTensorAddress(names[i].c_str(), buffers[i]->get())) return false;
    }
    return true;
  }

  std::vector<std::string> names;
  std::vector<std::unique_ptr<DeviceBuffer>> buffers;
};

// Runs one enqueueV3 with float inputs (shapes already set) and returns `output_count` values of
// the float output `output`.
inline std::vector<float> run_floats(Loaded& l,
                                     const std::vector<std::pair<std::string, std::vector<float>>>& inputs,
                                     const std::string& output, std::size_t output_count) {
  TensorBuffers buffers(*l.engine, 1 << 16);
  for (const auto& in : inputs) buffers[in.first].upload(in.second);
  EXPECT_TRUE(buffers.bind(*l.context));
  Stream stream;
  EXPECT_TRUE(l.context->enqueueV3(stream.get()));
  EXPECT_EQ(cudaStreamSynchronize(stream.get()), cudaSuccess);
  return buffers[output].download<float>(output_count);
}

#endif  // NV_TENSORRT_MAJOR < 10

}  // namespace trt_test

#endif  // TRT_STANDIN_TESTS_TEST_SUPPORT_H_
