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

std::vector<float> Ramp(size_t count, float scale) {
  std::vector<float> v(count);
  for (size_t i = 0; i < count; ++i) v[i] = static_cast<float>(i % 97) * scale;
  return v;
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) Die("cannot read " + path);
  std::string bytes(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) Die("cannot read " + path);
  return bytes;
}

std::string SmokeEnginePath() {
  return std::string(INFERLET_ENGINE_DIR) + "/smoke-trt" + std::to_string(NV_TENSORRT_MAJOR) + ".engine";
}

Config SmokeConfig() {
  Config c;
  c.in_shapes = {{{kSmokeBatch, 340}, {kSmokeBatch, 340}}};
  c.in_items = {{4, 4}};
  c.out_shapes = {{{kSmokeBatch, 338}}};
  c.out_items = {{4}};
  return c;
}

Config SquareDenseConfig(int k) {
  Config c;
  c.in_shapes = {{{1, k}}};
  c.in_items = {{4}};
  c.out_shapes = {{{1, k}}};
  c.out_items = {{4}};
  return c;
}

LibraryRunner::LibraryRunner(const std::string& engine, const Config& config, bool cuda_graph, int batch)
    : batch_(batch) {
  Config c = config;
  if (kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), 0, cuda_graph, c.in_shapes, c.in_items,
                      c.out_shapes, c.out_items, &handle_) != 0)
    Die("kestrel_trt_new failed");
  for (const auto& shape : c.in_shapes[0]) {
    size_t per_sample = 1;
    for (size_t i = 1; i < shape.size(); ++i) per_sample *= static_cast<size_t>(shape[i]);
    inputs_.push_back(
        Ramp(per_sample * static_cast<size_t>(batch), 0.01f * static_cast<float>(inputs_.size() + 1)));
  }
  for (const auto& in : inputs_) input_ptrs_.push_back(in.data());
  outputs_.resize(c.out_shapes[0].size());
  output_lens_.resize(c.out_shapes[0].size());
}

LibraryRunner::~LibraryRunner() {
  if (handle_) kestrel_trt_delete(handle_);
}

void LibraryRunner::Call() {
  if (kestrel_trt_process(handle_, 0, input_ptrs_.data(), static_cast<int>(input_ptrs_.size()), batch_,
                          outputs_.data(), output_lens_.data()) != 0)
    Die("kestrel_trt_process failed");
}

FloorRunner::FloorRunner(const std::string& engine, int batch, bool same_calls_as_library)
    : same_calls_as_library_(same_calls_as_library),
      in_bytes_(static_cast<size_t>(batch) * 340 * sizeof(float)),
      out_bytes_(static_cast<size_t>(batch) * 338 * sizeof(float)),
      in0_(Ramp(static_cast<size_t>(batch) * 340, 0.01f)),
      in1_(Ramp(static_cast<size_t>(batch) * 340, 0.02f)),
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
  if (!context_->setBindingDimensions(0, input_dims_) || !context_->setBindingDimensions(1, input_dims_))
    Die("setBindingDimensions failed");
}

FloorRunner::~FloorRunner() {
  if (stream_) cudaStreamDestroy(stream_);
  for (void* p : bindings_) cudaFree(p);
  context_.reset();
  engine_.reset();
}

void FloorRunner::Call() {
  if (same_calls_as_library_) {
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
  Check(cudaMemcpyAsync(bindings_[0], in0_.data(), in_bytes_, cudaMemcpyHostToDevice, stream_), "copy in0");
  Check(cudaMemcpyAsync(bindings_[1], in1_.data(), in_bytes_, cudaMemcpyHostToDevice, stream_), "copy in1");
  if (same_calls_as_library_) Check(cudaStreamSynchronize(stream_), "cudaStreamSynchronize");
  if (!context_->enqueueV2(bindings_.data(), stream_, nullptr)) Die("enqueueV2 failed");
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
