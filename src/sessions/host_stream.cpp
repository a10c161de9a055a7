#include "host_stream.h"

#include <string>

#include "sticky_faults.h"

namespace sessions {

Status checkStreamDevice(cudaStream_t stream, int device) {
  int owner = -1;
  const cudaError_t code = cudaStreamGetDevice(stream, &owner);
  if (code != cudaSuccess) return cudaFailure(device, "cudaStreamGetDevice", code);
  if (owner == device) return Status();
  return Status::failure(INFERLET_INVALID_ARGUMENT, "stream is a stream of device " + std::to_string(owner) +
                                                        ", the engine is on device " +
                                                        std::to_string(device));
}

Status checkOrderingStream(cudaStream_t stream, int device) {
  if (!stream) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           "stream is NULL, whose meaning depends on how the caller was compiled: give "
                           "cudaStreamLegacy or cudaStreamPerThread for a default stream");
  }
  if (stream == cudaStreamLegacy || stream == cudaStreamPerThread) return Status();
  return checkStreamDevice(stream, device);
}

}  // namespace sessions
