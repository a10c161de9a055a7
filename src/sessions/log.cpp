#include "log.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "c_enum.h"
#include "tensorrt_reason.h"

namespace sessions {
namespace {

struct LogTarget {
  inferlet_log_fn fn = nullptr;
  void* user = nullptr;
};

std::mutex gTargetMutex;
LogTarget gTarget;
// The highest level delivered; 0 while there is no callback. Read first, so that a message nobody
// receives costs no lock.
std::atomic<int> gThreshold{0};

// TensorRT's severities are numbered as inferlet_log_level, with kINTERNAL_ERROR (0) below kERROR.
class TensorrtLogAdapter : public nvinfer1::ILogger {
 public:
  void log(Severity severity, const char* msg) noexcept override {
    keepTensorrtLine(severity, msg);
    const int level = std::clamp(static_cast<int>(severity), static_cast<int>(INFERLET_LOG_ERROR),
                                 static_cast<int>(INFERLET_LOG_VERBOSE));
    sessions::log(static_cast<inferlet_log_level>(level), msg ? msg : "");
  }
};

}  // namespace

void setLog(inferlet_log_fn fn, void* user, inferlet_log_level threshold) noexcept {
  const int level = std::clamp(cEnumValue(threshold), static_cast<int>(INFERLET_LOG_ERROR),
                               static_cast<int>(INFERLET_LOG_VERBOSE));
  std::lock_guard<std::mutex> lock(gTargetMutex);
  gTarget = {fn, user};
  gThreshold.store(fn ? level : 0, std::memory_order_release);
}

bool logs(inferlet_log_level level) noexcept {
  return static_cast<int>(level) <= gThreshold.load(std::memory_order_acquire);
}

void log(inferlet_log_level level, const char* message) noexcept {
  if (!logs(level)) return;
  LogTarget target;
  {
    std::lock_guard<std::mutex> lock(gTargetMutex);
    // The threshold may have changed since it was read.
    if (static_cast<int>(level) > gThreshold.load(std::memory_order_relaxed)) return;
    target = gTarget;
  }
  // Called without the lock, so that the callback may itself call into the library.
  if (target.fn) target.fn(target.user, level, message);
}

nvinfer1::ILogger& tensorrtLogger() noexcept {
  static TensorrtLogAdapter adapter;
  return adapter;
}

}  // namespace sessions
