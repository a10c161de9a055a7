#include "sessions_library.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>

namespace inferlet_python {
namespace {

std::mutex gLibrariesMutex;
// Never released: a library stays loaded, and so does what describes it.
std::vector<SessionsLibrary*>& libraries() {
  static auto* opened = new std::vector<SessionsLibrary*>;
  return *opened;
}

}  // namespace

SessionsLibrary::SessionsLibrary(std::string path, void* handle) : mPath(std::move(path)) {
#define INFERLET_PYTHON_API_ENTRY(name)                                    \
  mApi.name = reinterpret_cast<decltype(mApi.name)>(dlsym(handle, #name)); \
  if (!mApi.name) throw LibraryError(mPath + " has no function " #name " of inferlet_sessions.h");
#include "sessions_api_entries.h"
#undef INFERLET_PYTHON_API_ENTRY
  mMajor = mApi.inferlet_tensorrt_major();
}

const SessionsLibrary& SessionsLibrary::open(const std::string& path) {
  std::lock_guard<std::mutex> lock(gLibrariesMutex);
  for (const SessionsLibrary* library : libraries()) {
    if (library->path() == path) return *library;
  }
  // Local: the TensorRT each library brings serves that library alone, even where two majors name
  // their functions alike.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    throw LibraryError("cannot load " + path + ": " + (why ? why : "dlopen failed"));
  }
  std::unique_ptr<SessionsLibrary> library;
  try {
    library.reset(new SessionsLibrary(path, handle));
  } catch (...) {
    dlclose(handle);
    throw;
  }
  libraries().push_back(library.get());
  return *library.release();
}

std::vector<const SessionsLibrary*> SessionsLibrary::opened() {
  std::lock_guard<std::mutex> lock(gLibrariesMutex);
  return {libraries().begin(), libraries().end()};
}

}  // namespace inferlet_python
