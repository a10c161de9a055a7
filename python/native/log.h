// The libraries' log as one Python callable: installed into every sessions library opened, now and
// later, and called with (level, message) from whichever thread the library logs on, with the GIL taken.
#ifndef INFERLET_PYTHON_LOG_H_
#define INFERLET_PYTHON_LOG_H_

#include <nanobind/nanobind.h>

#include "sessions_library.h"

namespace inferlet_python {

namespace nb = nanobind;

// callback None: nothing is logged. Called with the GIL held.
void setLog(nb::object callback, int threshold);
// What a newly opened library is given.
void installLog(const SessionsLibrary& library);

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_LOG_H_
