// What the fuzz targets of the sessions interface share: answers taken from a status and held to the
// interface's conventions (a known code, a message), engines and sessions that release themselves, and
// call buffers in each memory kind a tensor may name.
#ifndef INFERLET_FUZZ_SESSIONS_SUPPORT_H_
#define INFERLET_FUZZ_SESSIONS_SUPPORT_H_

#include <inferlet_sessions.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session_handles.h"

namespace inferlet_fuzz {

// What a function answered; the status itself is released. A failure must carry a code of
// inferlet_code and a non-empty message, or it is a finding (`what` names the function).
struct Answer {
  inferlet_code code = INFERLET_OK;
  std::string message;
};
Answer Take(inferlet_status* status, const char* what);
// Take, and a finding unless the code is `expected`.
Answer Expect(inferlet_status* status, inferlet_code expected, const char* what);

// The log callback, up to the info level (the library's own lines): each line must have a level of
// inferlet_log_level and a text.
void InstallCheckingLog();

using inferlet_test::EngineHandle;
using inferlet_test::SessionHandle;

// Pointer values no allocation hands out: a refused load or session creation must leave them in place.
inferlet_engine* UntouchedEngine();
inferlet_session* UntouchedSession();

// The bytes of a tensor of `shape` whose elements take `bits` each (4-bit elements packed two a byte);
// -1 for a rank outside 0..8 or a negative extent, INT64_MAX past it.
int64_t ShapeBytes(const inferlet_shape& shape, int bits);
bool SameShape(const inferlet_shape& a, const inferlet_shape& b);

// A call's buffer of exactly `bytes` in one memory kind (host, pinned or device memory of the emulated
// device), so that an access past its end is caught (by AddressSanitizer or the emulated device). Its
// address is never null, even for 0 bytes.
class CallBuffer {
 public:
  CallBuffer(inferlet_memory memory, size_t bytes);
  ~CallBuffer();
  CallBuffer(const CallBuffer&) = delete;
  CallBuffer& operator=(const CallBuffer&) = delete;

  void* data() const { return data_; }
  size_t bytes() const { return bytes_; }
  void Write(const std::vector<uint8_t>& contents);  // contents.size() == bytes()
  std::vector<uint8_t> Read() const;

 private:
  inferlet_memory memory_;
  size_t bytes_;
  void* data_ = nullptr;
};

}  // namespace inferlet_fuzz

#endif  // INFERLET_FUZZ_SESSIONS_SUPPORT_H_
