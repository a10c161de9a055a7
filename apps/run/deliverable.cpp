#include "deliverable.h"

#include <dlfcn.h>
#include <fmt/format.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>

#include "exit_codes.h"

namespace inferlet_run {

SharedLibrary::SharedLibrary(const std::string& path) : path_(path) {
  // RTLD_NODELETE: dlclose drops the handle but leaves the code mapped until exit. The CUDA runtime
  // and TensorRT keep thread-local state and exit handlers that outlive our use of them, and the
  // thread-local blocks of an unmapped library leave stale entries that exit-time code still walks
  // (LeakSanitizer crashed on them).
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) {
    const char* why = dlerror();
    throw ToolError{kExitLibrary, fmt::format("cannot load {}: {}", path, why ? why : "unknown error")};
  }
}

SharedLibrary::~SharedLibrary() {
  if (handle_) dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) const {
  dlerror();
  void* symbol = dlsym(handle_, name);
  if (!symbol) throw ToolError{kExitLibrary, fmt::format("{} does not export {}", path_, name)};
  return symbol;
}

namespace {

template <typename Fn>
Fn Lookup(const SharedLibrary& library, const char* name) {
  return reinterpret_cast<Fn>(library.Symbol(name));
}

int CollectNvinferMajor(struct dl_phdr_info* info, size_t, void* data) {
  static const std::regex soname(R"((^|/)libnvinfer\.so\.([0-9]+)(\.|$))");
  std::smatch match;
  const std::string name = info->dlpi_name ? info->dlpi_name : "";
  if (std::regex_search(name, match, soname)) static_cast<std::set<int>*>(data)->insert(std::stoi(match[2]));
  return 0;
}

// The deliverable names libnvinfer.so.<major> as a dependency, so loading it brought exactly that in;
// unclear (0) once sessions libraries of other majors have brought theirs in too.
int LoadedNvinferMajor() {
  std::set<int> majors;
  dl_iterate_phdr(CollectNvinferMajor, &majors);
  return majors.size() == 1 ? *majors.begin() : 0;
}

}  // namespace

Deliverable::Deliverable(const std::string& path) : library_(path) {
  init = Lookup<decltype(init)>(library_, "kestrel_trt_init");
  uninit = Lookup<decltype(uninit)>(library_, "kestrel_trt_uninit");
  create = Lookup<decltype(create)>(library_, "kestrel_trt_new");
  process = Lookup<decltype(process)>(library_, "kestrel_trt_process");
  destroy = Lookup<decltype(destroy)>(library_, "kestrel_trt_delete");
  linked_trt_major_ = LoadedNvinferMajor();
}

std::string ExecutableDir() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string DefaultLibraryPath(const std::string& file) {
  const std::string beside = ExecutableDir() + "/../lib/" + file;
  if (access(beside.c_str(), F_OK) == 0) return std::filesystem::path(beside).lexically_normal().string();
  return file;  // installed elsewhere: the dynamic linker's search path decides
}

}  // namespace inferlet_run
