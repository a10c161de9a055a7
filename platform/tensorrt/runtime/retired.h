// What released contexts and engines leave behind while work they queued on a stream has not run:
// that work still reads it, so it is kept until the work has run.
#ifndef TRT_STANDIN_RUNTIME_RETIRED_H_
#define TRT_STANDIN_RUNTIME_RETIRED_H_

#include <memory>

#include "pending_work.h"

namespace trt_standin {

// State a release hands over. Destroying it frees what it holds, device memory included.
class Retirable {
 public:
  virtual ~Retirable() = default;
  // Lets go of device and pinned memory without freeing it (the device was reset meanwhile, or the
  // work holding it may still run).
  virtual void forget_device_memory() = 0;
};

namespace retired {

// Keeps `state` until the work `pending` counts has run (out of host memory: for ever).
void keep(std::shared_ptr<const PendingWork> pending, std::unique_ptr<Retirable> state) noexcept;

// Destroys (and so frees) the kept state whose work has run. Makes CUDA calls: never from stream work.
void sweep();

// trt_standin_reset: the emulated device is reset beside the stand-in, so kept device memory is let go
// without being freed; state whose work may still run stays.
void forget_device_memory();

}  // namespace retired
}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_RETIRED_H_
