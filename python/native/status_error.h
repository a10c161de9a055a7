// A failure of the interface as the extension raises it: the status's code and message, the status
// itself released at once. Python sees it as the inferlet.Error subclass of its code (module.cpp); the
// extension's own refusals (a closed object, one in use) take the interface's codes too.
#ifndef INFERLET_PYTHON_STATUS_ERROR_H_
#define INFERLET_PYTHON_STATUS_ERROR_H_

#include <exception>
#include <string>

#include "sessions_library.h"

namespace inferlet_python {

class StatusError : public std::exception {
 public:
  StatusError(int code, std::string message) : mCode(code), mMessage(std::move(message)) {}
  int code() const { return mCode; }
  const std::string& message() const { return mMessage; }
  const char* what() const noexcept override { return mMessage.c_str(); }

 private:
  int mCode;
  std::string mMessage;
};

// Throws status as StatusError, after releasing it; returns for success (null).
inline void check(const inferlet_api& api, inferlet_status* status) {
  if (!status) return;
  StatusError error(api.status_code(status), api.status_message(status));
  api.status_release(status);
  throw error;
}

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_STATUS_ERROR_H_
