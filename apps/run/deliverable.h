// The shared libraries inferlet-run loads at run time: a deliverable (libinferlet<N>.so, one per
// TensorRT major), driven only through its exported C functions. A sessions library, which reads the
// engine and runs it with --api sessions, is opened through inferlet::loader instead. Which ones are
// loaded is library_choice.h's decision.
#ifndef INFERLET_APPS_DELIVERABLE_H_
#define INFERLET_APPS_DELIVERABLE_H_

#include <string>

#include "kestrel_trt.h"

namespace inferlet_run {

// An open dlopen handle; closed on destruction, the library itself staying loaded until exit.
class SharedLibrary {
 public:
  // Throws ToolError (kExitLibrary) with dlerror's text when the library cannot be loaded.
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Throws ToolError (kExitLibrary) when the symbol is missing.
  void* Symbol(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
};

class Deliverable {
 public:
  // Its major is that of the libnvinfer that loading it brought in.
  explicit Deliverable(const std::string& path);

  // The TensorRT major the library links, as loading it tells, or 0 if unclear.
  int LinkedTrtMajor() const { return linked_trt_major_; }
  const std::string& path() const { return library_.path(); }

  decltype(&kestrel_trt_init) init;
  decltype(&kestrel_trt_uninit) uninit;
  decltype(&kestrel_trt_new) create;
  decltype(&kestrel_trt_process) process;
  decltype(&kestrel_trt_delete) destroy;

 private:
  SharedLibrary library_;
  int linked_trt_major_ = 0;
};

// Directory holding the running executable.
std::string ExecutableDir();
// <exe dir>/../lib/<file>, where the build and an installation under one prefix put the libraries;
// the bare file name, for the dynamic linker to find, when nothing is there.
std::string DefaultLibraryPath(const std::string& file);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_DELIVERABLE_H_
