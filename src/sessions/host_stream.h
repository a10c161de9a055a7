// The streams a host hands to the library. A session's stream must be one stream of the engine's device;
// a stream to order against may also be a special handle (cudaStreamLegacy, cudaStreamPerThread: the
// calling thread's default stream of the current device). NULL is never one to order against, since what
// it names depends on how the host was compiled. Each check runs with the engine's device current.
#ifndef INFERLET_SESSIONS_HOST_STREAM_H_
#define INFERLET_SESSIONS_HOST_STREAM_H_

#include <cuda_runtime_api.h>

#include "status.h"

namespace sessions {

// stream, a stream handle other than the special ones, belongs to device (cudaStreamGetDevice).
Status checkStreamDevice(cudaStream_t stream, int device);
// stream may be ordered against: not NULL, a special handle or a stream of device.
Status checkOrderingStream(cudaStream_t stream, int device);

}  // namespace sessions

#endif  // INFERLET_SESSIONS_HOST_STREAM_H_
