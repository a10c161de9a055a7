// One libinferlet_sessions<N>.so, opened with dlopen and kept for the life of the process (TensorRT and
// the CUDA runtime it carries are not made to be unloaded), with the functions of inferlet_sessions.h
// looked up in it. The extension links no TensorRT and no CUDA: each library brings its own, so that
// libraries of several majors share one process.
#ifndef INFERLET_PYTHON_SESSIONS_LIBRARY_H_
#define INFERLET_PYTHON_SESSIONS_LIBRARY_H_

#include <inferlet_sessions.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace inferlet_python {

// The interface's functions, typed as the header declares them.
struct SessionsApi {
#define INFERLET_PYTHON_API_ENTRY(name) decltype(&::name) name = nullptr;
#include "sessions_api_entries.h"
#undef INFERLET_PYTHON_API_ENTRY
};

// A library that cannot be opened, or lacks a function of the header.
class LibraryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SessionsLibrary {
 public:
  // The library at path, opened on the first request and handed back for every later one. Throws
  // LibraryError.
  static const SessionsLibrary& open(const std::string& path);
  // Every library opened so far, in the order they were opened.
  static std::vector<const SessionsLibrary*> opened();

  const SessionsApi& api() const { return mApi; }
  int major() const { return mMajor; }
  const std::string& path() const { return mPath; }

  SessionsLibrary(const SessionsLibrary&) = delete;
  SessionsLibrary& operator=(const SessionsLibrary&) = delete;

 private:
  SessionsLibrary(std::string path, void* handle);

  std::string mPath;
  SessionsApi mApi;
  int mMajor = 0;
};

}  // namespace inferlet_python

#endif  // INFERLET_PYTHON_SESSIONS_LIBRARY_H_
