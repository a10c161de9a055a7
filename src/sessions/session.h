// A session: one execution context of an engine on one profile (holding that profile's activation
// memory where TensorRT sizes it per profile), its stream (its own non-blocking one, or the host's), its
// device buffers and pinned staging at the profile's largest shapes as its memory kinds need, the event
// recorded after each call's work, and the calls it runs one at a time, with CUDA graphs when asked
// for.
#ifndef INFERLET_SESSIONS_SESSION_H_
#define INFERLET_SESSIONS_SESSION_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "call.h"
#include "cuda_resources.h"
#include "engine.h"
#include "graph_cache.h"
#include "inferlet_sessions.h"
#include "phase_timer.h"
#include "status.h"
#include "trt_support.h"

namespace sessions {

// INFERLET_BUSY for a call refused because another thread is inside one of the session's.
Status busyFailure();

class Session {
  struct Made {  // only create makes sessions
    explicit Made() = default;
  };

 public:
  // options: every field read, whichever form the host handed in (session_options.h).
  static Status create(std::shared_ptr<Engine> engine, const inferlet_session_config& options,
                       std::unique_ptr<Session>* session);
  Session(Made, std::shared_ptr<Engine> engine, const inferlet_session_config& options);
  // Waits for the stream's work, then releases the context, the stream (if its own), the buffers, the
  // staging and the graphs, and gives the profile back.
  ~Session();

  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Status enqueue(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
                 size_t output_count);
  Status wait();
  Status run(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
             size_t output_count);
  // The event recorded after the work of the call enqueued and not yet waited for.
  Status event(void** event);
  // The outputs' shapes for the inputs' shapes, from TensorRT, with nothing queued, and where bounds is
  // not null (checked by the caller) each output's bound (resolve_shapes.cpp).
  Status resolve_shapes(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
                        size_t output_count, inferlet_output_bound* bounds);

  // The session's stream, and orderings between it and the host's streams (stream_order.cpp): the
  // session's later work after what producer has queued, consumer's later work after the session's.
  cudaStream_t stream() const { return mResources.stream; }
  Status wait_stream(void* producer);
  Status order_stream(void* consumer);

  // The context's memory, the buffers, and what the data-dependent outputs' memory has grown to.
  size_t device_memory() const;
  // The last completed call's phase times (options.phase_timing).
  Status phase_times(inferlet_phase_times* times) const { return mTimer.last(times); }

 private:
  // kIdle -> kBusy (a thread is in enqueue, run or wait) -> kQueued (enqueued, not waited for) or kIdle.
  enum State : int { kIdle, kBusy, kQueued };

  Status init(void* host_stream);
  Status supply_context_memory();
  Status allocate_buffers();
  Status allocate_tensor(size_t tensor, const trt_binding::Extents& dims);
  Status prepare_shape_tensors();
  Status prepare_data_dependent(size_t tensor, size_t* capacity);
  void warn_graphs_off();
  void write_bounds(inferlet_output_bound* bounds, size_t output_count) const;

  Status begin_call();
  Status start(const inferlet_tensor* inputs, size_t input_count, inferlet_tensor* outputs,
               size_t output_count);
  Status complete();
  Status abandon(Status failure);
  Status queue_timed_work();
  Status capture();
  Status record_graph(GraphExec* exec);
  Status order(cudaStream_t host, bool session_waits);

  const std::shared_ptr<Engine> mEngine;
  const int mProfile;
  const bool mUseGraphs;
  const size_t mGraphCacheSize;
  const bool mPhaseTiming;
  const uint64_t mMemoryKinds;  // never 0: the config's 0 is every kind
  bool mProfileClaimed = false;

  // The context's activation memory where the session supplies it (10, 11), released after the context.
  DeviceMemory mContextMemory;
  size_t mContextBytes = 0;
  TrtUniquePtr<nvinfer1::IExecutionContext> mContext;
  OwnedStream mOwnStream;
  Event mEvent;
  Event mOrderEvent;  // made on the first ordering with a host's stream
  PhaseTimer mTimer;
  CallResources mResources;
  CallPlan mPlan;
  std::unique_ptr<GraphCache> mGraphs;
  std::vector<trt_binding::Extents> mCapturedOutputDims;  // scratch for storing a graph
  size_t mDeviceBytes = 0;
  std::atomic<int> mState{kIdle};
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_SESSION_H_
