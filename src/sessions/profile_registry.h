// Which optimization profiles of an engine live sessions hold. TensorRT requires that execution
// contexts of an engine with dynamic shapes that run at the same time use separate profiles, so such an
// engine lends each profile to one session at a time; an engine without dynamic shapes lends its
// profiles to any number.
#ifndef INFERLET_SESSIONS_PROFILE_REGISTRY_H_
#define INFERLET_SESSIONS_PROFILE_REGISTRY_H_

#include <mutex>
#include <vector>

#include "status.h"

namespace sessions {

class ProfileRegistry {
 public:
  ProfileRegistry(int profiles, bool one_session_per_profile);

  // INFERLET_PROFILE_IN_USE when the profile is lent to one session at a time and is held.
  Status claim(int profile);
  void release(int profile);

 private:
  const bool mOneSessionPerProfile;
  std::mutex mMutex;
  std::vector<int> mHolders;  // per profile, the live sessions on it
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_PROFILE_REGISTRY_H_
