// Which of the build's sessions libraries reads engine bytes, through the loader the tools share.
#ifndef INFERLET_PYTHON_ENGINE_READING_H_
#define INFERLET_PYTHON_ENGINE_READING_H_

#include <nanobind/nanobind.h>

namespace inferlet_python {

namespace nb = nanobind;

// candidates: [(major, path)] in the order to try. Answers (engine, refusals, load_errors): the Engine
// of the first library that reads the bytes on device, else None, each refusing library's status
// (code, message) and why each library that could not be opened could not. Every library opened gets the
// package's log before it loads the bytes; the GIL is released while they load.
nb::tuple readEngine(nb::list candidates, nb::bytes data, int device, bool allow_host_code);

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_ENGINE_READING_H_
