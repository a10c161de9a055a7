// The streams a host hands to the library to order against: one of the engine's device, or a special
// handle (cudaStreamLegacy, cudaStreamPerThread: the calling thread's default stream of the current
// device). NULL is refused, since what it names depends on how the host was compiled.
#ifndef INFERLET_SESSIONS_HOST_STREAM_H_
#define INFERLET_SESSIONS_HOST_STREAM_H_

#include <cuda_runtime_api.h>

#include "status.h"

namespace sessions {

// With device current.
Status checkHostStream(cudaStream_t stream, int device);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_HOST_STREAM_H_
