// Long runs: many graph-path calls on one handle, and many handles created and deleted, must leave the
// emulated device holding what it held before.
#include <cudaemu.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <string>
#include <vector>

#include "emulator_support.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

constexpr int kGraphCalls = 100000;
constexpr int kCreateDeleteCycles = 10000;
constexpr int kTraceClearEvery = 1000;  // the emulator's call trace would otherwise grow with the run

size_t CountOccurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

class LongRunTest : public FreshPlatformTest {};

TEST_F(LongRunTest, GraphCallsKeepDeviceCountsSteady) {
  const SampleModel model = LoadSample("two_profiles");
  const DeviceCounts empty = DeviceCounts::Now();

  struct Plan {
    int profile;
    int batch_size;
    uint32_t seed;
  };
  const Plan plans[] = {{0, 4, 1}, {1, 16, 2}, {1, 5, 3}, {0, 1, 4}};
  constexpr int kPlans = 4;

  Handle handle;
  {
    StdoutCapture quiet;
    handle = NewHandle(model, true);
  }
  ASSERT_TRUE(handle);
  std::vector<uint64_t> expected;
  for (const Plan& plan : plans) {
    const CallResult result = Call(handle.get(), model.config, plan.profile, plan.batch_size, plan.seed);
    ASSERT_EQ(result.code, 0);
    expected.push_back(Fingerprint(result));
  }
  const DeviceCounts steady = DeviceCounts::Now();
  EXPECT_EQ(steady.streams, empty.streams + 1);
  EXPECT_EQ(steady.graphs, empty.graphs);
  EXPECT_EQ(steady.graph_execs, empty.graph_execs + 1);

  int failed_calls = 0;
  int wrong_outputs = 0;
  int first_growth = -1;
  for (int i = 0; i < kGraphCalls - kPlans; ++i) {
    const Plan& plan = plans[i % kPlans];
    const CallResult result = Call(handle.get(), model.config, plan.profile, plan.batch_size, plan.seed);
    if (result.code != 0) ++failed_calls;
    if (Fingerprint(result) != expected[static_cast<size_t>(i % kPlans)]) ++wrong_outputs;
    if (i % kTraceClearEvery == 0) {
      cudaemu_trace_clear();
      if (first_growth < 0 && DeviceCounts::Now() != steady) first_growth = i;
    }
  }
  EXPECT_EQ(failed_calls, 0);
  EXPECT_EQ(wrong_outputs, 0);
  EXPECT_EQ(first_growth, -1) << "device counts changed by call " << first_growth << ": "
                              << DeviceCounts::Now();
  EXPECT_EQ(cudaemu_call_count("cudaGraphInstantiate"), static_cast<uint64_t>(kGraphCalls));
  EXPECT_EQ(DeviceCounts::Now(), steady);
  EXPECT_EQ(cudaemu_violations(), 0u);

  {
    StdoutCapture quiet;
    handle.reset();
  }
  EXPECT_EQ(DeviceCounts::Now(), empty);
}

TEST_F(LongRunTest, CreateDeleteCyclesReleaseEverything) {
  const std::vector<SampleModel> models = {LoadSample("smoke"), LoadSample("two_profiles"),
                                           LoadSample("mixed_rank"), LoadSample("mlp")};
  const DeviceCounts empty = DeviceCounts::Now();
  const long engines_before = trt_standin_count("live_engines");
  const long contexts_before = trt_standin_count("live_contexts");
  const long runtimes_before = trt_standin_count("live_runtimes");

  int failed_creates = 0;
  int failed_calls = 0;
  StdoutCapture capture;
  for (int cycle = 0; cycle < kCreateDeleteCycles; ++cycle) {
    const SampleModel& model = models[static_cast<size_t>(cycle % 4)];
    Handle handle = NewHandle(model, (cycle / 4) % 2 == 1);
    if (!handle) {
      ++failed_creates;
      continue;
    }
    const int profile = cycle % ProfileCount(model.config);
    if (Call(handle.get(), model.config, profile, MaxBatch(model.config, profile), cycle).code != 0)
      ++failed_calls;
    if (cycle % kTraceClearEvery == 0) cudaemu_trace_clear();
  }
  const std::string log = capture.Stop();

  EXPECT_EQ(failed_creates, 0);
  EXPECT_EQ(failed_calls, 0);
  EXPECT_EQ(CountOccurrences(log, "[inferlet][I] closedestroy ok\n"),
            static_cast<size_t>(kCreateDeleteCycles));
  EXPECT_EQ(CountOccurrences(log, "GPUassert"), 0u);
  EXPECT_EQ(DeviceCounts::Now(), empty);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), cudaemu_call_count("cudaFree"));
  EXPECT_EQ(cudaemu_call_count("cudaStreamCreate"), static_cast<uint64_t>(kCreateDeleteCycles));
  EXPECT_EQ(cudaemu_call_count("cudaStreamDestroy"), static_cast<uint64_t>(kCreateDeleteCycles));
  EXPECT_EQ(trt_standin_count("live_engines"), engines_before);
  EXPECT_EQ(trt_standin_count("live_contexts"), contexts_before);
  EXPECT_EQ(trt_standin_count("live_runtimes"), runtimes_before);
  EXPECT_EQ(cudaemu_violations(), 0u);
}

}  // namespace
}  // namespace inferlet_test
