// Hosts often keep their handles in a static object and release them when the process exits. The
// teardown then runs during exit, after everything the library set up lazily since the object was
// built, and must still work and write its lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "test_support.h"

namespace inferlet_test {
namespace {

struct HandleOwner {
  Handle handle;
};

class ExitTeardownTest : public FreshPlatformTest {};

TEST_F(ExitTeardownTest, HandleReleasedByAStaticDestructorLogsItsTeardown) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const SampleModel model = LoadSample("smoke");
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        static HandleOwner owner;  // built before the library has written anything in this process
        owner.handle = NewHandle(model, false);
        std::exit(owner.handle && Call(owner.handle.get(), model.config, 0, 10, 1).code == 0 ? 0 : 3);
      },
      testing::ExitedWithCode(0),
      testing::EndsWith("[inferlet][I] closedestory...\n[inferlet][I] closedestroy ok\n"));
}

}  // namespace
}  // namespace inferlet_test
