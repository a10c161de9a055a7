#include "session_support.h"

#include <cuda_runtime_api.h>
#include <trt_standin.h>

#include <cstring>
#include <mutex>

#include "device_state.h"
#include "samples.h"

namespace inferlet_test {

Answer Take(inferlet_status* status) {
  Answer answer{inferlet_status_code(status), inferlet_status_message(status)};
  inferlet_status_release(status);
  return answer;
}

void PrintTo(const Answer& answer, std::ostream* out) {
  *out << "{code " << answer.code << ", \"" << answer.message << "\"}";
}

::testing::AssertionResult Ok(inferlet_status* status) {
  const Answer answer = Take(status);
  if (answer.code == INFERLET_OK) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "code " << answer.code << ": " << answer.message;
}

EngineHandle LoadEngine(const std::string& name, int device) {
  const std::string bytes = ReadEngine(name);
  inferlet_engine* engine = nullptr;
  const Answer answer = Take(inferlet_engine_load(bytes.data(), bytes.size(), device, &engine));
  if (answer.code != INFERLET_OK) ADD_FAILURE() << "engine " << name << " refused: " << answer.message;
  return EngineHandle(engine);
}

std::string HostCodeHint(int major) {
  return major >= 10
             ? "; if it is a version-compatible engine, it holds host code: load it with allow_host_code set"
             : "";
}

Answer TryNewSession(inferlet_engine* engine, const inferlet_session_options& options,
                     SessionHandle* session) {
  inferlet_session* made = nullptr;
  const Answer answer = Take(inferlet_session_create(engine, &options, &made));
  session->reset(made);
  return answer;
}

SessionHandle NewSession(inferlet_engine* engine,
                         const std::function<void(inferlet_session_options&)>& adjust) {
  inferlet_session_options options;
  inferlet_session_options_init(&options);
  if (adjust) adjust(options);
  SessionHandle session;
  const Answer answer = TryNewSession(engine, options, &session);
  if (answer.code != INFERLET_OK) ADD_FAILURE() << "session refused: " << answer.message;
  return session;
}

inferlet_shape Shape(std::initializer_list<int64_t> dims) {
  inferlet_shape shape{};
  for (int64_t extent : dims) shape.dims[shape.rank++] = extent;
  return shape;
}

std::string ShapeText(const inferlet_shape& shape) {
  std::string text = "[";
  for (int k = 0; k < shape.rank && k < INFERLET_MAX_DIMS; ++k)
    text += (k ? ", " : "") + std::to_string(shape.dims[k]);
  return text + "]";
}

namespace {

std::mutex gLogMutex;
std::vector<LogLine> gLogLines;

void RecordLine(void*, inferlet_log_level level, const char* message) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  gLogLines.push_back({level, message});
}

}  // namespace

LogRecorder::LogRecorder(inferlet_log_level threshold) {
  {
    std::lock_guard<std::mutex> lock(gLogMutex);
    gLogLines.clear();
  }
  inferlet_set_log(RecordLine, nullptr, threshold);
}

LogRecorder::~LogRecorder() { inferlet_set_log(nullptr, nullptr, INFERLET_LOG_ERROR); }

std::vector<LogLine> LogRecorder::Lines() const {
  std::lock_guard<std::mutex> lock(gLogMutex);
  return gLogLines;
}

std::vector<std::string> LogRecorder::Texts(inferlet_log_level level) const {
  std::vector<std::string> texts;
  for (const LogLine& line : Lines()) {
    if (line.level == level) texts.push_back(line.text);
  }
  return texts;
}

CallTensors::~CallTensors() {
  for (const Memory& memory : memory_) {
    if (memory.memory == INFERLET_MEMORY_HOST) {
      std::free(memory.data);
    } else if (memory.memory == INFERLET_MEMORY_PINNED) {
      EXPECT_EQ(cudaFreeHost(memory.data), cudaSuccess);
    } else {
      EXPECT_EQ(cudaFree(memory.data), cudaSuccess);
    }
  }
}

void* CallTensors::Allocate(inferlet_memory memory, size_t bytes) {
  void* data = nullptr;
  if (memory == INFERLET_MEMORY_HOST) {
    data = std::malloc(bytes);
  } else if (memory == INFERLET_MEMORY_PINNED) {
    EXPECT_EQ(cudaMallocHost(&data, bytes), cudaSuccess);
  } else {
    EXPECT_EQ(cudaMalloc(&data, bytes), cudaSuccess);
  }
  memory_.push_back({memory, data});
  return data;
}

void CallTensors::Input(const std::string& name, inferlet_memory memory, const inferlet_shape& shape,
                        const Tensor& values) {
  const size_t bytes = values.size() * sizeof(float);
  void* data = Allocate(memory, bytes);
  if (memory == INFERLET_MEMORY_DEVICE) {
    EXPECT_EQ(cudaMemcpy(data, values.data(), bytes, cudaMemcpyHostToDevice), cudaSuccess);
    // cudaMemcpy may return before the device holds the bytes, and a session's own stream is not
    // ordered after the legacy stream.
    EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  } else if (bytes > 0) {  // an empty tensor's vector may hold no array at all
    std::memcpy(data, values.data(), bytes);
  }
  names_.push_back(name);
  inputs_.push_back({names_.back().c_str(), memory, data, bytes, shape});
}

void CallTensors::Output(const std::string& name, inferlet_memory memory, size_t floats) {
  const size_t bytes = floats * sizeof(float);
  void* data = Allocate(memory, bytes);
  names_.push_back(name);
  outputs_.push_back({names_.back().c_str(), memory, data, bytes, Shape({-7})});
}

Tensor CallTensors::Read(size_t output) const {
  const inferlet_tensor& tensor = outputs_.at(output);
  size_t count = 1;
  for (int k = 0; k < tensor.shape.rank; ++k) count *= static_cast<size_t>(tensor.shape.dims[k]);
  Tensor values(tensor.shape.rank < 0 ? 0 : count);
  if (tensor.memory == INFERLET_MEMORY_DEVICE) {
    EXPECT_EQ(cudaMemcpy(values.data(), tensor.data, values.size() * sizeof(float), cudaMemcpyDeviceToHost),
              cudaSuccess);
  } else if (!values.empty()) {
    std::memcpy(values.data(), tensor.data, values.size() * sizeof(float));
  }
  return values;
}

void CallTensors::Overwrite(size_t input, float value) {
  const inferlet_tensor& tensor = inputs_.at(input);
  ASSERT_NE(tensor.memory, INFERLET_MEMORY_DEVICE);
  float* values = static_cast<float*>(tensor.data);
  for (size_t k = 0; k < tensor.bytes / sizeof(float); ++k) values[k] = value;
}

void SessionsTest::TearDown() {
  ExpectDeviceClean();
  // Counted in the stand-in's strict mode: contexts of an engine with dynamic shapes queued on one
  // profile at once.
  EXPECT_EQ(trt_standin_count("concurrent_profile_uses"), 0);
  // Strict mode: graphs replayed on a context TensorRT last configured for another call.
  EXPECT_EQ(trt_standin_count("stale_graph_replays"), 0);
  trt_standin_set_enqueue_scratch(0);
  FreshPlatformTest::TearDown();
}

const char* MemoryName(inferlet_memory memory) {
  switch (memory) {
    case INFERLET_MEMORY_HOST:
      return "Host";
    case INFERLET_MEMORY_PINNED:
      return "Pinned";
    case INFERLET_MEMORY_DEVICE:
      return "Device";
  }
  return "Unknown";
}

}  // namespace inferlet_test
