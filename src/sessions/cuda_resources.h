// Ownership of what the sessions interface takes from the CUDA runtime: device memory, pinned host
// memory, streams, events, graphs and executable graphs, each released by its own call when its owner
// goes.
// A release's own error is not reported: it concerns memory or a handle that is gone either way.
#ifndef INFERLET_SESSIONS_CUDA_RESOURCES_H_
#define INFERLET_SESSIONS_CUDA_RESOURCES_H_

#include <cuda_runtime_api.h>

#include <utility>

namespace sessions {

template <typename Handle, cudaError_t (*kRelease)(Handle)>
class CudaOwned {
 public:
  CudaOwned() = default;
  ~CudaOwned() { reset(); }

  CudaOwned(CudaOwned&& other) noexcept : mHandle(std::exchange(other.mHandle, nullptr)) {}
  CudaOwned& operator=(CudaOwned&& other) noexcept {
    if (this != &other) {
      reset();
      mHandle = std::exchange(other.mHandle, nullptr);
    }
    return *this;
  }
  CudaOwned(const CudaOwned&) = delete;
  CudaOwned& operator=(const CudaOwned&) = delete;

  Handle get() const { return mHandle; }
  // Where a CUDA call writes a new handle; whatever was held is released first.
  Handle* receive() {
    reset();
    return &mHandle;
  }
  void reset() {
    if (mHandle) (void)kRelease(std::exchange(mHandle, nullptr));
  }

 private:
  Handle mHandle = nullptr;
};

using DeviceMemory = CudaOwned<void*, cudaFree>;
using PinnedMemory = CudaOwned<void*, cudaFreeHost>;
using OwnedStream = CudaOwned<cudaStream_t, cudaStreamDestroy>;
using Event = CudaOwned<cudaEvent_t, cudaEventDestroy>;
using Graph = CudaOwned<cudaGraph_t, cudaGraphDestroy>;
using GraphExec = CudaOwned<cudaGraphExec_t, cudaGraphExecDestroy>;

}  // namespace sessions

#endif  // INFERLET_SESSIONS_CUDA_RESOURCES_H_
