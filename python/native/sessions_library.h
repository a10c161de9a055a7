// The sessions libraries as the extension knows them: opened by the loader the tools share (one dlsym,
// the function table of inferlet_sessions.h's version), kept for the life of the process.
#ifndef INFERLET_PYTHON_SESSIONS_LIBRARY_H_
#define INFERLET_PYTHON_SESSIONS_LIBRARY_H_

#include "sessions_loader.h"

namespace inferlet_python {

using inferlet_loader::LoadError;
using inferlet_loader::SessionsLibrary;

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_SESSIONS_LIBRARY_H_
