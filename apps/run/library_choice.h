// Which libraries a run or `inferlet-run inspect` loads -- the sessions library that reads the engine
// and names its TensorRT major, and the deliverable or sessions library of that major that runs it --
// the engine as that sessions library describes it, and the data-type table of that major.
#ifndef INFERLET_APPS_LIBRARY_CHOICE_H_
#define INFERLET_APPS_LIBRARY_CHOICE_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "deliverable.h"
#include "engine_desc.h"
#include "sessions_loader.h"

namespace inferlet_run {

// What the command line says about the libraries; 0 and empty where it says nothing.
struct LibraryRequest {
  int trt = 0;                   // --trt
  std::string lib;               // --lib
  bool sessions = false;         // --api sessions: the sessions library of the major runs the engine
  bool allow_host_code = false;  // --allow-host-code: a version-compatible engine may be read
  // --plugins: loaded into each sessions library that reads the engine (inferlet_plugin_library_load),
  // or, for a run of the legacy interface, by the tool itself with dlopen (RTLD_GLOBAL) before the
  // engine is read, as a host of kestrel_trt_* loads them.
  std::vector<std::string> plugins;
};

// Where a library the build installs (given by its file name) is loaded from; the tool's is
// DefaultLibraryPath.
using LibraryLocator = std::function<std::string(const std::string& file)>;

struct LibraryChoice {
  int trt_major = 0;
  // The sessions library that read the engine (libinferlet_sessions<N>.so, or --lib with --api
  // sessions); it stays loaded until the process ends.
  const inferlet_loader::SessionsLibrary* reader = nullptr;
  EngineDesc engine;                         // as that library described it
  std::unique_ptr<Deliverable> deliverable;  // loaded for a run; none for inspect or --api sessions
  // Opened for a run with --api sessions instead; it stays loaded until the process ends.
  const inferlet_loader::SessionsLibrary* sessions = nullptr;
};

// The sessions library at path, through inferlet::loader; throws ToolError (library) when it cannot be
// loaded or answers no function table of this tool's version.
const inferlet_loader::SessionsLibrary& OpenSessionsLibrary(const std::string& path);

// For a run. The major is --trt when given (the deliverable, --lib or the build's, must link no
// other), else what --lib links; that major's sessions library then reads the engine. Plugin libraries
// of a run of the legacy interface are loaded once the sessions libraries that may read the engine are
// open (the ones that put their TensorRT in the global scope must come after those, see
// inferlet_loader::LoadPlugins), before the engine is read; one that cannot be loaded is ToolError
// (library). Without either
// the engine decides, as for ChooseReader, and that major's deliverable is loaded. Throws ToolError; a
// deliverable is loaded before the engine is read, the engine read before a deliverable it decides.
// With request.sessions the same holds for the sessions library (libinferlet_sessions<N>.so, or
// --lib), whose major is the one it answers and which reads the engine itself.
LibraryChoice ChooseLibraries(const LibraryRequest& request, const std::string& engine_path,
                              const std::string& engine_bytes,
                              const LibraryLocator& locate = DefaultLibraryPath);

// The data-type table of the choice's major, its reader's.
DataTypes DescribeDataTypes(const LibraryChoice& choice);

// For inspect: no deliverable, --lib has no part. --trt names the one major whose sessions library
// reads the engine; otherwise the sessions library of each major of kTrtMajors is tried in order, one
// that cannot be loaded passed over, and the first that reads the engine decides. Each loads the
// plugin libraries first. When none reads it, the error gives the reason and, after a single major,
// which --trt fits; when none took the plugin libraries, it says so (ToolError library). Throws
// ToolError.
LibraryChoice ChooseReader(const LibraryRequest& request, const std::string& engine_path,
                           const std::string& engine_bytes,
                           const LibraryLocator& locate = DefaultLibraryPath);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_LIBRARY_CHOICE_H_
