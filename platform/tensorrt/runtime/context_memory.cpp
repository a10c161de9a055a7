// The device memory of an execution context, and its release while work it queued has not run.
#include <string>

#include "context.h"
#include "engine.h"
#include "logging.h"
#include "retired.h"
#include "test_control.h"

namespace trt_standin {

void ExecutionContext::Work::forget_device_memory() {
  staging.release();
  activation.forget_device_memory();
}

// Every context holds the activation memory of the largest profile: kSTATIC as documented, and
// kON_PROFILE_CHANGE too, since the stand-in does not reallocate on a switch.
bool ExecutionContext::allocate_activation_memory() {
  retired::sweep();  // what released objects kept may be free by now
  const std::size_t bytes = engine_.context_memory_bytes();
  std::string why;
  if (work_->activation.allocate(bytes, &why)) return true;
  report(logger_, Severity::kERROR,
         "createExecutionContext: cannot allocate " + std::to_string(bytes) +
             " bytes of device activation memory: " + why);
  return false;
}

void ExecutionContext::retire_if_work_pending() noexcept {
  const long queued = work_->pending->outstanding();
  if (queued > 0) {
    // Undefined on the real runtime; here the release is reported, the work stays silent when it runs,
    // and what it reads stays until then.
    control::count("releases_with_queued_work");
    work_->pending->mark_owner_released();
    try {
      report(logger_, Severity::kERROR,
             "IExecutionContext released while " + std::to_string(queued) +
                 " item(s) of work it queued on a stream have not run: synchronise the stream before "
                 "releasing the context");
    } catch (const std::bad_alloc&) {
    }
    std::shared_ptr<const PendingWork> pending = work_->pending;
    retired::keep(std::move(pending), std::move(work_));
  }
  retired::sweep();
}

}  // namespace trt_standin
