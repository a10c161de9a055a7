// What a host that loads a sessions library (libinferlet_sessions<N>.so) at run time needs: the library
// opened with dlopen, its one symbol inferlet_get_api looked up, and the function table of the version
// this host was compiled against. inferlet-run and the Python extension load the library through this
// alone; neither links TensorRT or CUDA, each library brings its own, so that several majors share a
// process.
#ifndef INFERLET_LOADER_SESSIONS_LOADER_H_
#define INFERLET_LOADER_SESSIONS_LOADER_H_

#include <inferlet_sessions.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace inferlet_loader {

// A library that cannot be opened, or that answers no table of this host's version.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SessionsLibrary {
 public:
  // The library at path, opened on the first request and handed back for every later one; it stays
  // loaded until the process ends (TensorRT and the CUDA runtime are not made to be unloaded). Safe
  // from any thread. Throws LoadError.
  static const SessionsLibrary& Open(const std::string& path);
  // Every library opened so far, in the order they were opened.
  static std::vector<const SessionsLibrary*> Opened();

  const inferlet_api& api() const { return *api_; }
  int major() const { return major_; }
  const std::string& path() const { return path_; }

  // "" for null (success); otherwise "INFERLET_<CODE>: message", and the status is released.
  std::string Take(inferlet_status* status) const;

  SessionsLibrary(const SessionsLibrary&) = delete;
  SessionsLibrary& operator=(const SessionsLibrary&) = delete;

 private:
  SessionsLibrary(std::string path, const inferlet_api* api);

  std::string path_;
  const inferlet_api* api_;
  int major_;
};

}  // namespace inferlet_loader

#endif  // INFERLET_LOADER_SESSIONS_LOADER_H_
