// What the benchmarks drive: the library through kestrel_trt_*, and the floor -- the same engine run
// directly through TensorRT with the least work a call needs. Plus readings of process memory.
#ifndef INFERLET_BENCH_BENCH_SUPPORT_H_
#define INFERLET_BENCH_BENCH_SUPPORT_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>

#include <string>
#include <vector>

#include "kestrel_trt.h"
#include "trt_support.h"

namespace inferlet_bench {

std::string ReadFile(const std::string& path);  // exits with a message when it cannot

// The sample smoke engine: in0, in1 [B, 340] float -> out0 [B, 338] float, batches 1 to 10.
constexpr int kSmokeBatch = 10;
std::string SmokeEnginePath();

// One tensor list per direction, as kestrel_trt_new takes them (a single profile).
struct Config {
  std::vector<std::vector<std::vector<int>>> in_shapes, out_shapes;
  std::vector<std::vector<int>> in_items, out_items;
};
Config SmokeConfig();
// x [1, k] -> y [1, k] float: the networks whose dense layer carries k * k weights.
Config SquareDenseConfig(int k);

// A kestrel_trt handle and the host inputs of full-batch calls.
class LibraryRunner {
 public:
  LibraryRunner(const std::string& engine, const Config& config, bool cuda_graph, int batch);
  ~LibraryRunner();
  LibraryRunner(const LibraryRunner&) = delete;
  LibraryRunner& operator=(const LibraryRunner&) = delete;
  void Call();  // one kestrel_trt_process; exits on failure

 private:
  trt_engine_core* handle_ = nullptr;
  int batch_;
  std::vector<std::vector<float>> inputs_;
  std::vector<const void*> input_ptrs_;
  std::vector<void*> outputs_;
  std::vector<int> output_lens_;
};

// The smoke engine run straight through TensorRT and CUDA: per call two input copies, one enqueueV2,
// one output copy and one stream synchronization. Dimensions are set once, up front.
// With same_calls_as_library, each call instead makes exactly the TensorRT and CUDA calls of the
// library's plain path (profile and dimensions every call, three synchronizations), so that what
// the platform costs can be told apart from what the library's own code costs.
class FloorRunner {
 public:
  FloorRunner(const std::string& engine, int batch, bool same_calls_as_library = false);
  ~FloorRunner();
  FloorRunner(const FloorRunner&) = delete;
  FloorRunner& operator=(const FloorRunner&) = delete;
  void Call();

 private:
  TrtUniquePtr<nvinfer1::IRuntime> runtime_;
  TrtUniquePtr<nvinfer1::ICudaEngine> engine_;
  TrtUniquePtr<nvinfer1::IExecutionContext> context_;
  cudaStream_t stream_ = nullptr;
  bool same_calls_as_library_;
  volatile int benchmark_sink_ = 0;
  nvinfer1::Dims input_dims_{};
  std::vector<void*> bindings_;
  size_t in_bytes_, out_bytes_;
  std::vector<float> in0_, in1_, out0_;
};

// Process memory from /proc/self/status, in bytes.
size_t ResidentBytes();      // VmRSS
size_t PeakResidentBytes();  // VmHWM
bool ResetPeakResident();    // restarts VmHWM from the current VmRSS; false where the kernel refuses

}  // namespace inferlet_bench

#endif  // INFERLET_BENCH_BENCH_SUPPORT_H_
