// The device memory of an execution context, and its release while work it queued has not run.
#include <cstdint>
#include <sstream>
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

// kSTATIC: "a block of device memory that is sufficient for all profiles"; kON_PROFILE_CHANGE: the
// memory of the profile the context starts on, taken again at each switch; kUSER_MANAGED: none, the
// application sets its own with setDeviceMemoryV2.
bool ExecutionContext::allocate_activation_memory() {
  retired::sweep();  // what released objects kept may be free by now
  if (activation_ == Activation::kUserManaged) return true;
  const std::size_t bytes = activation_ == Activation::kOnProfileChange
                                ? engine_.profile_memory_bytes(profile_)
                                : engine_.context_memory_bytes();
  std::string why;
  if (work_->activation.allocate(bytes, &why)) return true;
  report(logger_, Severity::kERROR,
         "createExecutionContext: cannot allocate " + std::to_string(bytes) +
             " bytes of device activation memory: " + why);
  return false;
}

#if NV_TENSORRT_MAJOR >= 10

namespace {

// The real runtime asks the memory to be "aligned with CUDA memory alignment property (using
// cudaGetDeviceProperties())" without naming the property; the stand-in takes the larger of the two
// candidates, textureAlignment (512 on the devices TensorRT 10 supports) over cudaMalloc's 256.
constexpr uintptr_t kUserMemoryAlignment = 512;

}  // namespace

bool ExecutionContext::reallocate_activation_memory(int32_t profile, const std::string& where) {
  const std::size_t bytes = engine_.profile_memory_bytes(profile);
  if (work_->activation.size() == bytes) return true;
  retired::sweep();
  std::string why;
  if (bytes == 0) {
    work_->activation.release();
    return true;
  }
  if (work_->activation.allocate(bytes, &why)) return true;
  report(logger_, Severity::kERROR,
         where + "cannot allocate " + std::to_string(bytes) + " bytes of device activation memory: " + why);
  return false;
}

void ExecutionContext::setDeviceMemoryV2(void* memory, int64_t size) noexcept {
  const std::string where = "setDeviceMemoryV2: ";
  control::count("setDeviceMemoryV2");
  try {
    if (activation_ != Activation::kUserManaged) {
      report(logger_, Severity::kERROR,
             where +
                 "the execution context holds its own activation memory: create it with "
                 "ExecutionContextAllocationStrategy::kUSER_MANAGED to supply it");
      return;
    }
    if (size < 0) {
      report(logger_, Severity::kERROR, where + "size " + std::to_string(size) + " is negative");
      return;
    }
    if (memory == nullptr && size != 0) {
      report(logger_, Severity::kERROR,
             where + "memory is null with size " + std::to_string(size) + ": null only with size 0");
      return;
    }
    if (reinterpret_cast<uintptr_t>(memory) % kUserMemoryAlignment != 0) {
      std::ostringstream address;
      address << memory;
      report(logger_, Severity::kERROR,
             where + "memory " + address.str() + " is not aligned to " +
                 std::to_string(kUserMemoryAlignment) + " bytes");
      return;
    }
    user_memory_ = memory;
    user_memory_size_ = size;
  } catch (const std::bad_alloc&) {
    report(logger_, Severity::kERROR, where + "out of host memory");
  }
}

// Checked at every enqueue, against the profile selected then: the memory must be "large enough for
// performing inference", and getDeviceMemorySizeForProfileV2 is the bound the stand-in holds it to.
bool ExecutionContext::user_memory_suits(std::string* why) const {
  if (activation_ != Activation::kUserManaged) return true;
  const auto needed = static_cast<int64_t>(engine_.profile_memory_bytes(profile_));
  if (user_memory_size_ < 0) {
    *why =
        "the execution context was created with kUSER_MANAGED and has no device memory: set it with "
        "setDeviceMemoryV2";
    return false;
  }
  if (user_memory_size_ < needed) {
    *why = "the device memory set with setDeviceMemoryV2 has " + std::to_string(user_memory_size_) +
           " bytes, optimization profile " + std::to_string(profile_) + " needs " + std::to_string(needed) +
           " (getDeviceMemorySizeForProfileV2)";
    return false;
  }
  return true;
}

#endif

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
