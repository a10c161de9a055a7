#include "status.h"

namespace sessions {
namespace {

// Made when the library is loaded, so that answering it allocates nothing.
inferlet_status gOutOfMemory{INFERLET_OUT_OF_MEMORY,
                             "out of host memory (no status of its own could be made)"};

}  // namespace

Status Status::failure(inferlet_code code, std::string message) {
  Status status;
  status.mStatus = std::make_unique<inferlet_status>(inferlet_status{code, std::move(message)});
  return status;
}

const std::string& Status::message() const {
  static const std::string kNone;
  return mStatus ? mStatus->message : kNone;
}

inferlet_status* outOfMemoryStatus() { return &gOutOfMemory; }

}  // namespace sessions
