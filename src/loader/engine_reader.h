// Which TensorRT major reads an engine, and what the engine is: the one place where inferlet-run and
// the Python extension try the build's sessions libraries on engine bytes. Each candidate library is
// opened in turn (one that cannot be opened is passed over: its TensorRT is not here) and loads the
// bytes; the first that does not refuse them is the engine's major (an engine is refused by every
// other major's runtime), and the engine it loaded is described through the function table.
#ifndef INFERLET_LOADER_ENGINE_READER_H_
#define INFERLET_LOADER_ENGINE_READER_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "sessions_loader.h"

namespace inferlet_loader {

// The engine loaded by a library, released with this object.
class LoadedEngine {
 public:
  LoadedEngine() = default;
  LoadedEngine(const SessionsLibrary* library, inferlet_engine* engine)
      : library_(library), engine_(engine) {}
  ~LoadedEngine() { Reset(); }
  LoadedEngine(LoadedEngine&& other) noexcept { *this = std::move(other); }
  LoadedEngine& operator=(LoadedEngine&& other) noexcept;
  LoadedEngine(const LoadedEngine&) = delete;
  LoadedEngine& operator=(const LoadedEngine&) = delete;

  inferlet_engine* get() const { return engine_; }
  inferlet_engine* Release();  // the caller releases it with the library's engine_release
  void Reset();

 private:
  const SessionsLibrary* library_ = nullptr;
  inferlet_engine* engine_ = nullptr;
};

using Dims = std::vector<int64_t>;

struct TensorDescription {
  std::string name;
  bool is_input = false;
  int32_t dtype = 0;               // as nvinfer1::DataType
  inferlet_data_type_info type{};  // the library's table of dtype (static strings)
  std::vector<int32_t> formats;    // per profile, as nvinfer1::TensorFormat
  bool on_host = false;
  int32_t item_size = 0;
  Dims dims;  // -1 where the profile sets the extent
  // An output some extent of which TensorRT learns only while a call runs (TensorRT 10 and later): at
  // some profile's point inferlet_engine_profile_resolved_shape leaves it -1, with every input there.
  bool data_dependent = false;
};

// Per tensor, in the engine's order: inputs at the profile's points, outputs as TensorRT infers them
// there (inferlet_engine_profile_resolved_shape; -1 in a data-dependent output's extents).
struct ProfileDescription {
  std::vector<Dims> min, opt, max;
  // Per tensor, a shape tensor's values at the profile's points (inferlet_engine_profile_tensor_values,
  // from TensorRT 10 on: the libraries for 7 and 8 serve no shape tensors); empty for the others.
  std::vector<std::vector<int64_t>> min_values, opt_values, max_values;
};

struct EngineDescription {
  int trt_major = 0;
  std::string name;
  int max_batch_size = 0;
  bool refittable = false;
  int binding_count = 0;
  bool dynamic_shapes = false;
  std::vector<TensorDescription> tensors;
  std::vector<ProfileDescription> profiles;
  size_t engine_bytes = 0, context_bytes = 0;  // inferlet_engine_device_memory
};

// A library to try: the file of a major of the build, or a given one whose major is whatever it says
// (major 0).
struct Candidate {
  int major = 0;
  std::string path;
};

// Why one candidate did not read the engine.
struct Refusal {
  int major = 0;  // the library's own
  inferlet_code code = INFERLET_OK;
  std::string message;   // the status's message
  std::string tensorrt;  // TensorRT's error lines while it loaded, "; "-joined (CaptureTensorrtErrors)
  bool plugin = false;   // it did not take a plugin library of ReadOptions::plugins (message: why)
  // TensorRT's own words where it gave them: "not an engine this TensorRT can deserialize (TensorRT:
  // ...)"; otherwise the status's message.
  std::string Reason() const;
};

struct ReadOptions {
  int device = 0;
  // The engine may hold host code (a version-compatible engine of TensorRT 10 or later), which TensorRT
  // then runs in this process: inferlet_engine_config.allow_host_code.
  bool allow_host_code = false;
  // Takes TensorRT's error lines through the library's log callback while the bytes load, and leaves
  // the library without a callback: for a host that installs none of its own at that time.
  bool capture_tensorrt_errors = false;
  // Off: only which candidate reads the bytes and the engine it loaded; the reading has no
  // description.
  bool describe = true;
  // Called with each library once it is open, before it loads the bytes (a host installs its log).
  std::function<void(const SessionsLibrary&)> on_open;
  // Libraries of TensorRT plugins (the custom layers of an engine) that each candidate loads into its
  // TensorRT (LoadPlugins) before it loads the bytes; one it does not take is its refusal. With
  // plugins, every candidate is opened before any of them loads one (see LoadPlugins).
  std::vector<std::string> plugins;
};

struct EngineReading {
  const SessionsLibrary* library = nullptr;
  LoadedEngine engine;
  EngineDescription description;
};

// No candidate read the bytes. Candidates that could not be opened are not among the refusals; when
// none could, refusals is empty and load_errors holds why.
class NoneReads : public std::runtime_error {
 public:
  NoneReads(std::vector<Refusal> refusals, std::vector<std::string> load_errors);
  const std::vector<Refusal>& refusals() const { return refusals_; }
  const std::vector<std::string>& load_errors() const { return load_errors_; }

 private:
  std::vector<Refusal> refusals_;
  std::vector<std::string> load_errors_;
};

// One line for the refusals: a single one's Reason(); for several "no TensorRT major of this build
// (8, 7, 10, 11) reads it: <reason>" when they agree, else "...reads it; TensorRT 8: <its reason>;
// TensorRT 7: <its reason>; ..." with every major's (the engine's own major, whatever it says, is among
// them: a missing plugin, say).
std::string NoneReadsLine(const std::vector<Refusal>& refusals, bool several);

// Whether host code the options did not allow may be why: some candidate of TensorRT 10 or later refused
// the bytes as an engine.
bool HostCodeMayBeWhy(const std::vector<Refusal>& refusals, const ReadOptions& options);

// The first candidate, in order, that reads the bytes, the engine it loaded and its description.
// Throws NoneReads, or LoadError where a library answers what a sessions library cannot.
EngineReading ReadEngine(const void* bytes, size_t size, const std::vector<Candidate>& candidates,
                         const ReadOptions& options = {});

// Loads each of the plugin libraries into the library's TensorRT (inferlet_plugin_library_load), in
// order: nothing when it takes them all, else the refusal of the first it does not take (plugin set).
// On TensorRT 7 and 8 a plugin library is loaded with RTLD_GLOBAL, which puts it and the libnvinfer it
// links ahead of every later library's own in the dynamic linker's lookup: a sessions library opened
// after that would bind to that TensorRT. A host that uses several majors opens them all first.
std::optional<Refusal> LoadPlugins(const SessionsLibrary& library, const std::vector<std::string>& plugins);

// The description of an engine a library loaded. Throws LoadError when the library refuses a question.
EngineDescription DescribeEngine(const SessionsLibrary& library, const inferlet_engine* engine);

}  // namespace inferlet_loader

#endif  // INFERLET_LOADER_ENGINE_READER_H_
