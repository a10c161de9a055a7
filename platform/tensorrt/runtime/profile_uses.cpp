#include "profile_uses.h"

namespace trt_standin {

bool ProfileUses::queue(int32_t profile, const void* context) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<const void*, long>& users = queued_[static_cast<std::size_t>(profile)];
  const bool others = users.size() > (users.count(context) != 0 ? 1u : 0u);
  ++users[context];
  return others;
}

void ProfileUses::done(int32_t profile, const void* context) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<const void*, long>& users = queued_[static_cast<std::size_t>(profile)];
  auto it = users.find(context);
  if (it != users.end() && --it->second == 0) users.erase(it);
}

}  // namespace trt_standin
