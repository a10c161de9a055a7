// Which deliverable and sessions library a run and `inspect` load for each combination of --trt, --lib
// and --api, with a build whose libraries may be partly missing: in-process, one case a process.
#include "library_choice.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::EnginePath;
using inferlet_run_test::kBuiltMajors;
using inferlet_run_test::LibraryPath;
using inferlet_run_test::SessionsPath;

const std::string kMissingDir = "/nonexistent/";

struct ChoiceCase {
  std::string name;
  bool inspect = false;  // ChooseReader rather than ChooseLibraries
  LibraryRequest request;
  int engine_major = 0;           // of the mlp sample engine
  std::set<std::string> missing;  // files of the build's libraries that are not installed
  // Either the choice...
  int trt_major = 0;
  std::string reader;       // the sessions library that read the engine
  std::string deliverable;  // empty: none loaded
  std::string sessions;     // the sessions library loaded instead (LibraryRequest::sessions)
  // ... or the error.
  int code = kExitOk;
  std::string message;
  int deliverable_loaded = 0;  // the major whose deliverable is in the process afterwards; 0: none
};

// Each case is named by its row alone, in CTest's names too.
void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

std::string Refusal(int built, int runtime) {
  return "not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: the engine was built "
         "for TensorRT " +
         std::to_string(built) + ", this runtime is TensorRT " + std::to_string(runtime) +
         "; rebuild the engine)";
}

std::string CannotLoad(const std::string& path) {
  return "cannot load " + path + ": " + path + ": cannot open shared object file: No such file or directory";
}

std::string CannotRead(int engine_major, const std::string& why) {
  return "cannot read engine file '" + EnginePath("mlp", engine_major) + "': " + why;
}

// Every built major but the engine's own, whose sessions library is missing, and each one's reason.
std::string EveryOtherMajorsRefusal(int engine_major) {
  std::string majors, reasons;
  for (int major : kBuiltMajors) {
    if (major == engine_major) continue;
    majors += (majors.empty() ? "" : ", ") + std::to_string(major);
    reasons += "; TensorRT " + std::to_string(major) + ": " + Refusal(engine_major, major);
  }
  return "no TensorRT major of this build (" + majors + ") reads it" + reasons +
         inferlet_run_test::HostCodeHint(kBuiltMajors);
}

std::vector<ChoiceCase> Cases() {
  const std::string l7 = LibraryPath(7), l8 = LibraryPath(8);
  const std::string s7 = SessionsPath(7), s8 = SessionsPath(8);
  const std::string gone_s8 = kMissingDir + "libinferlet_sessions8.so";
  std::set<std::string> no_readers;
  for (int major : kBuiltMajors) no_readers.insert("libinferlet_sessions" + std::to_string(major) + ".so");
  auto row = [](std::string name, bool inspect, LibraryRequest r, int engine, std::set<std::string> missing) {
    ChoiceCase c;
    c.name = std::move(name);
    c.inspect = inspect;
    c.request = std::move(r);
    c.engine_major = engine;
    c.missing = std::move(missing);
    return c;
  };
  auto ok = [&](std::string name, bool inspect, LibraryRequest r, int engine, std::set<std::string> missing,
                int major, std::string reader, std::string deliverable) {
    ChoiceCase c = row(std::move(name), inspect, std::move(r), engine, std::move(missing));
    c.trt_major = major;
    c.reader = std::move(reader);
    c.deliverable = std::move(deliverable);
    c.deliverable_loaded = c.deliverable.empty() ? 0 : major;
    return c;
  };
  auto sessions_ok = [&](std::string name, LibraryRequest r, int engine, int major, std::string sessions) {
    ChoiceCase c = ok(std::move(name), false, std::move(r), engine, {}, major, sessions, "");
    c.sessions = std::move(sessions);
    return c;
  };
  auto fails = [&](std::string name, bool inspect, LibraryRequest r, int engine,
                   std::set<std::string> missing, int code, std::string message, int loaded) {
    ChoiceCase c = row(std::move(name), inspect, std::move(r), engine, std::move(missing));
    c.code = code;
    c.message = std::move(message);
    c.deliverable_loaded = loaded;
    return c;
  };
  return {
      ok("EngineDecides", false, {}, 7, {}, 7, s7, l7),
      ok("TrtNamesBoth", false, {7, "", false, false, {}}, 7, {}, 7, s7, l7),
      ok("LibNamesTheMajor", false, {0, l7, false, false, {}}, 7, {}, 7, s7, l7),
      ok("UninstalledReaderIsPassedOver", false, {}, 7, {"libinferlet_sessions8.so"}, 7, s7, l7),
      fails("DeliverableIsLoadedBeforeTheEngineIsRead", false, {0, kMissingDir + "a.so", false, false, {}}, 8,
            {}, kExitLibrary, CannotLoad(kMissingDir + "a.so"), 0),
      fails("NoReaderInstalled", false, {}, 7, no_readers, kExitLibrary, CannotLoad(gone_s8), 0),
      fails("EnginesMajorWithoutDeliverable", false, {}, 7, {"libinferlet7.so"}, kExitLibrary,
            CannotLoad(kMissingDir + "libinferlet7.so"), 0),
      fails("HintOnlyFromAnInstalledReader", false, {8, "", false, false, {}}, 7,
            {"libinferlet_sessions7.so"}, kExitInput, CannotRead(7, Refusal(7, 8)), 8),
      fails("HintFromTheMajorThatReadsIt", false, {8, "", false, false, {}}, 7, {}, kExitInput,
            CannotRead(7, Refusal(7, 8) + "; it is a TensorRT 7 engine: run it with --trt 7"), 8),
      fails("NoneReadsItNamesTheInstalledMajors", false, {}, 7, {"libinferlet_sessions7.so"}, kExitInput,
            CannotRead(7, EveryOtherMajorsRefusal(7)), 0),
      fails("TrtWhoseReaderIsMissing", false, {8, "", false, false, {}}, 8, {"libinferlet_sessions8.so"},
            kExitLibrary, CannotLoad(gone_s8), 8),
      sessions_ok("SessionsEngineDecides", {0, "", true, false, {}}, 7, 7, s7),
      sessions_ok("SessionsLibNamesTheMajor", {0, s8, true, false, {}}, 8, 8, s8),
      sessions_ok("SessionsTrtNamesBoth", {7, "", true, false, {}}, 7, 7, s7),
      fails("SessionsLibOfAnotherMajorThanTheEngine", false, {0, s8, true, false, {}}, 7, {}, kExitInput,
            CannotRead(7, Refusal(7, 8) +
                              "; it is a TensorRT 7 engine: give --lib a sessions library built for "
                              "TensorRT 7"),
            0),
      fails("SessionsTrtOfAnotherMajorThanLib", false, {8, s7, true, false, {}}, 7, {}, kExitUsage,
            "--trt 8 given, but " + s7 + " links TensorRT 7", 0),
      ok("InspectTriesEachMajor", true, {}, 7, {}, 7, s7, ""),
      ok("InspectTrtNamesTheReader", true, {8, "", false, false, {}}, 8, {}, 8, s8, ""),
      fails("InspectTrtOfAnotherMajor", true, {8, "", false, false, {}}, 7, {}, kExitInput,
            CannotRead(7, Refusal(7, 8) + "; it is a TensorRT 7 engine: run it with --trt 7"), 0),
      fails("InspectTrtWhoseReaderIsMissing", true, {8, "", false, false, {}}, 8,
            {"libinferlet_sessions8.so"}, kExitLibrary, CannotLoad(gone_s8), 0),
  };
}

int CollectNvinfer(struct dl_phdr_info* info, size_t, void* found) {
  if (info->dlpi_name && std::string(info->dlpi_name).find("libnvinfer.so.") != std::string::npos)
    *static_cast<bool*>(found) = true;
  return 0;
}

bool AnyTensorRtLoaded() {
  bool found = false;
  dl_iterate_phdr(CollectNvinfer, &found);
  return found;
}

bool IsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LibraryChoiceTest : public testing::TestWithParam<ChoiceCase> {
 protected:
  // What a deliverable links is judged from the TensorRT majors in the process, and what is loaded
  // stays loaded: every case needs a process of its own, as CTest gives it.
  void SetUp() override {
    if (AnyTensorRtLoaded()) GTEST_SKIP() << "a TensorRT is already loaded in this process";
  }
};

TEST_P(LibraryChoiceTest, LoadsTheLibrariesItShould) {
  const ChoiceCase& c = GetParam();
  const std::set<std::string> missing = c.missing;
  const LibraryLocator locate = [missing](const std::string& file) {
    return (missing.count(file) ? kMissingDir : std::string(INFERLET_LIB_DIR) + "/") + file;
  };
  const std::string engine = EnginePath("mlp", c.engine_major);
  const std::string bytes = ReadFile(engine);
  ASSERT_FALSE(bytes.empty()) << engine;
  try {
    const LibraryChoice choice = c.inspect ? ChooseReader(c.request, engine, bytes, locate)
                                           : ChooseLibraries(c.request, engine, bytes, locate);
    EXPECT_EQ(c.code, kExitOk) << "chosen, where the error was expected: " << c.message;
    EXPECT_EQ(choice.trt_major, c.trt_major);
    EXPECT_EQ(choice.reader ? choice.reader->path() : "", c.reader);
    EXPECT_EQ(choice.deliverable ? choice.deliverable->path() : "", c.deliverable);
    EXPECT_EQ(choice.sessions ? choice.sessions->path() : "", c.sessions);
    EXPECT_EQ(choice.engine.trt_major, c.engine_major);
    EXPECT_EQ(choice.engine.name, "mlp");
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, c.code) << e.message;
    EXPECT_EQ(e.message, c.message);
  }
  for (int major : kBuiltMajors)
    EXPECT_EQ(IsLoaded(LibraryPath(major)), major == c.deliverable_loaded) << "libinferlet" << major << ".so";
}

INSTANTIATE_TEST_SUITE_P(Combinations, LibraryChoiceTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

}  // namespace
}  // namespace inferlet_run
