// A handle of the interface (an engine, a session) that Python threads share. Every call holds a use of
// it while it runs, with the GIL released, and close() takes the handle out for release only when no call
// uses it: releasing an object while another thread is inside a function with it is the host's error,
// and here the host is every Python thread at once.
#ifndef INFERLET_PYTHON_SHARED_HANDLE_H_
#define INFERLET_PYTHON_SHARED_HANDLE_H_

#include <mutex>
#include <string>

#include "status_error.h"

namespace inferlet_python {

template <typename Handle>
class SharedHandle {
 public:
  // what names the object in refusals: "engine", "session".
  SharedHandle(Handle* handle, const char* what) : mHandle(handle), mWhat(what) {}
  SharedHandle(const SharedHandle&) = delete;
  SharedHandle& operator=(const SharedHandle&) = delete;

  class Use {
   public:
    explicit Use(SharedHandle& owner) : mOwner(owner) {
      std::lock_guard<std::mutex> lock(owner.mMutex);
      if (!owner.mHandle) throw StatusError(INFERLET_INVALID_ARGUMENT, "the " + owner.mWhat + " is closed");
      ++owner.mUses;
      mHandle = owner.mHandle;
    }
    ~Use() {
      std::lock_guard<std::mutex> lock(mOwner.mMutex);
      --mOwner.mUses;
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    Handle* get() const { return mHandle; }

   private:
    SharedHandle& mOwner;
    Handle* mHandle = nullptr;
  };

  // The handle, for its release; null when it was taken already. Refused (INFERLET_BUSY) while a call
  // of another thread uses it.
  Handle* take() {
    std::lock_guard<std::mutex> lock(mMutex);
    if (mUses > 0) {
      throw StatusError(INFERLET_BUSY, "the " + mWhat +
                                           " is in use by a call of another thread: close it "
                                           "once that call has returned");
    }
    Handle* handle = mHandle;
    mHandle = nullptr;
    return handle;
  }

  // The same when the owner goes: no call can be using it then.
  Handle* take_at_end() {
    std::lock_guard<std::mutex> lock(mMutex);
    Handle* handle = mHandle;
    mHandle = nullptr;
    return handle;
  }

  bool closed() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return !mHandle;
  }

 private:
  mutable std::mutex mMutex;
  Handle* mHandle;
  int mUses = 0;
  std::string mWhat;
};

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_SHARED_HANDLE_H_
