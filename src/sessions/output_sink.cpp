#include "output_sink.h"

#include <shared_mutex>

#include "engine.h"  // deviceMemoryCensus

namespace sessions {

void GrowingOutput::begin_call(void* host_memory, size_t capacity, size_t bound) {
  mHostMemory = host_memory;
  mHostCapacity = capacity;
  mBound = bound;
  mNotified = false;
  mError = cudaSuccess;
}

// The host's memory was checked against TensorRT's bound before the call; it is refused (null, and
// TensorRT fails the enqueue) only if TensorRT now asks for more. The sink's own memory is replaced by
// a larger allocation only when the call needs more than it holds, and then takes the call's bound, so
// that the next calls at these shapes fit whatever they keep: the previous call has completed (a
// session runs one call at a time), so nothing queued still uses the memory released.
void* GrowingOutput::reserve(uint64_t bytes, cudaStream_t) {
  if (mHostMemory) return bytes <= mHostCapacity ? mHostMemory : nullptr;
  if (bytes <= mOwnBytes) return mOwn.get();
  std::shared_lock<std::shared_mutex> census(deviceMemoryCensus());
  release();
  const size_t size = bytes > mBound ? static_cast<size_t>(bytes) : mBound;
  mError = cudaMalloc(mOwn.receive(), size);
  if (mError != cudaSuccess) return nullptr;
  mOwnBytes = size;
  return mOwn.get();
}

}  // namespace sessions
