// Long runs. As the process itself sees it on any device: 10 000 graph-path calls on one handle keep
// giving the same outputs, and the process's resident memory stays flat once the first calls have
// settled. On the emulated device: 100 000 graph-path calls on one handle, and 10 000 handles created
// and deleted, leave it holding what it held before.
#include <cudaemu.h>
#include <gtest/gtest.h>
#include <trt_standin.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "device_state.h"
#include "emulator_support.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

constexpr int kWarmUpCalls = 1000;  // lazily grown pools (allocator arenas, the driver's) settle first
constexpr int kMeasuredCalls = 10000;
constexpr int kSampleEvery = 1000;
// A leak of a graph, an executable graph or an output buffer per call is kilobytes; 10 000 of them
// are tens of MiB. Fragmentation noise stays well below this.
constexpr long kFlatBytes = 2L << 20;

// The calls of a long run on the two_profiles engine, in turn: both profiles, full and partial batches.
struct Plan {
  int profile;
  int batch_size;
  uint32_t seed;
};
constexpr Plan kPlans[] = {{0, 4, 1}, {1, 16, 2}, {1, 5, 3}, {0, 1, 4}};
constexpr int kPlanCount = 4;

long ResidentBytes() {
  long pages_total = 0;
  long pages_resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  const int read = std::fscanf(statm, "%ld %ld", &pages_total, &pages_resident);
  std::fclose(statm);
  return read == 2 ? pages_resident * sysconf(_SC_PAGESIZE) : -1;
}

class LongRunTest : public FreshPlatformTest {};

TEST_F(LongRunTest, GraphCallsKeepProcessMemoryFlat) {
  const SampleModel model = LoadSample("two_profiles");

  Handle handle;
  {
    StdoutCapture quiet;
    handle = NewHandle(model, true);
  }
  ASSERT_TRUE(handle);
  std::vector<uint64_t> expected;
  for (const Plan& plan : kPlans) {
    const CallResult result = Call(handle.get(), model.config, plan.profile, plan.batch_size, plan.seed);
    ASSERT_EQ(result.code, 0);
    expected.push_back(Fingerprint(result));
  }

  int failed_calls = 0;
  int wrong_outputs = 0;
  long settled = -1;
  std::ostringstream trend;  // resident bytes every kSampleEvery measured calls, for the failure message
  for (int i = 0; i < kWarmUpCalls + kMeasuredCalls; ++i) {
    const Plan& plan = kPlans[i % kPlanCount];
    const CallResult result = Call(handle.get(), model.config, plan.profile, plan.batch_size, plan.seed);
    if (result.code != 0) ++failed_calls;
    if (Fingerprint(result) != expected[static_cast<size_t>(i % kPlanCount)]) ++wrong_outputs;
    if ((i + 1) % kSampleEvery == 0) {
      ClearDeviceTrace();  // the emulated device's own record of the calls is not the process's to keep
      if (i + 1 == kWarmUpCalls) settled = ResidentBytes();
      if (i + 1 > kWarmUpCalls) trend << ' ' << ResidentBytes();
    }
  }
  const long after = ResidentBytes();
  ASSERT_GT(settled, 0) << "cannot read /proc/self/statm";
  EXPECT_EQ(failed_calls, 0);
  EXPECT_EQ(wrong_outputs, 0);
  EXPECT_LE(after - settled, kFlatBytes) << "resident bytes after " << kWarmUpCalls << " calls: " << settled
                                         << ", then every " << kSampleEvery << " calls:" << trend.str();

  {
    StdoutCapture quiet;
    handle.reset();
  }
  ExpectDeviceClean();
}

constexpr int kGraphCalls = 100000;
constexpr int kCreateDeleteCycles = 10000;
constexpr int kTraceClearEvery = 1000;  // the emulator's call trace would otherwise grow with the run

size_t CountOccurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

class LongRunOnEmulator : public FreshPlatformTest {};

INFERLET_EMULATOR_TEST_F(LongRunOnEmulator, GraphCallsKeepDeviceCountsSteady) {
  const SampleModel model = LoadSample("two_profiles");
  const DeviceCounts empty = DeviceCounts::Now();

  Handle handle;
  {
    StdoutCapture quiet;
    handle = NewHandle(model, true);
  }
  ASSERT_TRUE(handle);
  std::vector<uint64_t> expected;
  for (const Plan& plan : kPlans) {
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
  for (int i = 0; i < kGraphCalls - kPlanCount; ++i) {
    const Plan& plan = kPlans[i % kPlanCount];
    const CallResult result = Call(handle.get(), model.config, plan.profile, plan.batch_size, plan.seed);
    if (result.code != 0) ++failed_calls;
    if (Fingerprint(result) != expected[static_cast<size_t>(i % kPlanCount)]) ++wrong_outputs;
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

INFERLET_EMULATOR_TEST_F(LongRunOnEmulator, CreateDeleteCyclesReleaseEverything) {
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
