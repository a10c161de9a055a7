// The results the sessions interface hands out: inferlet_status, a code and a message owned by the
// host, and Status, the move-only form the library passes around until an entry point gives it away.
#ifndef INFERLET_SESSIONS_STATUS_H_
#define INFERLET_SESSIONS_STATUS_H_

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "inferlet_sessions.h"

struct inferlet_status {
  inferlet_code code;
  std::string message;
};

namespace sessions {

// Success, or one failure. Making a failure allocates (it may throw std::bad_alloc, which the entry
// points answer with the shared out-of-memory status).
class Status {
 public:
  Status() = default;  // success
  static Status failure(inferlet_code code, std::string message);

  bool ok() const { return !mStatus; }
  inferlet_code code() const { return mStatus ? mStatus->code : INFERLET_OK; }
  const std::string& message() const;

  // To the host: null for success.
  inferlet_status* release() { return mStatus.release(); }

 private:
  std::unique_ptr<inferlet_status> mStatus;
};

// The status answered when not even a status could be allocated; inferlet_status_release leaves it
// alone.
inferlet_status* outOfMemoryStatus();

// What an entry point answers for body's Status: no exception leaves it, std::bad_alloc is
// INFERLET_OUT_OF_MEMORY and any other INFERLET_INTERNAL_ERROR.
template <typename Body>
inferlet_status* answer(Body&& body) noexcept {
  try {
    try {
      return body().release();
    } catch (const std::bad_alloc&) {
      return outOfMemoryStatus();
    } catch (const std::exception& failure) {
      return Status::failure(INFERLET_INTERNAL_ERROR, std::string("unexpected failure: ") + failure.what())
          .release();
    } catch (...) {
      return Status::failure(INFERLET_INTERNAL_ERROR, "unexpected failure").release();
    }
  } catch (...) {
    return outOfMemoryStatus();  // not even the status of the failure could be made
  }
}

// The same for an entry point that answers nothing (the release functions).
template <typename Body>
void quietly(Body&& body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

}  // namespace sessions

#endif  // INFERLET_SESSIONS_STATUS_H_
