#include "profile_registry.h"

#include <string>

namespace sessions {

ProfileRegistry::ProfileRegistry(int profiles, bool one_session_per_profile)
    : mOneSessionPerProfile(one_session_per_profile), mHolders(static_cast<size_t>(profiles), 0) {}

Status ProfileRegistry::claim(int profile) {
  std::lock_guard<std::mutex> lock(mMutex);
  int& holders = mHolders.at(static_cast<size_t>(profile));
  if (mOneSessionPerProfile && holders > 0) {
    return Status::failure(INFERLET_PROFILE_IN_USE,
                           "profile " + std::to_string(profile) +
                               " is in use by another session: the engine has dynamic shapes, so each of its "
                               "profiles serves one session at a time");
  }
  ++holders;
  return Status();
}

void ProfileRegistry::release(int profile) {
  std::lock_guard<std::mutex> lock(mMutex);
  --mHolders.at(static_cast<size_t>(profile));
}

}  // namespace sessions
