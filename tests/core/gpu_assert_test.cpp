// The CUDA status check on its own: nothing for success, one "GPUassert: " line for a failure, and with
// abort the end of the process with the CUDA status as exit status. Each exit runs in a child process
// (a death test that re-runs this binary); the child sends its standard output to standard error so
// the line can be matched, which also proves the line was flushed before the process ended. The
// library's own call sites are failed one by one in tests/reliability/cuda_fault_table_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "cuda_check.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::ElementsAre;
using ::testing::ExitedWithCode;

void StdoutToStderr() {
  std::cout.flush();
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

// The GPUassert line for code, as the last thing the child wrote, from a call site in file_regex.
std::string LastLineIsGpuAssert(cudaError_t code, const std::string& file_regex) {
  return "\\[inferlet\\]\\[E\\] GPUassert: " + RegexEscaped(cudaGetErrorString(code)) + " " + file_regex +
         " [0-9]+\n$";
}

int ExitStatusOf(cudaError_t code) { return static_cast<int>(code) & 0xFF; }

class GpuAssert : public FreshPlatformTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    FreshPlatformTest::SetUp();
  }
};

TEST_F(GpuAssert, SuccessWritesNothingAndReturns) {
  EXPECT_THAT(CapturedLines([] { gpuAssert(cudaSuccess, "anywhere.cpp", 1, true); }), ::testing::IsEmpty());
}

TEST_F(GpuAssert, FailureWithoutAbortWritesExactlyOneLineAndReturns) {
  const auto lines = CapturedLines([] { gpuAssert(cudaErrorInvalidValue, "src/some_file.cpp", 42, false); });
  EXPECT_THAT(lines, ElementsAre("[inferlet][E] GPUassert: invalid argument src/some_file.cpp 42"));
}

// The line carries CUDA's own text for the code, as the fault table's rows see it.
TEST_F(GpuAssert, TheLineCarriesCudasTextForTheCode) {
  const struct {
    cudaError_t code;
    const char* text;
  } cases[] = {
      {cudaErrorInvalidValue, "invalid argument"},
      {cudaErrorMemoryAllocation, "out of memory"},
      {cudaErrorIllegalAddress, "an illegal memory access was encountered"},
      {cudaErrorStreamCaptureUnsupported, "operation not permitted when stream is capturing"},
      {cudaErrorStreamCaptureInvalidated, "operation failed due to a previous error during capture"},
  };
  for (const auto& c : cases) {
    EXPECT_THAT(CapturedLines([&] { gpuAssert(c.code, "f.cpp", 7, false); }),
                ElementsAre(std::string("[inferlet][E] GPUassert: ") + c.text + " f.cpp 7"));
  }
}

TEST_F(GpuAssert, FailureWithAbortEndsTheProcessWithTheCodeAsStatus) {
  // Codes above 255 reach the parent as their low byte.
  for (cudaError_t code : {cudaErrorInvalidValue, cudaErrorNotPermitted, cudaErrorIllegalAddress}) {
    SCOPED_TRACE(code);
    EXPECT_EXIT(
        {
          StdoutToStderr();
          gpuAssert(code, "dir/call_site.cpp", 1234, true);
        },
        ExitedWithCode(ExitStatusOf(code)), "^" + LastLineIsGpuAssert(code, "dir/call_site\\.cpp"));
  }
}

TEST_F(GpuAssert, CheckNamesItsCallSite) {
  EXPECT_EXIT(
      {
        StdoutToStderr();
        CUDA_CHECK(cudaErrorMemoryAllocation);
      },
      ExitedWithCode(ExitStatusOf(cudaErrorMemoryAllocation)),
      LastLineIsGpuAssert(cudaErrorMemoryAllocation, "[^ ]*gpu_assert_test\\.cpp"));
}

}  // namespace
}  // namespace inferlet_test
