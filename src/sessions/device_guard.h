// Makes a device current on the calling thread for the length of an entry point and gives the thread
// its own device back afterwards, so that a host's threads may use any device between calls.
#ifndef INFERLET_SESSIONS_DEVICE_GUARD_H_
#define INFERLET_SESSIONS_DEVICE_GUARD_H_

#include "status.h"

namespace sessions {

class DeviceGuard {
 public:
  DeviceGuard() = default;
  ~DeviceGuard();  // restores the thread's device, if enter changed it

  DeviceGuard(const DeviceGuard&) = delete;
  DeviceGuard& operator=(const DeviceGuard&) = delete;

  // Makes device current (only when it is not already). A failure leaves the thread's device as it was.
  Status enter(int device);

 private:
  int mPrevious = -1;
  bool mSwitched = false;
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_DEVICE_GUARD_H_
