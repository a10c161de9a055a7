#include "library_choice.h"

#include <dlfcn.h>
#include <fmt/format.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "engine_reader.h"
#include "exit_codes.h"
#include "options.h"

namespace inferlet_run {

namespace {

using inferlet_loader::Candidate;

std::string DeliverableFile(int major) { return fmt::format("libinferlet{}.so", major); }
std::string SessionsFile(int major) { return fmt::format("libinferlet_sessions{}.so", major); }
std::string RunLibraryFile(const LibraryRequest& request, int major) {
  return request.sessions ? SessionsFile(major) : DeliverableFile(major);
}

// What --lib names, in a hint to give it another.
const char* RunLibraryNoun(const LibraryRequest& request) {
  return request.sessions ? "a sessions library" : "a deliverable";
}

// The library that runs the engine, as far as the choice needs it.
struct RunLibrary {
  std::string path;
  int linked_major = 0;  // the TensorRT major it is built for, as loading it tells; 0 if unclear
};

// Loads the library that runs the engine into the choice.
RunLibrary LoadRunLibrary(const LibraryRequest& request, const std::string& path, LibraryChoice& choice) {
  if (request.sessions) {
    choice.sessions = &OpenSessionsLibrary(path);
    return {path, choice.sessions->major()};
  }
  choice.deliverable = std::make_unique<Deliverable>(path);
  return {path, choice.deliverable->LinkedTrtMajor()};
}

// The build's sessions library of each major, in order.
std::vector<Candidate> BuildsReaders(const std::vector<int>& majors, const LibraryLocator& locate) {
  std::vector<Candidate> candidates;
  for (int major : majors) candidates.push_back({major, locate(SessionsFile(major))});
  return candidates;
}

// Where TensorRT 10 or later refused the bytes without --allow-host-code (TensorRT does not say in a form
// to rely on whether host code was why).
constexpr const char* kHostCodeHint =
    "; if it is a version-compatible engine, it holds host code: give --allow-host-code (for a run, with "
    "--api sessions)";

// TensorRT's own refusal reaches the message; nothing else of the libraries is said.
inferlet_loader::ReadOptions Quietly(bool describe, bool allow_host_code,
                                     const std::vector<std::string>& plugins = {}) {
  inferlet_loader::ReadOptions options;
  options.capture_tensorrt_errors = true;
  options.describe = describe;
  options.allow_host_code = allow_host_code;
  options.plugins = plugins;
  return options;
}

// The plugin libraries the sessions library that reads the engine loads itself: all but for a run of
// the legacy interface, where the tool has loaded them (LoadPluginsGlobally).
std::vector<std::string> ReaderPlugins(const LibraryRequest& request) {
  return request.sessions ? request.plugins : std::vector<std::string>{};
}

// As a host of kestrel_trt_* loads a plugin library (docs/legacy-interface.md): dlopen with RTLD_NOW |
// RTLD_GLOBAL, never closed, so that its static registration has run before the deliverable makes its
// handle.
void LoadPluginsGlobally(const std::vector<std::string>& plugins) {
  for (const std::string& path : plugins) {
    if (!dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
      const char* why = dlerror();
      throw ToolError{kExitLibrary,
                      fmt::format("cannot load plugin library '{}': {}", path, why ? why : "dlopen failed")};
    }
  }
}

// Opens the sessions libraries of the candidates that are there, before a plugin library goes into
// the global scope; one that cannot be opened is passed over here and reported where it is read.
void OpenReaders(const std::vector<Candidate>& candidates) {
  for (const Candidate& candidate : candidates) {
    try {
      inferlet_loader::SessionsLibrary::Open(candidate.path);
    } catch (const inferlet_loader::LoadError&) {
    }
  }
}

// After the sessions library of one major failed to read the engine: the first other major whose
// library (where it is installed) reads it, in words that say which --trt fits; empty when none does.
std::string OtherMajorHint(const std::string& engine_bytes, int failed_major, const char* lib_given,
                           const LibraryLocator& locate, bool allow_host_code) {
  for (int other : kTrtMajors) {
    if (other == failed_major) continue;
    try {
      inferlet_loader::ReadEngine(engine_bytes.data(), engine_bytes.size(), BuildsReaders({other}, locate),
                                  Quietly(false, allow_host_code));
    } catch (const std::runtime_error&) {
      continue;
    }
    if (lib_given)
      return fmt::format("; it is a TensorRT {0} engine: give --lib {1} built for TensorRT {0}", other,
                         lib_given);
    return fmt::format("; it is a TensorRT {0} engine: run it with --trt {0}", other);
  }
  return "";
}

// Reads the engine with the first candidate that can, into a choice. One that cannot be loaded is
// passed over; when none can, the first load error is thrown. When none reads the engine, the error says
// why and, after a single candidate, which --trt (or --lib, lib_given) fits.
LibraryChoice ReadWithFirst(const std::string& engine_path, const std::string& engine_bytes,
                            const std::vector<Candidate>& candidates, const char* lib_given,
                            const LibraryLocator& locate, bool allow_host_code,
                            const std::vector<std::string>& plugins) {
  const inferlet_loader::ReadOptions options = Quietly(true, allow_host_code, plugins);
  try {
    inferlet_loader::EngineReading reading =
        inferlet_loader::ReadEngine(engine_bytes.data(), engine_bytes.size(), candidates, options);
    LibraryChoice choice;
    choice.trt_major = reading.library->major();
    choice.reader = reading.library;
    choice.engine = DescribeEngine(reading.description);
    return choice;
  } catch (const inferlet_loader::NoneReads& none) {
    if (none.refusals().empty()) throw ToolError{kExitLibrary, none.what()};
    const auto& refusals = none.refusals();
    // No major took the plugin libraries: what they said, the engine unread.
    if (std::all_of(refusals.begin(), refusals.end(), [](const auto& r) { return r.plugin; }))
      throw ToolError{kExitLibrary, inferlet_loader::NoneReadsLine(refusals, refusals.size() > 1)};
    std::string why = none.what();
    if (candidates.size() == 1)
      why += OtherMajorHint(engine_bytes, none.refusals().front().major, lib_given, locate, allow_host_code);
    if (inferlet_loader::HostCodeMayBeWhy(none.refusals(), options)) why += kHostCodeHint;
    throw ToolError{kExitInput, fmt::format("cannot read engine file '{}': {}", engine_path, why)};
  } catch (const inferlet_loader::LoadError& e) {
    throw ToolError{kExitLibrary, e.what()};
  }
}

// --trt when given (and the deliverable must link no other major), otherwise what the deliverable links.
int DeliverableMajor(const LibraryRequest& request, const RunLibrary& lib) {
  const int linked = lib.linked_major;
  if (request.trt != 0) {
    if (linked != 0 && linked != request.trt)
      throw ToolError{kExitUsage,
                      fmt::format("--trt {} given, but {} links TensorRT {}", request.trt, lib.path, linked)};
    return request.trt;
  }
  if (linked != 0) return linked;
  throw ToolError{kExitUsage, fmt::format("cannot tell which TensorRT {} uses; add --trt {}", lib.path,
                                          TrtMajorsInWords())};
}

// Without --trt and --lib: the first sessions library that reads the engine names the major (an engine
// is refused by every other major's runtime), and that major's deliverable runs it.
LibraryChoice ChooseByEngine(const LibraryRequest& request, const std::string& engine_path,
                             const std::string& engine_bytes, const LibraryLocator& locate) {
  const std::vector<Candidate> readers =
      BuildsReaders(std::vector<int>(std::begin(kTrtMajors), std::end(kTrtMajors)), locate);
  if (!request.sessions && !request.plugins.empty()) {
    OpenReaders(readers);
    LoadPluginsGlobally(request.plugins);
  }
  LibraryChoice choice = ReadWithFirst(engine_path, engine_bytes, readers, nullptr, locate,
                                       request.allow_host_code, ReaderPlugins(request));
  const RunLibrary lib = LoadRunLibrary(request, locate(RunLibraryFile(request, choice.trt_major)), choice);
  const int linked = lib.linked_major;
  if (linked != 0 && linked != choice.trt_major)
    throw ToolError{kExitLibrary, fmt::format("{} reads the engine as TensorRT {}, but {} links TensorRT {}",
                                              choice.reader->path(), choice.trt_major, lib.path, linked)};
  return choice;
}

// With --trt or --lib: the deliverable's major names the sessions library that must read the engine
// (with --api sessions, the one that runs it).
LibraryChoice ChooseByDeliverable(const LibraryRequest& request, const std::string& engine_path,
                                  const std::string& engine_bytes, const LibraryLocator& locate) {
  LibraryChoice loaded;
  const RunLibrary lib = LoadRunLibrary(
      request, request.lib.empty() ? locate(RunLibraryFile(request, request.trt)) : request.lib, loaded);
  const int major = DeliverableMajor(request, lib);
  const Candidate reader{major, request.sessions ? lib.path : locate(SessionsFile(major))};
  if (!request.sessions && !request.plugins.empty()) {
    OpenReaders({reader});
    LoadPluginsGlobally(request.plugins);
  }
  LibraryChoice choice = ReadWithFirst(engine_path, engine_bytes, {reader},
                                       request.lib.empty() ? nullptr : RunLibraryNoun(request), locate,
                                       request.allow_host_code, ReaderPlugins(request));
  choice.deliverable = std::move(loaded.deliverable);
  choice.sessions = loaded.sessions;
  return choice;
}

}  // namespace

const inferlet_loader::SessionsLibrary& OpenSessionsLibrary(const std::string& path) {
  try {
    return inferlet_loader::SessionsLibrary::Open(path);
  } catch (const inferlet_loader::LoadError& e) {
    throw ToolError{kExitLibrary, e.what()};
  }
}

LibraryChoice ChooseLibraries(const LibraryRequest& request, const std::string& engine_path,
                              const std::string& engine_bytes, const LibraryLocator& locate) {
  if (request.trt == 0 && request.lib.empty())
    return ChooseByEngine(request, engine_path, engine_bytes, locate);
  return ChooseByDeliverable(request, engine_path, engine_bytes, locate);
}

DataTypes DescribeDataTypes(const LibraryChoice& choice) { return DataTypes::Describe(*choice.reader); }

LibraryChoice ChooseReader(const LibraryRequest& request, const std::string& engine_path,
                           const std::string& engine_bytes, const LibraryLocator& locate) {
  std::vector<int> majors(std::begin(kTrtMajors), std::end(kTrtMajors));
  if (request.trt != 0) majors = {request.trt};
  return ReadWithFirst(engine_path, engine_bytes, BuildsReaders(majors, locate), nullptr, locate,
                       request.allow_host_code, request.plugins);
}

}  // namespace inferlet_run
