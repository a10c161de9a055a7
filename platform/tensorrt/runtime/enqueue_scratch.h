// The enqueue scratch option (TRT_STANDIN_ENQUEUE_SCRATCH=1, trt_standin_set_enqueue_scratch): every
// enqueue takes temporary device memory, uses it through stream work and frees it before it returns,
// as TensorRT may ("freed by the time enqueueV3() returns"). Inside a stream capture that is a
// potentially unsafe call: refused in Global and ThreadLocal mode, and in Relaxed mode the graph keeps
// the freed address, which its instantiation refuses.
#ifndef TRT_STANDIN_RUNTIME_ENQUEUE_SCRATCH_H_
#define TRT_STANDIN_RUNTIME_ENQUEUE_SCRATCH_H_

#include <cuda_runtime_api.h>

#include <string>

namespace trt_standin {
namespace scratch {

bool enabled();
// Reads TRT_STANDIN_ENQUEUE_SCRATCH (0 or unset: off), at load and by every reset.
void load_from_environment();

// cudaMalloc, cudaMemsetAsync on stream, cudaFree; false with "<call> failed: <CUDA text>" in *why.
bool use_temporary_memory(cudaStream_t stream, std::string* why);

}  // namespace scratch
}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_ENQUEUE_SCRATCH_H_
