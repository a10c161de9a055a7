// Which libraries a run or `inferlet-run inspect` loads -- the deliverable or the sessions library, the
// engine inspector and their TensorRT major -- the engine as that inspector reads it, and the data-type
// table of that major.
#ifndef INFERLET_APPS_LIBRARY_CHOICE_H_
#define INFERLET_APPS_LIBRARY_CHOICE_H_

#include <functional>
#include <memory>
#include <string>

#include "deliverable.h"
#include "engine_desc.h"
#include "sessions_loader.h"

namespace inferlet_run {

// What the command line says about the libraries; 0 and empty where it says nothing.
struct LibraryRequest {
  int trt = 0;            // --trt
  std::string lib;        // --lib
  std::string inspector;  // --inspector
  bool sessions = false;  // --api sessions: the sessions library of the major runs the engine
};

// Where a library the build installs (given by its file name) is loaded from; the tool's is
// DefaultLibraryPath.
using LibraryLocator = std::function<std::string(const std::string& file)>;

struct LibraryChoice {
  int trt_major = 0;
  std::string inspector_path;                // the inspector that read the engine
  EngineDesc engine;                         // as that inspector read it
  std::unique_ptr<Deliverable> deliverable;  // loaded for a run; none for inspect or --api sessions
  // Opened for a run with --api sessions instead; it stays loaded until the process ends.
  const inferlet_loader::SessionsLibrary* sessions = nullptr;
};

// The sessions library at path, through inferlet::loader; throws ToolError (library) when it cannot be
// loaded or answers no function table of this tool's version.
const inferlet_loader::SessionsLibrary& OpenSessionsLibrary(const std::string& path);

// For a run. The major is --trt when given (the deliverable, --lib or the build's, must link no
// other), else what --lib links; that major's inspector (or --inspector, which must read that major)
// then reads the engine. Without either the engine decides, as for ChooseInspector, and that major's
// deliverable is loaded. Throws ToolError; a deliverable is loaded before its inspector, an inspector
// that decides before the deliverable. With request.sessions the same holds for the sessions library
// (libinferlet_sessions<N>.so, or --lib), whose major is the one it answers.
LibraryChoice ChooseLibraries(const LibraryRequest& request, const std::string& engine_path,
                              const std::string& engine_bytes,
                              const LibraryLocator& locate = DefaultLibraryPath);

// The data-type table of the choice's major: its sessions library's (--api sessions), else the one of
// the build's sessions library of that major, opened for this alone. Throws ToolError (library).
DataTypes DescribeDataTypes(const LibraryChoice& choice, const LibraryLocator& locate = DefaultLibraryPath);

// For inspect: no deliverable, --lib has no part. --trt names the one inspector's major (--inspector,
// when given too, must read it); --inspector alone is the one inspector, whatever it reads; otherwise
// the inspector of each major of kTrtMajors is tried in order, one that cannot be loaded passed over,
// and the first that reads the engine decides. When none reads it, the error gives each one's reason
// and, after a single inspector, which --trt fits. Throws ToolError.
LibraryChoice ChooseInspector(const LibraryRequest& request, const std::string& engine_path,
                              const std::string& engine_bytes,
                              const LibraryLocator& locate = DefaultLibraryPath);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_LIBRARY_CHOICE_H_
