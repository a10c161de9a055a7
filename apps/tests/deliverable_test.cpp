// Loading the deliverables and the sessions libraries in-process: what stays loaded, and a library
// that lacks the functions the tool drives.
#include "deliverable.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "exit_codes.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::LibraryPath;
using inferlet_run_test::SessionsPath;

const int kMajor = inferlet_run_test::kBuiltMajors[0];

bool IsLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

// Unloading a library that holds the CUDA runtime's thread-local state leaves stale entries that
// exit-time code walks; the tool's handles close without unmapping.
TEST(SharedLibrary, StaysLoadedAfterItsHandleCloses) {
  const std::string deliverable = LibraryPath(kMajor);
  const std::string sessions = SessionsPath(kMajor);
  ASSERT_FALSE(IsLoaded(deliverable));
  ASSERT_FALSE(IsLoaded(sessions));
  {
    Deliverable lib(deliverable);
    SharedLibrary reader(sessions);
    EXPECT_EQ(lib.LinkedTrtMajor(), kMajor);
    EXPECT_NE(reader.Symbol("inferlet_get_api"), nullptr);
  }
  EXPECT_TRUE(IsLoaded(deliverable));
  EXPECT_TRUE(IsLoaded(sessions));
}

TEST(SharedLibrary, ALibraryWithoutTheEntryPointsIsRefusedByName) {
  const std::string sessions = SessionsPath(kMajor);
  try {
    Deliverable lib(sessions);
    FAIL() << "a sessions library taken for a deliverable";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitLibrary);
    EXPECT_EQ(e.message, sessions + " does not export kestrel_trt_init");
  }
}

}  // namespace
}  // namespace inferlet_run
