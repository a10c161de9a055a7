#include "library_choice.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <iterator>
#include <utility>
#include <vector>

#include "exit_codes.h"
#include "options.h"

namespace inferlet_run {

namespace {

std::string InspectorFile(int major) { return fmt::format("libinferlet_inspect{}.so", major); }
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

std::vector<int> AllMajors() { return std::vector<int>(std::begin(kTrtMajors), std::end(kTrtMajors)); }

// After an inspector of one major failed to read the engine: the first other major whose inspector
// (where it is installed) reads it, in words that say which --trt fits; empty when none does.
std::string OtherMajorHint(const std::string& engine_bytes, int failed_major, const char* lib_given,
                           const LibraryLocator& locate) {
  for (int other : kTrtMajors) {
    if (other == failed_major) continue;
    try {
      Inspector inspector(locate(InspectorFile(other)));
      if (inspector.TrtMajor() != other) continue;
      inspector.Inspect(engine_bytes);
    } catch (const ToolError&) {
      continue;
    }
    if (lib_given)
      return fmt::format("; it is a TensorRT {0} engine: give --lib {1} built for TensorRT {0}", other,
                         lib_given);
    return fmt::format("; it is a TensorRT {0} engine: run it with --trt {0}", other);
  }
  return "";
}

// Why no inspector read the engine: a single one's reason, or for several the majors tried and one
// reason, theirs when they all agree, else the first major's.
std::string NoneReads(const std::vector<std::pair<int, std::string>>& reasons, bool several) {
  if (!several) return reasons.front().second;
  std::vector<int> majors;
  bool agree = true;
  for (const auto& [major, why] : reasons) {
    majors.push_back(major);
    agree = agree && why == reasons.front().second;
  }
  return fmt::format("no TensorRT major of this build ({}) reads it{}", fmt::join(majors, ", "),
                     agree ? ": " + reasons.front().second
                           : fmt::format("; TensorRT {}: {}", reasons.front().first, reasons.front().second));
}

// Reads the engine with the first inspector that can: that of each major in `majors`, in order
// (0: whatever major the inspector reads); `inspector_path`, when given, is the one inspector. An
// inspector that cannot be loaded is passed over (its TensorRT is not here); when none can be loaded,
// the first load error is thrown. When none reads the engine, the error says why (NoneReads) and,
// after a single inspector, which --trt fits.
LibraryChoice ReadWithFirstInspector(const std::string& engine_path, const std::string& engine_bytes,
                                     const std::vector<int>& majors, const std::string& inspector_path,
                                     const LibraryLocator& locate) {
  std::vector<ToolError> load_errors;
  std::vector<std::pair<int, std::string>> read_errors;
  int tried_major = 0;
  for (int major : majors) {
    LibraryChoice choice;
    choice.inspector_path = !inspector_path.empty() ? inspector_path : locate(InspectorFile(major));
    try {
      Inspector inspector(choice.inspector_path);
      if (major != 0 && inspector.TrtMajor() != major)
        throw ToolError{kExitUsage, fmt::format("--trt {} given, but {} reads TensorRT {} engines", major,
                                                choice.inspector_path, inspector.TrtMajor())};
      tried_major = inspector.TrtMajor();
      try {
        choice.engine = inspector.Inspect(engine_bytes);
        choice.trt_major = tried_major;
        return choice;
      } catch (const ToolError& e) {
        read_errors.emplace_back(tried_major, e.message);
      }
    } catch (const ToolError& e) {
      if (e.code != kExitLibrary) throw;
      load_errors.push_back(e);
    }
  }
  if (read_errors.empty()) throw load_errors.front();
  std::string why = NoneReads(read_errors, majors.size() > 1);
  if (majors.size() == 1) why += OtherMajorHint(engine_bytes, tried_major, nullptr, locate);
  throw ToolError{kExitInput, fmt::format("cannot read engine file '{}': {}", engine_path, why)};
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

// Without --trt and --lib: the first inspector that reads the engine names the major (an engine is
// refused by every other major's runtime), and that major's deliverable runs it.
LibraryChoice ChooseByEngine(const LibraryRequest& request, const std::string& engine_path,
                             const std::string& engine_bytes, const LibraryLocator& locate) {
  LibraryChoice choice = ChooseInspector(request, engine_path, engine_bytes, locate);
  const RunLibrary lib = LoadRunLibrary(request, locate(RunLibraryFile(request, choice.trt_major)), choice);
  const int linked = lib.linked_major;
  if (linked != 0 && linked != choice.trt_major)
    throw ToolError{kExitLibrary, fmt::format("{} reads the engine as TensorRT {}, but {} links TensorRT {}",
                                              choice.inspector_path, choice.trt_major, lib.path, linked)};
  return choice;
}

// With --trt or --lib: the deliverable's major names the inspector, which must read the engine.
LibraryChoice ChooseByDeliverable(const LibraryRequest& request, const std::string& engine_path,
                                  const std::string& engine_bytes, const LibraryLocator& locate) {
  LibraryChoice choice;
  const RunLibrary lib = LoadRunLibrary(
      request, request.lib.empty() ? locate(RunLibraryFile(request, request.trt)) : request.lib, choice);
  choice.trt_major = DeliverableMajor(request, lib);
  choice.inspector_path =
      request.inspector.empty() ? locate(InspectorFile(choice.trt_major)) : request.inspector;
  const Inspector inspector(choice.inspector_path);
  if (inspector.TrtMajor() != choice.trt_major)
    throw ToolError{kExitUsage,
                    fmt::format("{} reads TensorRT {} engines, the {} is TensorRT {}", choice.inspector_path,
                                inspector.TrtMajor(), request.sessions ? "sessions library" : "deliverable",
                                choice.trt_major)};
  try {
    choice.engine = inspector.Inspect(engine_bytes);
  } catch (ToolError& e) {
    e.message = fmt::format("cannot read engine file '{}': {}{}", engine_path, e.message,
                            OtherMajorHint(engine_bytes, choice.trt_major,
                                           request.lib.empty() ? nullptr : RunLibraryNoun(request), locate));
    throw;
  }
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

DataTypes DescribeDataTypes(const LibraryChoice& choice, const LibraryLocator& locate) {
  if (choice.sessions) return DataTypes::Describe(*choice.sessions);
  return DataTypes::Describe(OpenSessionsLibrary(locate(SessionsFile(choice.trt_major))));
}

LibraryChoice ChooseInspector(const LibraryRequest& request, const std::string& engine_path,
                              const std::string& engine_bytes, const LibraryLocator& locate) {
  std::vector<int> majors = AllMajors();
  if (request.trt != 0)
    majors = {request.trt};
  else if (!request.inspector.empty())
    majors = {0};
  return ReadWithFirstInspector(engine_path, engine_bytes, majors, request.inspector, locate);
}

}  // namespace inferlet_run
