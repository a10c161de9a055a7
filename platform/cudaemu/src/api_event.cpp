// Exported event calls. An event recorded outside a capture is an item in its stream's queue: it
// completes when that item has run, and a stream made to wait for it waits for that item. Inside a
// capture (one stream per capture, so nothing to fork or join) a record marks the event as captured
// and a wait on it in the same capture is already ordered. The time between two events is that
// between the moments their records ran.
#include <cuda_runtime_api.h>

#include <chrono>
#include <memory>

#include "api_call.h"
#include "capture.h"
#include "engine.h"

using cudaemu::ApiCall;
using cudaemu::as_arg;
using cudaemu::Event;
using cudaemu::Lock;
using cudaemu::Stream;

namespace {

constexpr unsigned kKnownCreateFlags = cudaEventBlockingSync | cudaEventDisableTiming | cudaEventInterprocess;

// Null and unknown handles alike name no event.
Event* find_event(cudaemu::Emulator& emu, cudaEvent_t handle) {
  auto it = emu.events.find(handle);
  return it == emu.events.end() ? nullptr : it->second.get();
}

// The stream holding the capture the event was recorded in, while that capture lasts.
Stream* capture_of(const Event& event) {
  const Stream& s = *event.stream;
  return s.capturing() && s.capture.id == event.capture_id ? event.stream.get() : nullptr;
}

cudaError_t create_event(ApiCall& call, cudaEvent_t* event, unsigned flags) {
  auto& emu = call.emu();
  Lock lock(emu.mu);
  // Made like a stream: refused as a potentially unsafe call during a capture.
  if (cudaError_t refused = cudaemu::refuse_unsafe_call(emu)) return call.finish(refused);
  auto created = std::make_unique<Event>();
  created->device = emu.current_device();
  created->flags = flags;
  auto handle = reinterpret_cast<cudaEvent_t>(created.get());
  emu.events.emplace(handle, std::move(created));
  *event = handle;
  call.set_arg(0, as_arg(handle));
  return call.finish(cudaSuccess);
}

cudaError_t record(ApiCall& call, cudaEvent_t handle, cudaStream_t stream, unsigned flags) {
  if ((flags & ~static_cast<unsigned>(cudaEventRecordExternal)) != 0)
    return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  Event* event = find_event(emu, handle);
  if (event == nullptr) return call.finish(cudaErrorInvalidResourceHandle);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<Stream> s = cudaemu::stream_for_use(emu, stream, true, &refused);
  if (!s) return call.finish(refused);
  // "event and stream must be on the same CUDA context"; that the current device be theirs as well
  // is the stricter reading where the documentation is silent.
  if (s->device != event->device || emu.current_device() != event->device)
    return call.finish(cudaErrorInvalidResourceHandle);
  if (s->capturing()) {
    if (s->capture.status == cudaStreamCaptureStatusInvalidated)
      return call.finish(cudaErrorStreamCaptureInvalidated);
    // An external event node needs graph nodes of a kind the emulated graphs do not have.
    if (flags & cudaEventRecordExternal) return call.finish(cudaErrorNotSupported);
    event->state = Event::State::Captured;
    event->stream = std::move(s);
    event->capture_id = event->stream->capture.id;
    return call.finish(cudaSuccess);
  }
  event->stamp = std::make_shared<cudaemu::EventStamp>();
  event->record_seq = cudaemu::enqueue_event_record(emu, *s, event->stamp);
  event->state = Event::State::Queued;
  event->stream = std::move(s);
  return call.finish(cudaSuccess);
}

// A wait issued to a capturing stream: only an event recorded in the same capture (or never) can be
// waited for; anything else is a dependency across the capture's boundary and invalidates it.
cudaError_t wait_in_capture(ApiCall& call, Stream& s, Event& event, unsigned flags) {
  if (s.capture.status == cudaStreamCaptureStatusInvalidated)
    return call.finish(cudaErrorStreamCaptureInvalidated);
  if (flags & cudaEventWaitExternal) return call.finish(cudaErrorNotSupported);
  switch (event.state) {
    case Event::State::Unrecorded:
      return call.finish(cudaSuccess);  // an empty set of work
    case Event::State::Captured:
      if (event.capture_id == s.capture.id) return call.finish(cudaSuccess);  // one stream: in order already
      if (Stream* other = capture_of(event)) {
        // Another capture's event would merge the two capture sequences.
        cudaemu::invalidate(*other);
        cudaemu::invalidate(s);
        return call.finish(cudaErrorStreamCaptureMerge);
      }
      cudaemu::invalidate(s);
      return call.finish(cudaErrorCapturedEvent);
    case Event::State::Queued:
      break;
  }
  // Recorded outside any capture: a dependency on uncaptured work.
  cudaemu::invalidate(s);
  return call.finish(cudaErrorStreamCaptureIsolation);
}

// Why the time between start and end cannot be told, in the order the documentation gives the
// reasons; cudaSuccess when it can.
cudaError_t elapsed_refusal(cudaemu::Emulator& emu, const Event* start, const Event* end) {
  if (start == nullptr || end == nullptr) return cudaErrorInvalidResourceHandle;
  for (const Event* e : {start, end}) {
    // "If cudaEventRecord() has not been called on either event" and "created with the
    // cudaEventDisableTiming flag".
    if (e->state == Event::State::Unrecorded || (e->flags & cudaEventDisableTiming) != 0)
      return cudaErrorInvalidResourceHandle;
  }
  // Nothing is documented for events last recorded in a capture or of two devices: refused, as a
  // query of a captured event is, and as events of two contexts share no clock.
  for (const Event* e : {start, end})
    if (e->state == Event::State::Captured) return cudaErrorCapturedEvent;
  if (start->device != end->device) return cudaErrorInvalidResourceHandle;
  // Reading another stream's progress during a capture is treated as a query is.
  if (cudaError_t refused = cudaemu::refuse_unsafe_call(emu)) return refused;
  // Reached when the record's item ran (work dropped after a sticky fault never reaches it).
  for (const Event* e : {start, end})
    if (!e->stamp || !e->stamp->reached) return cudaErrorNotReady;
  return cudaSuccess;
}

}  // namespace

extern "C" {

cudaError_t cudaEventCreate(cudaEvent_t* event) {
  ApiCall call("cudaEventCreate", {});
  if (call.answered_early()) return call.early_result();
  if (event == nullptr) return call.finish(cudaErrorInvalidValue);
  return create_event(call, event, cudaEventDefault);
}

cudaError_t cudaEventCreateWithFlags(cudaEvent_t* event, unsigned int flags) {
  ApiCall call("cudaEventCreateWithFlags", {0, flags});
  if (call.answered_early()) return call.early_result();
  if (event == nullptr || (flags & ~kKnownCreateFlags) != 0) return call.finish(cudaErrorInvalidValue);
  if (flags & cudaEventInterprocess) {
    // "cudaEventInterprocess must be specified along with cudaEventDisableTiming"; with it, an event
    // for other processes is more than the emulator models.
    return call.finish((flags & cudaEventDisableTiming) ? cudaErrorNotSupported : cudaErrorInvalidValue);
  }
  return create_event(call, event, flags);
}

cudaError_t cudaEventRecord(cudaEvent_t event, cudaStream_t stream) {
  ApiCall call("cudaEventRecord", {as_arg(event), as_arg(stream)});
  if (call.answered_early()) return call.early_result();
  return record(call, event, stream, cudaEventRecordDefault);
}

cudaError_t cudaEventRecordWithFlags(cudaEvent_t event, cudaStream_t stream, unsigned int flags) {
  ApiCall call("cudaEventRecordWithFlags", {as_arg(event), as_arg(stream), flags});
  if (call.answered_early()) return call.early_result();
  return record(call, event, stream, flags);
}

cudaError_t cudaEventQuery(cudaEvent_t event) {
  ApiCall call("cudaEventQuery", {as_arg(event)});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  Event* e = find_event(emu, event);
  if (e == nullptr) return call.finish(cudaErrorInvalidResourceHandle);
  if (e->state == Event::State::Captured) return call.finish(cudaErrorCapturedEvent);
  // Querying another stream's progress is potentially unsafe during a capture, as synchronizing it is.
  if (cudaError_t refused = cudaemu::refuse_unsafe_call(emu)) return call.finish(refused);
  // Asking runs nothing: without a wait the emulated device makes no progress.
  if (e->state == Event::State::Queued && !cudaemu::has_run(*e->stream, e->record_seq))
    return call.finish(cudaErrorNotReady);
  return call.finish(cudaSuccess);
}

cudaError_t cudaEventSynchronize(cudaEvent_t event) {
  ApiCall call("cudaEventSynchronize", {as_arg(event)});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  Event* e = find_event(emu, event);
  if (e == nullptr) return call.finish(cudaErrorInvalidResourceHandle);
  if (e->state == Event::State::Captured) return call.finish(cudaErrorCapturedEvent);
  if (cudaError_t refused = cudaemu::refuse_unsafe_call(emu)) return call.finish(refused);
  if (e->state == Event::State::Queued) {
    // The event may be re-recorded or destroyed while this thread runs host functions unlocked.
    std::shared_ptr<Stream> stream = e->stream;
    cudaemu::drain(emu, lock, *stream, e->record_seq + 1);
    emu.prune_retired();
  }
  return call.finish(cudaSuccess);  // a fault the work hit answers through the sticky state
}

cudaError_t cudaEventElapsedTime(float* ms, cudaEvent_t start, cudaEvent_t end) {
  ApiCall call("cudaEventElapsedTime", {as_arg(start), as_arg(end)});
  if (call.answered_early()) return call.early_result();
  if (ms == nullptr) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  const Event* first = find_event(emu, start);
  const Event* last = find_event(emu, end);
  if (cudaError_t refused = elapsed_refusal(emu, first, last)) return call.finish(refused);
  *ms = std::chrono::duration<float, std::milli>(last->stamp->at - first->stamp->at).count();
  return call.finish(cudaSuccess);
}

cudaError_t cudaEventDestroy(cudaEvent_t event) {
  ApiCall call("cudaEventDestroy", {as_arg(event)});
  if (call.answered_early()) return call.early_result();
  auto& emu = call.emu();
  Lock lock(emu.mu);
  // Queued records and waits keep what they need: destroying an event before it completed is safe.
  if (emu.events.erase(event) == 0) return call.finish(cudaErrorInvalidResourceHandle);
  return call.finish(cudaSuccess);
}

cudaError_t cudaStreamWaitEvent(cudaStream_t stream, cudaEvent_t event, unsigned int flags) {
  ApiCall call("cudaStreamWaitEvent", {as_arg(stream), as_arg(event), flags});
  if (call.answered_early()) return call.early_result();
  if ((flags & ~static_cast<unsigned>(cudaEventWaitExternal)) != 0) return call.finish(cudaErrorInvalidValue);
  auto& emu = call.emu();
  Lock lock(emu.mu);
  Event* e = find_event(emu, event);
  if (e == nullptr) return call.finish(cudaErrorInvalidResourceHandle);
  cudaError_t refused = cudaSuccess;
  std::shared_ptr<Stream> s = cudaemu::stream_for_use(emu, stream, true, &refused);
  if (!s) return call.finish(refused);
  // "event may be from a different device than stream"; the stream must be the current device's (the
  // stricter reading: the documentation is silent).
  if (emu.is_foreign(*s)) return call.finish(cudaErrorInvalidResourceHandle);
  if (s->capturing()) return wait_in_capture(call, *s, *e, flags);
  switch (e->state) {
    case Event::State::Unrecorded:
      return call.finish(cudaSuccess);
    case Event::State::Captured:
      if (Stream* capture = capture_of(*e)) {
        // On a GPU the waiting stream would join that capture: more than one stream per capture,
        // which the emulator does not model.
        cudaemu::invalidate(*capture);
        return call.finish(cudaErrorStreamCaptureUnsupported);
      }
      return call.finish(cudaErrorCapturedEvent);
    case Event::State::Queued:
      break;
  }
  // In one stream the order holds already; otherwise the stream's later work waits for the record.
  if (e->stream != s && !cudaemu::has_run(*e->stream, e->record_seq))
    cudaemu::enqueue_wait(emu, *s, e->stream, e->record_seq + 1);
  return call.finish(cudaSuccess);
}

}  // extern "C"
