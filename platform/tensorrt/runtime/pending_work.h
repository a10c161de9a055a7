// Counts the work an object queued on CUDA streams that has not run yet: the host functions of a
// context's enqueues and profile switches, and for an engine those of all its contexts.
#ifndef TRT_STANDIN_RUNTIME_PENDING_WORK_H_
#define TRT_STANDIN_RUNTIME_PENDING_WORK_H_

#include <atomic>
#include <memory>

namespace trt_standin {

class PendingWork {
 public:
  // A context's counter feeds its engine's (`parent`), so that the engine knows its contexts' work.
  explicit PendingWork(std::shared_ptr<PendingWork> parent = nullptr) : parent_(std::move(parent)) {}

  // Before the work is handed to the stream; withdrawn() when handing it over failed.
  void queued() {
    ++count_;
    if (parent_) parent_->queued();
  }
  void withdrawn() { ran(); }
  // From the work itself when it has run (a host function: no CUDA calls here).
  void ran() {
    --count_;
    if (parent_) parent_->ran();
  }
  long outstanding() const { return count_; }

  // Set when the owner was released before the work ran: the work then stays silent, since the
  // application's logger need not outlive the objects made through it.
  void mark_owner_released() { owner_released_ = true; }
  bool owner_released() const { return owner_released_; }

 private:
  std::atomic<long> count_{0};
  std::atomic<bool> owner_released_{false};
  std::shared_ptr<PendingWork> parent_;
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_PENDING_WORK_H_
