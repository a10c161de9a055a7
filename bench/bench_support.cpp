#include "bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace inferlet_bench {

namespace {

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "inferlet bench: %s\n", what.c_str());
  std::exit(1);
}

void Check(cudaError_t status, const char* what) {
  if (status != cudaSuccess) Die(std::string(what) + ": " + cudaGetErrorString(status));
}

class QuietLogger : public nvinfer1::ILogger {
 public:
  void log(Severity severity, const char* msg) noexcept override {
    if (severity <= Severity::kERROR) std::fprintf(stderr, "TensorRT: %s\n", msg);
  }
};
QuietLogger gQuietLogger;

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

#if NV_TENSORRT_MAJOR >= 10
// The smoke engine's I/O tensors, which are its bindings in this order.
constexpr const char* kTensors[] = {"in0", "in1", "out0"};
#endif

}  // namespace

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
#if NV_TENSORRT_MAJOR >= 10
  for (int b = 0; b < 3; ++b)
    if (!context_->setTensorAddress(kTensors[b], bindings_[b])) Die("setTensorAddress failed");
  if (!context_->setInputShape(kTensors[0], input_dims_) ||
      !context_->setInputShape(kTensors[1], input_dims_))
    Die("setInputShape failed");
#else
  if (!context_->setBindingDimensions(0, input_dims_) || !context_->setBindingDimensions(1, input_dims_))
    Die("setBindingDimensions failed");
#endif
}

FloorRunner::~FloorRunner() {
  if (stream_) cudaStreamDestroy(stream_);
  for (void* p : bindings_) cudaFree(p);
  context_.reset();
  engine_.reset();
}

#if NV_TENSORRT_MAJOR >= 10

void FloorRunner::LibraryCallsBeforeEnqueue() {
  // A switch drops shapes and addresses and blocks the next capture: only when the profile changes.
  if (context_->getOptimizationProfile() != 0) context_->setOptimizationProfileAsync(0, stream_);
  context_->setInputShape(kTensors[0], input_dims_);
  context_->setInputShape(kTensors[1], input_dims_);
  // The library asks inferShapes: allInputDimensionsSpecified does not follow setInputShape here.
  if (context_->inferShapes(0, nullptr) != 0)
    Die("not all input dimensions are set");
  for (int b = 0; b < 3; ++b) {  // the library checks each tensor's resolved size against its buffer
    benchmark_sink_ += context_->getTensorShape(kTensors[b]).nbDims;
    benchmark_sink_ += static_cast<int>(engine_->getTensorDataType(kTensors[b]));
  }
  for (int b = 0; b < 3; ++b)  // and sets every address again: a profile switch may drop them
    context_->setTensorAddress(kTensors[b], bindings_[b]);
}

bool FloorRunner::Enqueue() { return context_->enqueueV3(stream_); }

#else

void FloorRunner::LibraryCallsBeforeEnqueue() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  context_->setOptimizationProfile(0);
#pragma GCC diagnostic pop
  context_->setBindingDimensions(0, input_dims_);
  context_->setBindingDimensions(1, input_dims_);
  if (!context_->allInputDimensionsSpecified()) Die("not all input dimensions are set");
  for (int b = 0; b < 3; ++b) {  // the library checks each binding's resolved size against its buffer
    benchmark_sink_ += context_->getBindingDimensions(b).nbDims;
    benchmark_sink_ += static_cast<int>(engine_->getBindingDataType(b));
  }
}

bool FloorRunner::Enqueue() { return context_->enqueueV2(bindings_.data(), stream_, nullptr); }

#endif

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
