// Orderings between a session's stream and the host's: the session's work after a producer's, a
// consumer's work after the session's. Each is an event recorded on one stream and waited for on the
// other, so the host never blocks; the session keeps one event for it.
#include "device_guard.h"
#include "host_stream.h"
#include "session.h"
#include "sticky_faults.h"

namespace sessions {

Status Session::wait_stream(void* producer) { return order(static_cast<cudaStream_t>(producer), true); }

Status Session::order_stream(void* consumer) { return order(static_cast<cudaStream_t>(consumer), false); }

// The session's later work after the host's stream's work so far (session_waits), or the other way. Taken as
// a call is (kBusy), so that it never lands inside a capture of the session's stream and the event is the
// thread's alone meanwhile.
Status Session::order(cudaStream_t host, bool session_waits) {
  int before = mState.load();
  if (before == kBusy || !mState.compare_exchange_strong(before, kBusy)) return busyFailure();
  const int device = mEngine->device();
  Status status = checkDevice(device);
  DeviceGuard guard;
  if (status.ok()) status = guard.enter(device);
  if (status.ok()) status = checkOrderingStream(host, device);
  if (status.ok() && !mOrderEvent.get()) {
    const cudaError_t code = cudaEventCreateWithFlags(mOrderEvent.receive(), cudaEventDisableTiming);
    if (code != cudaSuccess) status = cudaFailure(device, "cudaEventCreateWithFlags", code);
  }
  if (status.ok()) {
    const cudaStream_t producer = session_waits ? host : mResources.stream;
    const cudaStream_t waiting = session_waits ? mResources.stream : host;
    cudaError_t code = cudaEventRecord(mOrderEvent.get(), producer);
    if (code != cudaSuccess) {
      status = cudaFailure(device, "cudaEventRecord", code);
    } else if ((code = cudaStreamWaitEvent(waiting, mOrderEvent.get(), 0)) != cudaSuccess) {
      status = cudaFailure(device, "cudaStreamWaitEvent", code);
    }
  }
  mState.store(before);
  return status;
}

}  // namespace sessions
