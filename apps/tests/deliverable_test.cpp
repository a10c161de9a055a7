// Loading the deliverables and inspectors in-process: what stays loaded, and a library that lacks
// the functions the tool drives.
#include "deliverable.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "exit_codes.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::InspectorPath;
using inferlet_run_test::LibraryPath;

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
  const std::string inspector = InspectorPath(kMajor);
  ASSERT_FALSE(IsLoaded(deliverable));
  ASSERT_FALSE(IsLoaded(inspector));
  {
    Deliverable lib(deliverable);
    Inspector reader(inspector);
    EXPECT_EQ(lib.LinkedTrtMajor(), kMajor);
    EXPECT_EQ(reader.TrtMajor(), kMajor);
  }
  EXPECT_TRUE(IsLoaded(deliverable));
  EXPECT_TRUE(IsLoaded(inspector));
}

TEST(SharedLibrary, ALibraryWithoutTheEntryPointsIsRefusedByName) {
  const std::string inspector = InspectorPath(kMajor);
  try {
    Deliverable lib(inspector);
    FAIL() << "an inspector taken for a deliverable";
  } catch (const ToolError& e) {
    EXPECT_EQ(e.code, kExitLibrary);
    EXPECT_EQ(e.message, inspector + " does not export kestrel_trt_init");
  }
}

}  // namespace
}  // namespace inferlet_run
