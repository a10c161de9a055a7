// A long run on the graph path as the process itself sees it: 10 000 calls on one handle keep giving
// the same outputs, and the process's resident memory stays flat once the first calls have settled.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "device_state.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

constexpr int kWarmUpCalls = 1000;  // lazily grown pools (allocator arenas, the driver's) settle first
constexpr int kMeasuredCalls = 10000;
constexpr int kSampleEvery = 1000;
// A leak of a graph, an executable graph or an output buffer per call is kilobytes; 10 000 of them
// are tens of MiB. Fragmentation noise stays well below this.
constexpr long kFlatBytes = 2L << 20;

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

  int failed_calls = 0;
  int wrong_outputs = 0;
  long settled = -1;
  std::ostringstream trend;  // resident bytes every kSampleEvery measured calls, for the failure message
  for (int i = 0; i < kWarmUpCalls + kMeasuredCalls; ++i) {
    const Plan& plan = plans[i % kPlans];
    const CallResult result = Call(handle.get(), model.config, plan.profile, plan.batch_size, plan.seed);
    if (result.code != 0) ++failed_calls;
    if (Fingerprint(result) != expected[static_cast<size_t>(i % kPlans)]) ++wrong_outputs;
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

}  // namespace
}  // namespace inferlet_test
