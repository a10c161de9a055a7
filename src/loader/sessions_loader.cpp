#include "sessions_loader.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>

namespace inferlet_loader {
namespace {

std::mutex gOpenedMutex;
// Never released: a library stays loaded, and so does what describes it.
std::vector<SessionsLibrary*>& opened() {
  static auto* libraries = new std::vector<SessionsLibrary*>;
  return *libraries;
}

// The table of this host's version, or LoadError; handle is closed on failure.
const inferlet_api* TableOf(const std::string& path, void* handle) {
  auto get_api = reinterpret_cast<inferlet_get_api_fn>(dlsym(handle, "inferlet_get_api"));
  const inferlet_api* api = get_api ? get_api(INFERLET_API_VERSION) : nullptr;
  if (api) return api;
  dlclose(handle);
  throw LoadError(path +
                  (get_api ? " is older than version "
                           : " has no inferlet_get_api: it is no sessions "
                             "library of version ") +
                  std::to_string(INFERLET_API_VERSION) + " of inferlet_sessions.h, which this host needs");
}

}  // namespace

SessionsLibrary::SessionsLibrary(std::string path, const inferlet_api* api)
    : path_(std::move(path)), api_(api), major_(api->tensorrt_major()) {}

const SessionsLibrary& SessionsLibrary::Open(const std::string& path) {
  std::lock_guard<std::mutex> lock(gOpenedMutex);
  for (const SessionsLibrary* library : opened()) {
    if (library->path() == path) return *library;
  }
  // Local: the TensorRT each library brings serves that library alone, even where two majors name
  // their functions alike. No delete: the CUDA runtime and TensorRT keep thread-local state and exit
  // handlers that must not be unmapped under them.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle) {
    const char* why = dlerror();
    throw LoadError("cannot load " + path + ": " + (why ? why : "dlopen failed"));
  }
  std::unique_ptr<SessionsLibrary> library(new SessionsLibrary(path, TableOf(path, handle)));
  opened().push_back(library.get());
  return *library.release();
}

std::vector<const SessionsLibrary*> SessionsLibrary::Opened() {
  std::lock_guard<std::mutex> lock(gOpenedMutex);
  return {opened().begin(), opened().end()};
}

std::string SessionsLibrary::Take(inferlet_status* status) const {
  if (!status) return "";
  std::string text =
      std::string(api_->code_name(api_->status_code(status))) + ": " + api_->status_message(status);
  api_->status_release(status);
  return text;
}

}  // namespace inferlet_loader
