// What the sessions benchmarks drive on the sample smoke engine at batch 10: a session through the C
// header (include/inferlet_sessions.h), and its floor, the same engine driven directly through TensorRT
// and CUDA with exactly the calls one session call makes, so that the difference is the sessions
// library's own code. Both take their tensors in one memory kind, host, pinned or device.
#ifndef INFERLET_BENCH_SESSION_RUNNERS_H_
#define INFERLET_BENCH_SESSION_RUNNERS_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>
#include <inferlet_sessions.h>

#include <cstddef>
#include <string>
#include <vector>

#include "trt_binding.h"
#include "trt_support.h"

namespace inferlet_bench {

// One way of calling a session: the memory kind of every tensor, the entry points, CUDA graphs.
struct SessionPath {
  const char* name;  // the benchmark's "session/<name>", the probe's "session_<name>"
  inferlet_memory memory;
  bool enqueue_wait;  // inferlet_session_enqueue then inferlet_session_wait; else inferlet_session_run
  bool cuda_graphs;   // every call after the first replays the graph captured by the first
};

extern const SessionPath kSessionPaths[];
extern const size_t kSessionPathCount;
// Null for a name not among them.
const SessionPath* FindSessionPath(const std::string& name);

// Memory of one kind for one tensor: ordinary host memory, cudaMallocHost or cudaMalloc.
class TensorMemory {
 public:
  TensorMemory(inferlet_memory kind, size_t bytes);  // exits when it cannot be had
  ~TensorMemory();
  TensorMemory(TensorMemory&& other) noexcept;
  TensorMemory& operator=(TensorMemory&&) = delete;
  TensorMemory(const TensorMemory&) = delete;
  TensorMemory& operator=(const TensorMemory&) = delete;

  void* data() const { return data_; }
  size_t bytes() const { return bytes_; }
  void Fill(const float* values);  // bytes() bytes from the host

 private:
  inferlet_memory kind_;
  size_t bytes_;
  void* data_ = nullptr;
};

// The smoke engine's tensors of one call (in0, in1 [10, 340] -> out0 [10, 338]), inputs filled from a
// seed, in the memory kind of path.
class SmokeCall {
 public:
  explicit SmokeCall(inferlet_memory memory);
  TensorMemory in0, in1, out0;
};

// A session of the smoke engine on its one profile, its own stream, with graphs where path asks.
class SessionRunner {
 public:
  SessionRunner(const std::string& engine, const SessionPath& path);
  ~SessionRunner();
  SessionRunner(const SessionRunner&) = delete;
  SessionRunner& operator=(const SessionRunner&) = delete;
  void Call();  // one call as path makes it; exits on failure

 private:
  const SessionPath path_;
  inferlet_engine* engine_ = nullptr;
  inferlet_session* session_ = nullptr;
  SmokeCall tensors_;
  inferlet_tensor inputs_[2];
  inferlet_tensor outputs_[1];
};

// The smoke engine straight through TensorRT and CUDA, making per call the TensorRT and CUDA calls of a
// session call on path, in its order, and the host copies through pinned staging of host-memory
// tensors; set up as a session is (its own non-blocking stream, an event, device buffers and staging
// at the profile's largest shapes, the profile selected once).
class SessionFloor {
 public:
  SessionFloor(const std::string& engine, const SessionPath& path);
  ~SessionFloor();
  SessionFloor(const SessionFloor&) = delete;
  SessionFloor& operator=(const SessionFloor&) = delete;
  void Call();

 private:
  void* Address(int tensor) const;  // what TensorRT reads or writes for it
  void PlainCall();
  void QueueWork();  // uploads, enqueue, downloads, as the session queues them
  void Capture();

  const SessionPath path_;
  TrtUniquePtr<nvinfer1::IRuntime> runtime_;  // outlives the engine (undefined otherwise on 10)
  TrtUniquePtr<nvinfer1::ICudaEngine> engine_;
  TrtUniquePtr<nvinfer1::IExecutionContext> context_;
  cudaStream_t stream_ = nullptr;
  cudaEvent_t event_ = nullptr;
  cudaGraphExec_t graph_ = nullptr;
  std::vector<trt_binding::Binding> smoke_;  // in0, in1, out0
  trt_binding::Extents input_dims_;
  std::vector<TensorMemory> buffers_;  // device, per tensor
  std::vector<TensorMemory> staging_;  // pinned, per tensor
  std::vector<void*> bindings_;
  SmokeCall tensors_;
  volatile int sink_ = 0;
};

}  // namespace inferlet_bench

#endif  // INFERLET_BENCH_SESSION_RUNNERS_H_
