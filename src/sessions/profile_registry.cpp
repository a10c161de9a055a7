#include "profile_registry.h"

#include <string>

namespace sessions {

ProfileRegistry::ProfileRegistry(int profiles, bool one_session_per_profile)
    : mOneSessionPerProfile(one_session_per_profile), mHolders(static_cast<size_t>(profiles), 0) {}

Status ProfileRegistry::claim(int profile) {
  std::lock_guard<std::mutex> lock(mMutex);
  int& holders = mHolders.at(static_cast<size_t>(profile));
  if (mOneSessionPerProfile && holders > 0) {
    const size_t others = mHolders.size() - 1;
    const std::string other_profiles =
        others > 0 ? "make them on its other profiles (it has " + std::to_string(others) + " more), " : "";
    return Status::failure(INFERLET_PROFILE_IN_USE,
                           "profile " + std::to_string(profile) +
                               " is in use by another session: the engine has dynamic shapes, so each of its "
                               "profiles serves one session at a time; for more sessions at once, " +
                               other_profiles +
                               "build the engine with more profiles, or with static shapes, which any number "
                               "of sessions share");
  }
  ++holders;
  return Status();
}

void ProfileRegistry::release(int profile) {
  std::lock_guard<std::mutex> lock(mMutex);
  --mHolders.at(static_cast<size_t>(profile));
}

}  // namespace sessions
