// The memory of an output whose extents TensorRT learns only while the call runs (data-dependent:
// non-maximum suppression, NonZero). TensorRT asks it for memory during the enqueue and tells it the
// shape before the enqueue returns. It hands over the host's device memory when the call's output is
// there, and otherwise memory of its own that grows when a call needs more than it holds, to TensorRT's
// bound at that call's input shapes, and is kept for the next calls: calls stop allocating once it has
// grown to the largest bound they reach, however their sizes vary.
#ifndef INFERLET_SESSIONS_OUTPUT_SINK_H_
#define INFERLET_SESSIONS_OUTPUT_SINK_H_

#include <cuda_runtime_api.h>

#include <cstddef>
#include <cstdint>

#include "cuda_resources.h"
#include "trt_binding.h"

namespace sessions {

class GrowingOutput final : public trt_binding::OutputSink {
 public:
  // Before each enqueue: the host's device memory of capacity bytes, or null for the sink's own memory;
  // bound, what TensorRT says the output may take at the call's input shapes.
  void begin_call(void* host_memory, size_t capacity, size_t bound);
  // The address TensorRT is given before the enqueue: the host's memory, or the sink's own (null before
  // it first grew).
  void* address() const { return mHostMemory ? mHostMemory : mOwn.get(); }

  void* reserve(uint64_t bytes, cudaStream_t stream) override;
  void shape(const trt_binding::Extents& dims) override { mDims = dims, mNotified = true; }

  // What the last enqueue left: whether TensorRT told the shape, the shape, and the CUDA error of an
  // allocation that failed (cudaSuccess when none did).
  bool notified() const { return mNotified; }
  const trt_binding::Extents& dims() const { return mDims; }
  cudaError_t allocation_error() const { return mError; }

  size_t own_bytes() const { return mOwnBytes; }
  // Releases the sink's own memory (with the device's memory census held by the caller).
  void release() { mOwn.reset(), mOwnBytes = 0; }

 private:
  DeviceMemory mOwn;
  size_t mOwnBytes = 0;
  void* mHostMemory = nullptr;
  size_t mHostCapacity = 0;
  size_t mBound = 0;
  trt_binding::Extents mDims;
  bool mNotified = false;
  cudaError_t mError = cudaSuccess;
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_OUTPUT_SINK_H_
