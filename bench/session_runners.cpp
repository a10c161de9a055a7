#include "session_runners.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "bench_support.h"
#include "cuda_graph.h"

namespace inferlet_bench {

const SessionPath kSessionPaths[] = {
    {"run_host", INFERLET_MEMORY_HOST, false, false},     {"pinned", INFERLET_MEMORY_PINNED, true, false},
    {"device", INFERLET_MEMORY_DEVICE, true, false},      {"graph_host", INFERLET_MEMORY_HOST, false, true},
    {"graph_device", INFERLET_MEMORY_DEVICE, true, true},
};
const size_t kSessionPathCount = sizeof(kSessionPaths) / sizeof(kSessionPaths[0]);

const SessionPath* FindSessionPath(const std::string& name) {
  for (const SessionPath& path : kSessionPaths)
    if (name == path.name) return &path;
  return nullptr;
}

namespace {

constexpr size_t kInputBytes = static_cast<size_t>(kSmokeBatch) * 340 * sizeof(float);
constexpr size_t kOutputBytes = static_cast<size_t>(kSmokeBatch) * 338 * sizeof(float);

void Check(cudaError_t status, const char* what) {
  if (status != cudaSuccess) Die(std::string(what) + ": " + cudaGetErrorString(status));
}

void Check(inferlet_status* status, const char* what) {
  if (!status) return;
  const std::string message = inferlet_status_message(status);
  inferlet_status_release(status);
  Die(std::string(what) + ": " + message);
}

inferlet_tensor Tensor(const char* name, inferlet_memory memory, const TensorMemory& memory_block,
                       int64_t width) {
  inferlet_tensor tensor{};
  tensor.name = name;
  tensor.memory = memory;
  tensor.data = memory_block.data();
  tensor.bytes = memory_block.bytes();
  tensor.shape.rank = 2;
  tensor.shape.dims[0] = kSmokeBatch;
  tensor.shape.dims[1] = width;
  return tensor;
}

}  // namespace

TensorMemory::TensorMemory(inferlet_memory kind, size_t bytes) : kind_(kind), bytes_(bytes) {
  switch (kind) {
    case INFERLET_MEMORY_HOST:
      data_ = std::malloc(bytes);
      if (!data_) Die("malloc failed");
      break;
    case INFERLET_MEMORY_PINNED:
      Check(cudaMallocHost(&data_, bytes), "cudaMallocHost");
      break;
    case INFERLET_MEMORY_DEVICE:
      Check(cudaMalloc(&data_, bytes), "cudaMalloc");
      break;
  }
}

TensorMemory::TensorMemory(TensorMemory&& other) noexcept
    : kind_(other.kind_), bytes_(other.bytes_), data_(std::exchange(other.data_, nullptr)) {}

TensorMemory::~TensorMemory() {
  if (!data_) return;
  switch (kind_) {
    case INFERLET_MEMORY_HOST:
      std::free(data_);
      break;
    case INFERLET_MEMORY_PINNED:
      cudaFreeHost(data_);
      break;
    case INFERLET_MEMORY_DEVICE:
      cudaFree(data_);
      break;
  }
}

void TensorMemory::Fill(const float* values) {
  if (kind_ == INFERLET_MEMORY_DEVICE)
    Check(cudaMemcpy(data_, values, bytes_, cudaMemcpyHostToDevice), "cudaMemcpy");
  else
    std::memcpy(data_, values, bytes_);
}

SmokeCall::SmokeCall(inferlet_memory memory)
    : in0(memory, kInputBytes), in1(memory, kInputBytes), out0(memory, kOutputBytes) {
  const inferlet_test::CallInputs values(SmokeConfig(), 0, kSmokeBatch, 1);
  in0.Fill(static_cast<const float*>(values.pointers()[0]));
  in1.Fill(static_cast<const float*>(values.pointers()[1]));
}

SessionRunner::SessionRunner(const std::string& engine, const SessionPath& path)
    : path_(path), tensors_(path.memory) {
  Check(inferlet_engine_load(engine.data(), engine.size(), 0, &engine_), "inferlet_engine_load");
  inferlet_session_options options;
  inferlet_session_options_init(&options);
  options.cuda_graphs = path.cuda_graphs ? 1 : 0;
  Check(inferlet_session_create(engine_, &options, &session_), "inferlet_session_create");
  inputs_[0] = Tensor("in0", path.memory, tensors_.in0, 340);
  inputs_[1] = Tensor("in1", path.memory, tensors_.in1, 340);
  outputs_[0] = Tensor("out0", path.memory, tensors_.out0, 338);
}

SessionRunner::~SessionRunner() {
  inferlet_session_release(session_);
  inferlet_engine_release(engine_);
}

void SessionRunner::Call() {
  if (path_.enqueue_wait) {
    Check(inferlet_session_enqueue(session_, inputs_, 2, outputs_, 1), "inferlet_session_enqueue");
    Check(inferlet_session_wait(session_), "inferlet_session_wait");
  } else {
    Check(inferlet_session_run(session_, inputs_, 2, outputs_, 1), "inferlet_session_run");
  }
}

SessionFloor::SessionFloor(const std::string& engine, const SessionPath& path)
    : path_(path), tensors_(path.memory) {
  runtime_.reset(nvinfer1::createInferRuntime(QuietLogger()));
  if (!runtime_) Die("createInferRuntime failed");
  engine_.reset(runtime_->deserializeCudaEngine(engine.data(), engine.size()));
  if (!engine_) Die("deserializeCudaEngine failed");
  trt_binding::settleRuntime(runtime_);
  context_.reset(engine_->createExecutionContext());
  if (!context_) Die("createExecutionContext failed");
  Check(cudaStreamCreateWithFlags(&stream_, cudaStreamNonBlocking), "cudaStreamCreateWithFlags");
  if (!trt_binding::selectProfile(*context_, 0, stream_)) Die("profile 0 was refused");
  Check(cudaEventCreateWithFlags(&event_, cudaEventDisableTiming), "cudaEventCreateWithFlags");
  for (int t = 0; t < 3; ++t) smoke_.push_back(trt_binding::binding(*engine_, t));
  input_dims_.nbDims = 2;
  input_dims_.d[0] = kSmokeBatch;  // the profile's largest, as a session sizes its buffers
  input_dims_.d[1] = 340;
  if (!trt_binding::setInputDimensions(*context_, smoke_[0], input_dims_) ||
      !trt_binding::setInputDimensions(*context_, smoke_[1], input_dims_) ||
      !trt_binding::allInputDimensionsSpecified(*context_))
    Die("the input dimensions were refused");
  for (int t = 0; t < 3; ++t) {
    const size_t bytes = t < 2 ? kInputBytes : kOutputBytes;
    buffers_.emplace_back(INFERLET_MEMORY_DEVICE, bytes);
    staging_.emplace_back(INFERLET_MEMORY_PINNED, bytes);
  }
  bindings_.assign(3, nullptr);
  Check(cudaStreamSynchronize(stream_), "cudaStreamSynchronize");
  if (path.cuda_graphs) {  // the first call runs plainly, then its work is captured, as a session does
    PlainCall();
    Capture();
    Check(cudaEventRecord(event_, stream_), "cudaEventRecord");
    Check(cudaStreamSynchronize(stream_), "cudaStreamSynchronize");
  }
}

SessionFloor::~SessionFloor() {
  if (stream_) cudaStreamSynchronize(stream_);
  if (graph_) cudaGraphExecDestroy(graph_);
  context_.reset();
  if (event_) cudaEventDestroy(event_);
  if (stream_) cudaStreamDestroy(stream_);
  engine_.reset();
}

void* SessionFloor::Address(int tensor) const {
  if (path_.memory == INFERLET_MEMORY_DEVICE) {
    const TensorMemory* host[] = {&tensors_.in0, &tensors_.in1, &tensors_.out0};
    return host[tensor]->data();
  }
  return buffers_[static_cast<size_t>(tensor)].data();
}

// The session's steps of a call without a graph: the inputs' shapes, whether they are complete and the
// output's resolved shape, every address, host inputs into staging, then the work.
void SessionFloor::PlainCall() {
  trt_binding::setInputDimensions(*context_, smoke_[0], input_dims_);
  trt_binding::setInputDimensions(*context_, smoke_[1], input_dims_);
  if (!trt_binding::allInputDimensionsSpecified(*context_)) Die("not all input dimensions are set");
  sink_ += trt_binding::resolvedDimensions(*context_, smoke_[2]).nbDims;
  for (int t = 0; t < 3; ++t) {
    bindings_[static_cast<size_t>(t)] = Address(t);
    trt_binding::bindAddress(*context_, smoke_[static_cast<size_t>(t)], Address(t));
  }
  if (path_.memory == INFERLET_MEMORY_HOST) {
    std::memcpy(staging_[0].data(), tensors_.in0.data(), kInputBytes);
    std::memcpy(staging_[1].data(), tensors_.in1.data(), kInputBytes);
  }
  QueueWork();
}

void SessionFloor::QueueWork() {
  if (path_.memory != INFERLET_MEMORY_DEVICE) {
    const bool host = path_.memory == INFERLET_MEMORY_HOST;
    Check(cudaMemcpyAsync(buffers_[0].data(), host ? staging_[0].data() : tensors_.in0.data(), kInputBytes,
                          cudaMemcpyHostToDevice, stream_),
          "copy in0");
    Check(cudaMemcpyAsync(buffers_[1].data(), host ? staging_[1].data() : tensors_.in1.data(), kInputBytes,
                          cudaMemcpyHostToDevice, stream_),
          "copy in1");
  }
  if (!trt_binding::enqueue(*context_, bindings_.data(), stream_)) Die("enqueue failed");
  if (path_.memory != INFERLET_MEMORY_DEVICE) {
    const bool host = path_.memory == INFERLET_MEMORY_HOST;
    Check(cudaMemcpyAsync(host ? staging_[2].data() : tensors_.out0.data(), buffers_[2].data(), kOutputBytes,
                          cudaMemcpyDeviceToHost, stream_),
          "copy out0");
  }
}

void SessionFloor::Capture() {
  Check(cudaStreamBeginCapture(stream_, cudaStreamCaptureModeRelaxed), "cudaStreamBeginCapture");
  QueueWork();
  cudaGraph_t graph = nullptr;
  Check(cudaStreamEndCapture(stream_, &graph), "cudaStreamEndCapture");
  Check(instantiateGraph(&graph_, graph), "cudaGraphInstantiate");
  Check(cudaGraphDestroy(graph), "cudaGraphDestroy");
}

// A session call's CUDA and TensorRT calls: its device made current (found current), the work queued
// (or its graph launched), the event recorded; then the wait: the device again, the synchronization,
// a host output out of staging.
void SessionFloor::Call() {
  int device = 0;
  Check(cudaGetDevice(&device), "cudaGetDevice");
  if (graph_) {
    if (path_.memory == INFERLET_MEMORY_HOST) {
      std::memcpy(staging_[0].data(), tensors_.in0.data(), kInputBytes);
      std::memcpy(staging_[1].data(), tensors_.in1.data(), kInputBytes);
    }
    Check(cudaGraphLaunch(graph_, stream_), "cudaGraphLaunch");
  } else {
    PlainCall();
  }
  Check(cudaEventRecord(event_, stream_), "cudaEventRecord");
  Check(cudaGetDevice(&device), "cudaGetDevice");
  Check(cudaStreamSynchronize(stream_), "cudaStreamSynchronize");
  if (path_.memory == INFERLET_MEMORY_HOST)
    std::memcpy(tensors_.out0.data(), staging_[2].data(), kOutputBytes);
}

}  // namespace inferlet_bench
