// A session of the interface as the extension's Session. Its calls take the tensors as Python hands
// them over, each (name, memory kind, address, bytes[, shape]), and run with the GIL released; they
// answer the outputs' shapes as the library wrote them. The memory behind the addresses is the
// caller's to keep alive, as the interface's memory kinds say.
#ifndef INFERLET_PYTHON_SESSION_H_
#define INFERLET_PYTHON_SESSION_H_

#include <nanobind/nanobind.h>

#include <cstdint>

#include "engine.h"
#include "shared_handle.h"

namespace inferlet_python {

class Session {
 public:
  // stream: a cudaStream_t's address, 0 for the session's own. Made with the GIL released.
  Session(Engine& engine, int32_t profile, bool cuda_graphs, int32_t graph_cache_size, uintptr_t stream);
  ~Session();  // waits for a call still running, as the interface's release does
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // inputs: [(name, memory, address, bytes, shape)], outputs: [(name, memory, address, bytes)]; the
  // outputs' shapes in the order given.
  nb::list enqueue(nb::list inputs, nb::list outputs);
  void wait();
  nb::list run(nb::list inputs, nb::list outputs);
  // inputs as a call's, outputs: [name]; nothing run. For each output (shape, data_dependent,
  // max_bytes): -1 in the extents a data-dependent output learns only as the call runs, and the bytes
  // a buffer for it must hold at these input shapes.
  nb::list resolve(nb::list inputs, nb::list outputs);
  size_t device_memory();
  // The session's cudaStream_t, and orderings against a host's stream (its address; 1 and 2 the legacy
  // and per-thread default streams) queued on the device.
  uintptr_t stream();
  void wait_stream(uintptr_t stream);
  void order_stream(uintptr_t stream);

  // Releases the session (waiting for a call still running). Refused while another thread is in a call.
  void close();
  bool closed() const { return mHandle.closed(); }

 private:
  const SessionsLibrary& mLibrary;
  SharedHandle<inferlet_session> mHandle;
};

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_SESSION_H_
