// A host's plugin library loaded into this library's TensorRT: through IPluginRegistry::loadLibrary on
// TensorRT 10 and later, through dlopen (RTLD_NOW | RTLD_GLOBAL, so that the library's static
// registration runs) on 7 and 8. Whether it registered anything is read off the registry's creator
// list before and after; on 7 and 8 also off the creators that live in the library's own image, for a
// library whose registration ran before (it runs when the library is first loaded, whoever loads it:
// another major's library trying it, the host itself). Loads are serialized: the list calls are not
// thread safe, and the comparison needs no other load in between.
#include "plugins.h"

#include <NvInfer.h>
#include <NvInferPlugin.h>
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "inferlet_sessions.h"
#include "log.h"
#include "tensorrt_reason.h"

namespace sessions {
namespace {

std::mutex gLoadMutex;

// The libraries this function loaded, by the dynamic loader's handle (the same for every path that
// names one file). Never released: the libraries stay loaded.
std::set<void*>& loadedLibraries() {
  static auto* libraries = new std::set<void*>;
  return *libraries;
}

// The registry's creators now, sorted.
std::vector<const void*> registeredCreators() {
  int32_t count = 0;
  nvinfer1::IPluginRegistry* registry = getPluginRegistry();
  std::vector<const void*> creators;
  if (!registry) return creators;
#if NV_TENSORRT_MAJOR >= 10
  nvinfer1::IPluginCreatorInterface* const* list = registry->getAllCreators(&count);
#else
  nvinfer1::IPluginCreator* const* list = registry->getPluginCreatorList(&count);
#endif
  for (int32_t i = 0; list && i < count; ++i) creators.push_back(list[i]);
  std::sort(creators.begin(), creators.end());
  return creators;
}

// How many creators of after are not in before (both sorted).
size_t addedCreators(const std::vector<const void*>& before, const std::vector<const void*>& after) {
  std::vector<const void*> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  return added.size();
}

#if NV_TENSORRT_MAJOR < 10
// How many of the creators lie in the image of the library of handle: static objects of the library,
// registered when it was first loaded.
size_t creatorsInLibrary(void* handle, const std::vector<const void*>& creators) {
  struct link_map* library = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &library) != 0 || !library) return 0;
  size_t inside = 0;
  for (const void* creator : creators) {
    Dl_info info;
    struct link_map* holder = nullptr;
    if (dladdr1(creator, &info, reinterpret_cast<void**>(&holder), RTLD_DL_LINKMAP) && holder == library)
      ++inside;
  }
  return inside;
}
#endif

// The dynamic loader's handle of the library at path when the process has loaded it, without loading
// it (the reference the lookup takes is dropped again); null otherwise.
void* loadedHandle(const char* path) {
  void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle;
}

std::string quoted(const char* path) { return "plugin library '" + std::string(path) + "'"; }

std::string majorText() { return std::to_string(NV_TENSORRT_MAJOR); }

#if NV_TENSORRT_MAJOR >= 10
constexpr char kNoCreatorWhy[] = ": its getCreators (or getPluginCreators) handed out no creator";

// Through TensorRT's registry; *handle is the library's, once TensorRT has loaded it.
Status loadIntoTensorrt(const char* path, void** handle) {
  tensorrtStepBegins();
  if (!getPluginRegistry()->loadLibrary(path)) {
    return tensorrtFailure(INFERLET_TENSORRT_ERROR,
                           "TensorRT " + majorText() + " could not load " + quoted(path));
  }
  *handle = loadedHandle(path);
  return Status();
}
#else
constexpr char kNoCreatorWhy[] =
    ": a plugin library for TensorRT 7 and 8 registers its creators when it is loaded "
    "(REGISTER_TENSORRT_PLUGIN), the first time only";

Status cannotLoad(const char* path) {
  const char* why = dlerror();
  return Status::failure(INFERLET_INVALID_ARGUMENT,
                         "cannot load " + quoted(path) + ": " + (why ? why : "dlopen failed"));
}

// Loaded first where it stays to itself (its static registration runs here), so that a library of
// another TensorRT is refused before RTLD_GLOBAL puts it, and the libnvinfer it links, ahead of every
// later library's own in the dynamic linker's lookup; then made global. Held until the process ends.
Status loadIntoTensorrt(const char* path, void** handle) {
  dlerror();
  *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!*handle) return cannotLoad(path);
  const void* const its_registry = dlsym(*handle, "getPluginRegistry");  // in it or what it links
  if (its_registry && its_registry != reinterpret_cast<const void*>(&getPluginRegistry)) {
    return Status::failure(INFERLET_INVALID_ARGUMENT,
                           quoted(path) + " links another TensorRT than this library's TensorRT " +
                               majorText() + ": its getPluginRegistry is not this one's");
  }
  if (!dlopen(path, RTLD_NOW | RTLD_GLOBAL)) return cannotLoad(path);
  return Status();
}
#endif

}  // namespace

void initPluginsOnce() {
  static std::once_flag once;
  std::call_once(once, [] { initLibNvInferPlugins(&tensorrtLogger(), ""); });
}

Status loadPluginLibrary(const char* path) {
  if (!path) return Status::failure(INFERLET_INVALID_ARGUMENT, "path is null");
  if (!*path) return Status::failure(INFERLET_INVALID_ARGUMENT, "path is empty");
  // TensorRT's own plugins come first, so that they are not taken for the library's; from 10 on its
  // registry reports through the logger given here.
  initPluginsOnce();
  std::lock_guard<std::mutex> lock(gLoadMutex);
  void* const loaded_before = loadedHandle(path);
  if (loaded_before && loadedLibraries().count(loaded_before)) return Status();
  const std::vector<const void*> before = registeredCreators();
  void* handle = nullptr;
  Status status = loadIntoTensorrt(path, &handle);
  if (!status.ok()) return status;
  const std::vector<const void*> after = registeredCreators();
#if NV_TENSORRT_MAJOR >= 10
  const size_t added = addedCreators(before, after);
#else
  size_t added = addedCreators(before, after);
  if (added == 0) added = creatorsInLibrary(handle, after);
#endif
  if (added == 0) {
    return Status::failure(
        INFERLET_INVALID_ARGUMENT,
        quoted(path) + " registered no plugin creator with TensorRT " + majorText() + kNoCreatorWhy);
  }
  if (handle) loadedLibraries().insert(handle);
  if (logs(INFERLET_LOG_INFO)) {
    log(INFERLET_LOG_INFO, quoted(path) + " loaded: " + std::to_string(added) + " plugin creator" +
                               (added == 1 ? "" : "s") + " registered with TensorRT " + majorText());
  }
  return Status();
}

}  // namespace sessions

extern "C" INFERLET_SESSIONS_API inferlet_status* inferlet_plugin_library_load(const char* path) {
  return sessions::answer([&] { return sessions::loadPluginLibrary(path); });
}
