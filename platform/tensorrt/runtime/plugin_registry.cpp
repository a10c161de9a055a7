#include "plugin_registry.h"

#include <dlfcn.h>
#include <link.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "graph.h"
#include "logging.h"
#include "test_control.h"

#if NV_TENSORRT_MAJOR >= 10
// IPluginCreator, the creator of IPluginV2 plugins, is deprecated from 10.0 on; the registry still
// serves it.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif

namespace trt_standin {
namespace {

#if NV_TENSORRT_MAJOR >= 10
using Creator = nvinfer1::IPluginCreatorInterface;
constexpr const char* kCreatorV1 = "PLUGIN CREATOR_V1";
constexpr const char* kCreatorV3One = "PLUGIN CREATOR_V3ONE";
#else
using Creator = nvinfer1::IPluginCreator;
#endif

// The logger last handed to initLibNvInferPlugins: the registry belongs to no runtime, and that is the
// logger the facts give "to print plugin registration information". Null: the lines are dropped.
std::atomic<nvinfer1::ILogger*> gLogger{nullptr};

void say(Severity severity, const std::string& message) noexcept {
  report(gLogger.load(), severity, message);
}

std::string text(const char* s) { return s != nullptr ? s : ""; }

#if NV_TENSORRT_MAJOR >= 10
// The object the address lies in.
const void* object_of(const void* address) {
  Dl_info info;
  struct link_map* object = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP) == 0) return nullptr;
  return object;
}

// Whether the getPluginRegistry that the library of handle finds in itself or what it links is defined in
// another object than this libnvinfer.
bool links_another_tensorrt(void* handle) {
  const void* theirs = dlsym(handle, "getPluginRegistry");
  return theirs != nullptr && object_of(theirs) != object_of(reinterpret_cast<const void*>(&say));
}
#endif

std::string identity(const std::string& name, const std::string& version, const std::string& ns) {
  return "plugin creator '" + name + "' version '" + version + "' in namespace '" + ns + "'";
}

// Whether the registry serves the creator's kind; *kind names it for a refusal (10 and later).
bool served(const Creator& creator, std::string* kind) {
#if NV_TENSORRT_MAJOR >= 10
  *kind = text(creator.getInterfaceInfo().kind);
  return *kind == kCreatorV1 || *kind == kCreatorV3One;
#else
  (void)creator;
  kind->clear();
  return true;
#endif
}

// Calls f with the creator as its own kind (the kinds share the calls the registry makes); the kind
// must be served.
template <typename F>
auto as_kind(Creator& creator, F f) {
#if NV_TENSORRT_MAJOR >= 10
  if (text(creator.getInterfaceInfo().kind) == kCreatorV1)
    return f(static_cast<nvinfer1::IPluginCreator&>(creator));
  return f(static_cast<nvinfer1::IPluginCreatorV3One&>(creator));
#else
  return f(creator);
#endif
}

struct Entry {
  std::string name, version, ns;
  Creator* creator;
};

#if NV_TENSORRT_MAJOR >= 10
// Handed to a library's setLoggerFinder by loadLibrary.
class LoggerFinder final : public nvinfer1::ILoggerFinder {
 public:
  nvinfer1::ILogger* findLogger() override { return gLogger.load(); }
};
#endif

class Registry final : public nvinfer1::IPluginRegistry {
 public:
  bool registerCreator(Creator& creator, const char* pluginNamespace) noexcept override {
    control::count("registerCreator");
    try {
      std::string why;
      bool added = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        added = add_locked(creator, pluginNamespace, &why);
      }
      say(added ? Severity::kVERBOSE : Severity::kERROR, "registerCreator: " + why);
      return added;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

#if NV_TENSORRT_MAJOR >= 10
  Creator* const* getAllCreators(int32_t* const numCreators) const noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (numCreators != nullptr) *numCreators = static_cast<int32_t>(all_.size());
    return all_.empty() ? nullptr : all_.data();
  }

  Creator* getCreator(const char* const pluginName, const char* const pluginVersion,
                      const char* const pluginNamespace) noexcept override {
    return find(pluginName, pluginVersion, pluginNamespace);
  }

  PluginLibraryHandle loadLibrary(const char* pluginPath) noexcept override {
    control::count("loadLibrary");
    try {
      return load(pluginPath);
    } catch (const std::bad_alloc&) {
      say(Severity::kERROR, "loadLibrary: out of host memory");
      return nullptr;
    }
  }
#endif

#if NV_TENSORRT_MAJOR == 10
  bool registerCreator(nvinfer1::IPluginCreator& creator,
                       const char* const pluginNamespace) noexcept override {
    return registerCreator(static_cast<Creator&>(creator), pluginNamespace);
  }
#endif

#if NV_TENSORRT_MAJOR <= 10
  // Up to 8.x every creator; on 10 the IPluginCreator ones (the array's type).
  nvinfer1::IPluginCreator* const* getPluginCreatorList(int32_t* const numCreators) const noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (numCreators != nullptr) *numCreators = static_cast<int32_t>(v1_.size());
    return v1_.empty() ? nullptr : v1_.data();
  }

  // On 10 null for a creator of another kind, as documented.
  nvinfer1::IPluginCreator* getPluginCreator(const char* const pluginName, const char* const pluginVersion,
                                             const char* const pluginNamespace) noexcept override {
    Creator* found = find(pluginName, pluginVersion, pluginNamespace);
#if NV_TENSORRT_MAJOR >= 10
    std::string kind;
    if (found == nullptr || (served(*found, &kind), kind != kCreatorV1)) return nullptr;
    return static_cast<nvinfer1::IPluginCreator*>(found);
#else
    return found;
#endif
  }
#endif

  // The registered creator of that name, version and namespace, or null.
  Creator* find(const char* name, const char* version, const char* ns) noexcept {
    if (name == nullptr || version == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& entry : entries_) {
      if (entry.name == name && entry.version == version && entry.ns == text(ns)) return entry.creator;
    }
    return nullptr;
  }

 private:
  // Adds the creator under ns unless it is refused; *what says which, for a line.
  bool add_locked(Creator& creator, const char* ns, std::string* what) {
    std::string kind;
    if (!served(creator, &kind)) {
      *what = "a plugin creator of interface kind '" + kind + "' is not supported (" + kCreatorKinds + ")";
      return false;
    }
    const char* name = as_kind(creator, [](auto& c) { return c.getPluginName(); });
    const char* version = as_kind(creator, [](auto& c) { return c.getPluginVersion(); });
    if (name == nullptr || version == nullptr || ns == nullptr) {
      *what = "a plugin creator with a null name, version or namespace";
      return false;
    }
    const std::string id = identity(name, version, ns);
    for (const Entry& entry : entries_) {
      if (entry.name == name && entry.version == version && entry.ns == ns) {
        *what = id + " is registered already";
        return false;
      }
    }
    entries_.push_back({name, version, ns, &creator});
#if NV_TENSORRT_MAJOR >= 10
    all_.push_back(&creator);
    if (kind == kCreatorV1) v1_.push_back(static_cast<nvinfer1::IPluginCreator*>(&creator));
#else
    v1_.push_back(&creator);
#endif
    *what = id + " registered";
    return true;
  }

#if NV_TENSORRT_MAJOR >= 10
  // The entry points a plugin library TensorRT loads exports (the developer guide's "plugin shared
  // libraries"): setLoggerFinder, and getCreators or, for IPluginCreator lists, getPluginCreators.
  using SetLoggerFinder = void (*)(nvinfer1::ILoggerFinder*);
  using GetCreators = Creator* const* (*)(int32_t&);
  using GetPluginCreators = nvinfer1::IPluginCreator* const* (*)(int32_t&);

  void* load(const char* path) {
    if (path == nullptr) {
      say(Severity::kERROR, "loadLibrary: the plugin library path is null");
      return nullptr;
    }
    const std::string library = "plugin library '" + std::string(path) + "'";
    // Its static initialisers run here and may register creators themselves. Never closed, even when
    // refused: creators it registered point into it.
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      say(Severity::kERROR, "loadLibrary: cannot load " + library + ": " + text(dlerror()));
      return nullptr;
    }
    // The stricter reading where the facts are silent: a library that links another TensorRT's
    // libnvinfer (its getPluginRegistry is another library's) is refused.
    if (links_another_tensorrt(handle)) {
      say(Severity::kERROR, "loadLibrary: " + library + " links another TensorRT than this one (TensorRT " +
                                std::to_string(NV_TENSORRT_MAJOR) +
                                "): its getPluginRegistry is not this runtime's");
      return nullptr;
    }
    std::vector<Creator*> creators;
    const char* entry = nullptr;
    std::string why;
    if (!entry_point_creators(handle, &creators, &entry, &why)) {
      say(Severity::kERROR, "loadLibrary: " + library + why);
      return nullptr;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!add_all_locked(creators, &why)) {
        why = "loadLibrary: " + library + ": " + why + "; none of its creators is registered";
      } else {
        why.clear();
      }
    }
    if (!why.empty()) {
      say(Severity::kERROR, why);
      return nullptr;
    }
    say(Severity::kVERBOSE, "loadLibrary: " + library + " registered " + std::to_string(creators.size()) +
                                " plugin creator(s) from " + entry);
    return handle;
  }

  // The creators the library's entry points hand out, *entry naming the one that did, after giving it
  // the registry's logger finder; false with the reason (after the library's name) otherwise.
  bool entry_point_creators(void* handle, std::vector<Creator*>* creators, const char** entry,
                            std::string* why) {
    auto get_creators = reinterpret_cast<GetCreators>(dlsym(handle, "getCreators"));
    auto get_plugin_creators = reinterpret_cast<GetPluginCreators>(dlsym(handle, "getPluginCreators"));
    auto set_logger_finder = reinterpret_cast<SetLoggerFinder>(dlsym(handle, "setLoggerFinder"));
    if (get_creators == nullptr && get_plugin_creators == nullptr) {
      *why = " exports neither getCreators nor getPluginCreators: it is no plugin library TensorRT can load";
      return false;
    }
    if (set_logger_finder == nullptr) {
      *why = " exports no setLoggerFinder";
      return false;
    }
    set_logger_finder(&finder_);
    int32_t count = 0;
    bool listed = true;
    *entry = get_creators != nullptr ? "getCreators" : "getPluginCreators";
    if (get_creators != nullptr) {
      Creator* const* list = get_creators(count);
      listed = count >= 0 && (list != nullptr || count == 0);
      for (int32_t i = 0; listed && i < count; ++i) creators->push_back(list[i]);
    } else {
      nvinfer1::IPluginCreator* const* list = get_plugin_creators(count);
      listed = count >= 0 && (list != nullptr || count == 0);
      for (int32_t i = 0; listed && i < count; ++i) creators->push_back(list[i]);
    }
    if (!listed) {
      *why =
          std::string(": ") + *entry + " handed out " + std::to_string(count) + " creator(s) without a list";
      return false;
    }
    return true;
  }

  // Registers every creator, each under its own namespace, or none (and *why says which one failed).
  bool add_all_locked(const std::vector<Creator*>& creators, std::string* why) {
    const std::size_t entries = entries_.size();
    const std::size_t all = all_.size();
    const std::size_t v1 = v1_.size();
    for (std::size_t i = 0; i < creators.size(); ++i) {
      if (creators[i] == nullptr) {
        *why = "creator " + std::to_string(i) + " is null";
      } else {
        std::string kind;
        const char* ns = served(*creators[i], &kind)
                             ? as_kind(*creators[i], [](auto& c) { return c.getPluginNamespace(); })
                             : "";
        if (add_locked(*creators[i], ns, why)) continue;
      }
      entries_.resize(entries);
      all_.resize(all);
      v1_.resize(v1);
      return false;
    }
    return true;
  }

  LoggerFinder finder_;
  std::vector<Creator*> all_;  // what getAllCreators hands out
#endif

#if NV_TENSORRT_MAJOR >= 10
  static constexpr const char* kCreatorKinds = "PLUGIN CREATOR_V1 or PLUGIN CREATOR_V3ONE";
#else
  static constexpr const char* kCreatorKinds = "";
#endif

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::vector<nvinfer1::IPluginCreator*> v1_;  // what getPluginCreatorList hands out
};

// One per library and process, never destroyed: plugin libraries' static objects may register and
// look up at any time, exit included.
Registry& registry() {
  static Registry* const instance = new Registry;
  return *instance;
}

// The float32 value of the creator's field, or false.
bool field_value(const nvinfer1::PluginFieldCollection* fields, const char* name, float* value) {
  if (fields == nullptr || fields->fields == nullptr) return false;
  for (int32_t i = 0; i < fields->nbFields; ++i) {
    const nvinfer1::PluginField& field = fields->fields[i];
    if (field.name == nullptr || std::strcmp(field.name, name) != 0) continue;
    if (field.type != nvinfer1::PluginFieldType::kFLOAT32 || field.length != 1 || field.data == nullptr)
      return false;
    std::memcpy(value, field.data, sizeof *value);
    return true;
  }
  return false;
}

}  // namespace

bool resolve_plugin_layers(Graph* graph, std::string* why) {
  std::vector<Layer>& layers = graph->network.layers;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    Layer& layer = layers[i];
    if (layer.op != LayerOp::kPlugin) continue;
    const std::string id = identity(layer.plugin_name, layer.plugin_version, layer.plugin_namespace);
    const std::string where = "layers[" + std::to_string(i) + "], output '" + layer.output + "'";
    Creator* creator = registry().find(layer.plugin_name.c_str(), layer.plugin_version.c_str(),
                                       layer.plugin_namespace.c_str());
    if (creator == nullptr) {
      *why = "no " + id + " is registered (" + where +
             "): load the plugin library that registers it before deserializing the engine";
      return false;
    }
    const nvinfer1::PluginFieldCollection* fields =
        as_kind(*creator, [](auto& c) { return c.getFieldNames(); });
    const std::pair<const char*, float*> values[] = {{"scale", &layer.a}, {"offset", &layer.b}};
    for (const auto& [name, value] : values) {
      if (!field_value(fields, name, value)) {
        *why = id + " (" + where + ") describes no field '" + name +
               "' of one kFLOAT32 value in getFieldNames(): the stand-in's plugin layers compute scale * x + "
               "offset with the values of those fields";
        return false;
      }
    }
  }
  return true;
}

}  // namespace trt_standin

#if NV_TENSORRT_MAJOR >= 8
#define TRT_STANDIN_NOEXCEPT_FROM_8 noexcept
#else
#define TRT_STANDIN_NOEXCEPT_FROM_8
#endif

extern "C" TENSORRTAPI nvinfer1::IPluginRegistry* getPluginRegistry() TRT_STANDIN_NOEXCEPT_FROM_8 {
  return &trt_standin::registry();
}

extern "C" TENSORRTAPI void trt_standin_internal_set_plugin_logger(void* logger) {
  trt_standin::gLogger.store(static_cast<nvinfer1::ILogger*>(logger));
}
