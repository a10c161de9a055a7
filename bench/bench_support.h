// What the benchmarks drive: the library through kestrel_trt_*, and the floor -- the same engine run
// directly through TensorRT with the least work a call needs. Plus readings of process memory. The
// engines, their configurations and the call inputs come from support/ (samples.h, handles.h).
// Built once per TensorRT generation: the binding-index API (8) and the named-tensor API (10).
#ifndef INFERLET_BENCH_BENCH_SUPPORT_H_
#define INFERLET_BENCH_BENCH_SUPPORT_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>

#include <string>
#include <vector>

#include "handles.h"
#include "kestrel_trt.h"
#include "samples.h"
#include "trt_binding.h"

namespace inferlet_bench {

using inferlet_test::EnginePath;
using inferlet_test::ModelConfig;
using inferlet_test::ReadFile;  // throws when it cannot read
using inferlet_test::SmokeConfig;
using inferlet_test::SquareDenseConfig;

// Prints "inferlet bench: <what>" on standard error and exits with status 1.
[[noreturn]] void Die(const std::string& what);

// A TensorRT logger that prints errors only.
nvinfer1::ILogger& QuietLogger();

// The sample smoke engine (EnginePath("smoke")): in0, in1 [B, 340] float -> out0 [B, 338] float,
// batches 1 to 10.
constexpr int kSmokeBatch = 10;

// A kestrel_trt handle and the host inputs of full-batch calls on profile 0.
class LibraryRunner {
 public:
  LibraryRunner(const std::string& engine, const ModelConfig& config, bool cuda_graph, int batch);
  void Call();  // one kestrel_trt_process; exits on failure

 private:
  inferlet_test::Handle handle_;
  int batch_;
  inferlet_test::CallInputs inputs_;
  std::vector<void*> outputs_;
  std::vector<int> output_lens_;
};

// The smoke engine run straight through TensorRT and CUDA: per call two input copies, one enqueue
// (enqueueV2, or enqueueV3 on 10), one output copy and one stream synchronization. Dimensions (and on
// 10 the tensor addresses) are set once, up front.
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
  void LibraryCallsBeforeEnqueue();  // the library's TensorRT calls of one plain call
  bool Enqueue();

  TrtUniquePtr<nvinfer1::IRuntime> runtime_;  // outlives the engine (undefined otherwise on 10)
  TrtUniquePtr<nvinfer1::ICudaEngine> engine_;
  TrtUniquePtr<nvinfer1::IExecutionContext> context_;
  cudaStream_t stream_ = nullptr;
  bool same_calls_as_library_;
  volatile int benchmark_sink_ = 0;
  trt_binding::Extents input_dims_;
  std::vector<trt_binding::Binding> smoke_;  // in0, in1, out0, looked up once
  std::vector<void*> bindings_;
  size_t in_bytes_, out_bytes_;
  inferlet_test::CallInputs inputs_;  // in0, in1
  std::vector<float> out0_;
};

// Process memory from /proc/self/status, in bytes.
size_t ResidentBytes();      // VmRSS
size_t PeakResidentBytes();  // VmHWM
bool ResetPeakResident();    // restarts VmHWM from the current VmRSS; false where the kernel refuses

}  // namespace inferlet_bench

#endif  // INFERLET_BENCH_BENCH_SUPPORT_H_
