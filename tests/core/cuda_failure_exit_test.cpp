// CUDA failures the library does not handle itself end the process with the CUDA status as exit
// status, after one "GPUassert: " line. Each such exit runs in a child process (a death test that
// re-runs this binary); the child sends its standard output to standard error so the line can be
// matched, which also proves the line was flushed before the process ended.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "core_support.h"
#include "cuda_check.h"

namespace {

using inferlet_core_test::CallNew;
using inferlet_core_test::CapturedLines;
using inferlet_test::ModelConfig;
using ::testing::ElementsAre;
using ::testing::ExitedWithCode;

void StdoutToStderr() {
  std::cout.flush();
  std::fflush(stdout);
  dup2(STDERR_FILENO, STDOUT_FILENO);
}

std::string RegexEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// The GPUassert line for code, as the last thing the child wrote, from a call site in file_regex.
std::string LastLineIsGpuAssert(cudaError_t code, const std::string& file_regex) {
  return "\\[inferlet\\]\\[E\\] GPUassert: " + RegexEscaped(cudaGetErrorString(code)) + " " + file_regex +
         " [0-9]+\n$";
}

int ExitStatusOf(cudaError_t code) { return static_cast<int>(code) & 0xFF; }

class CudaFailureExit : public inferlet_test::FreshPlatformTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    inferlet_test::FreshPlatformTest::SetUp();
  }
};

TEST_F(CudaFailureExit, SuccessWritesNothingAndReturns) {
  EXPECT_THAT(CapturedLines([] { gpuAssert(cudaSuccess, "anywhere.cpp", 1, true); }), ::testing::IsEmpty());
}

TEST_F(CudaFailureExit, FailureWithoutAbortWritesExactlyOneLineAndReturns) {
  const auto lines = CapturedLines([] { gpuAssert(cudaErrorInvalidValue, "src/some_file.cpp", 42, false); });
  EXPECT_THAT(lines, ElementsAre(std::string("[inferlet][E] GPUassert: ") +
                                 cudaGetErrorString(cudaErrorInvalidValue) + " src/some_file.cpp 42"));
}

TEST_F(CudaFailureExit, FailureWithAbortEndsTheProcessWithTheCodeAsStatus) {
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

TEST_F(CudaFailureExit, CheckNamesItsCallSite) {
  EXPECT_EXIT(
      {
        StdoutToStderr();
        CUDA_CHECK(cudaErrorMemoryAllocation);
      },
      ExitedWithCode(ExitStatusOf(cudaErrorMemoryAllocation)),
      LastLineIsGpuAssert(cudaErrorMemoryAllocation, "[^ ]*cuda_failure_exit_test\\.cpp"));
}

// A failing CUDA call while the handle is being built: the process ends inside kestrel_trt_new.
TEST_F(CudaFailureExit, ConstructionCudaFailuresEndTheProcess) {
  struct Failure {
    const char* api;
    int nth;
    cudaError_t code;
  };
  const Failure failures[] = {
      {"cudaStreamCreate", 1, cudaErrorNotPermitted},
      {"cudaMalloc", 1, cudaErrorMemoryAllocation},
      {"cudaMalloc", 3, cudaErrorMemoryAllocation},
      {"cudaMemset", 2, cudaErrorInvalidValue},
  };
  const std::string engine = inferlet_test::ReadEngine("smoke");
  for (const Failure& f : failures) {
    SCOPED_TRACE(std::string(f.api) + " #" + std::to_string(f.nth));
    EXPECT_EXIT(
        {
          StdoutToStderr();
          cudaemu_fail_call(f.api, f.nth, f.code);
          ModelConfig config = inferlet_test::SmokeConfig();
          trt_engine_core* handle = nullptr;
          kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), 0, false, config.in_shapes,
                          config.in_item_sizes, config.out_shapes, config.out_item_sizes, &handle);
          std::fprintf(stderr, "kestrel_trt_new returned\n");
        },
        ExitedWithCode(ExitStatusOf(f.code)), LastLineIsGpuAssert(f.code, "[^ ]*engine_infer\\.cpp"));
  }
}

// A failing release while a handle is deleted: the process ends inside kestrel_trt_delete.
TEST_F(CudaFailureExit, TeardownCudaFailuresEndTheProcess) {
  struct Failure {
    const char* api;
    int nth;
    cudaError_t code;
  };
  const Failure failures[] = {
      {"cudaStreamDestroy", 1, cudaErrorInvalidResourceHandle},
      {"cudaFree", 1, cudaErrorIllegalAddress},
      {"cudaFree", 6, cudaErrorInvalidValue},
  };
  const std::string engine = inferlet_test::ReadEngine("two_profiles");
  for (const Failure& f : failures) {
    SCOPED_TRACE(std::string(f.api) + " #" + std::to_string(f.nth));
    EXPECT_EXIT(
        {
          const auto outcome = CallNew(engine, inferlet_test::TwoProfilesConfig());
          if (outcome.rc != 0) std::_Exit(99);
          StdoutToStderr();
          cudaemu_fail_call(f.api, f.nth, f.code);
          kestrel_trt_delete(outcome.handle);
          std::fprintf(stderr, "kestrel_trt_delete returned\n");
        },
        ExitedWithCode(ExitStatusOf(f.code)),
        "kestrel_trt_delete [0-9]+\n\\[inferlet\\]\\[I\\] closedestory\\.\\.\\.\n" +
            LastLineIsGpuAssert(f.code, "[^ ]*engine_infer\\.cpp"));
  }
}

}  // namespace
