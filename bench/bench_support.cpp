#include "bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace inferlet_bench {

void Die(const std::string& what) {
  std::fprintf(stderr, "inferlet bench: %s\n", what.c_str());
  std::exit(1);
}

namespace {

void Check(cudaError_t status, const char* what) {
  if (status != cudaSuccess) Die(std::string(what) + ": " + cudaGetErrorString(status));
}

class QuietLoggerImpl : public nvinfer1::ILogger {
 public:
  void log(Severity severity, const char* msg) noexcept override {
    if (severity <= Severity::kERROR) std::fprintf(stderr, "TensorRT: %s\n", msg);
  }
};
QuietLoggerImpl gQuietLogger;

size_t StatusField(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0)
      return std::strtoull(line.c_str() + prefix.size(), nullptr, 10) * 1024;
  return 0;
}

constexpr uint32_t kInputSeed = 1;

}  // namespace

nvinfer1::ILogger& QuietLogger() { return gQuietLogger; }

LibraryRunner::LibraryRunner(const std::string& engine, const ModelConfig& config, bool cuda_graph, int batch)
    : handle_(inferlet_test::NewHandle(engine, config, cuda_graph)),
      batch_(batch),
      inputs_(config, 0, batch, kInputSeed),
      outputs_(config.out_shapes[0].size()),
      output_lens_(config.out_shapes[0].size()) {
  if (!handle_) Die("kestrel_trt_new failed");
}

void LibraryRunner::Call() {
  if (kestrel_trt_process(handle_.get(), 0, inputs_.pointers(), inputs_.count(), batch_, outputs_.data(),
                          output_lens_.data()) != 0)
    Die("kestrel_trt_process failed");
}

FloorRunner::FloorRunner(const std::string& engine, int batch, bool same_calls_as_library)
    : same_calls_as_library_(same_calls_as_library),
      in_bytes_(static_cast<size_t>(batch) * 340 * sizeof(float)),
      out_bytes_(static_cast<size_t>(batch) * 338 * sizeof(float)),
      inputs_(SmokeConfig(), 0, batch, kInputSeed),
      out0_(static_cast<size_t>(batch) * 338) {
  runtime_.reset(nvinfer1::createInferRuntime(gQuietLogger));
  if (!runtime_) Die("createInferRuntime failed");
  engine_.reset(runtime_->deserializeCudaEngine(engine.data(), engine.size()));
  if (!engine_) Die("deserializeCudaEngine failed");
  context_.reset(engine_->createExecutionContext());
  if (!context_) Die("createExecutionContext failed");
  Check(cudaStreamCreate(&stream_), "cudaStreamCreate");
  bindings_.assign(3, nullptr);
  for (int b = 0; b < 3; ++b) Check(cudaMalloc(&bindings_[b], b < 2 ? in_bytes_ : out_bytes_), "cudaMalloc");
  input_dims_.nbDims = 2;
  input_dims_.d[0] = batch;
  input_dims_.d[1] = 340;
  // Looked up here, so that a call makes only the TensorRT calls of its operations.
  for (int b = 0; b < 3; ++b) smoke_.push_back(trt_binding::binding(*engine_, b));
  for (int b = 0; b < 3; ++b)
    if (!trt_binding::bindAddress(*context_, smoke_[b], bindings_[b])) Die("a device address was refused");
  if (!trt_binding::setInputDimensions(*context_, smoke_[0], input_dims_) ||
      !trt_binding::setInputDimensions(*context_, smoke_[1], input_dims_))
    Die("the input dimensions were refused");
}

FloorRunner::~FloorRunner() {
  if (stream_) cudaStreamDestroy(stream_);
  for (void* p : bindings_) cudaFree(p);
  context_.reset();
  engine_.reset();
}

// Through the seam operations the library's plain path uses, in its order: the profile, the inputs'
// dimensions and whether they are complete, each binding's resolved size, every address.
void FloorRunner::LibraryCallsBeforeEnqueue() {
  trt_binding::selectProfile(*context_, 0, stream_);
  trt_binding::setInputDimensions(*context_, smoke_[0], input_dims_);
  trt_binding::setInputDimensions(*context_, smoke_[1], input_dims_);
  if (!trt_binding::allInputDimensionsSpecified(*context_)) Die("not all input dimensions are set");
  for (int b = 0; b < 3; ++b) {  // the library checks each binding's resolved size against its buffer
    benchmark_sink_ += trt_binding::resolvedDimensions(*context_, smoke_[b]).nbDims;
    benchmark_sink_ += static_cast<int>(trt_binding::bindingDataType(*engine_, smoke_[b]));
  }
  for (int b = 0; b < 3; ++b)  // and hands every address over again, where TensorRT takes them per tensor
    trt_binding::bindAddress(*context_, smoke_[b], bindings_[b]);
}

bool FloorRunner::Enqueue() { return trt_binding::enqueue(*context_, bindings_.data(), stream_); }

void FloorRunner::Call() {
  if (same_calls_as_library_) LibraryCallsBeforeEnqueue();
  Check(cudaMemcpyAsync(bindings_[0], inputs_.pointers()[0], in_bytes_, cudaMemcpyHostToDevice, stream_),
        "copy in0");
  Check(cudaMemcpyAsync(bindings_[1], inputs_.pointers()[1], in_bytes_, cudaMemcpyHostToDevice, stream_),
        "copy in1");
  if (same_calls_as_library_) Check(cudaStreamSynchronize(stream_), "cudaStreamSynchronize");
  if (!Enqueue()) Die("enqueue failed");
  if (same_calls_as_library_) Check(cudaStreamSynchronize(stream_), "cudaStreamSynchronize");
  Check(cudaMemcpyAsync(out0_.data(), bindings_[2], out_bytes_, cudaMemcpyDeviceToHost, stream_),
        "copy out0");
  Check(cudaStreamSynchronize(stream_), "cudaStreamSynchronize");
}

size_t ResidentBytes() { return StatusField("VmRSS"); }
size_t PeakResidentBytes() { return StatusField("VmHWM"); }

bool ResetPeakResident() {
  std::ofstream out("/proc/self/clear_refs");
  out << "5";
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace inferlet_bench
