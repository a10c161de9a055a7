#include "log.h"

#include <cstring>

namespace inferlet_python {
namespace {

// Read and written with the GIL held only. Never freed: a library may still call in while the
// interpreter shuts down, and then finds the interpreter gone rather than a freed object.
nb::object* gCallback = nullptr;
int gThreshold = INFERLET_LOG_WARNING;

bool interpreterGone() {
#if PY_VERSION_HEX >= 0x030D0000
  return !Py_IsInitialized() || Py_IsFinalizing();
#else
  return !Py_IsInitialized() || _Py_IsFinalizing();
#endif
}

void forward(void*, inferlet_log_level level, const char* message) {
  if (interpreterGone()) return;
  nb::gil_scoped_acquire gil;
  if (!gCallback || gCallback->is_none()) return;
  nb::object callback = *gCallback;  // the callback may install another while it runs
  // A message of TensorRT's need not be UTF-8.
  PyObject* text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace");
  if (!text) {
    PyErr_Clear();
    return;
  }
  try {
    callback(static_cast<int>(level), nb::steal<nb::str>(text));
  } catch (nb::python_error& error) {
    error.discard_as_unraisable("inferlet log callback");
  } catch (...) {
  }
}

void install(const SessionsLibrary& library) {
  const bool on = gCallback && !gCallback->is_none();
  // The library's threshold is an inferlet_log_level; outside ERROR..VERBOSE it takes the nearer end.
  library.api().set_log(on ? forward : nullptr, nullptr, static_cast<inferlet_log_level>(gThreshold));
}

}  // namespace

void setLog(nb::object callback, int threshold) {
  if (!gCallback) gCallback = new nb::object();
  *gCallback = std::move(callback);
  gThreshold = threshold;
  for (const SessionsLibrary* library : SessionsLibrary::Opened()) install(*library);
}

void installLog(const SessionsLibrary& library) { install(library); }

}  // namespace inferlet_python
