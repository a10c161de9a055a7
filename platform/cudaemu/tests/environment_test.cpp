// CUDAEMU_* settings and the exit report, observed from a child process.
#include <cstdio>
#include <string>

#include "test_support.h"

namespace {

// Runs the probe with the given environment assignments; returns its stdout and stderr together.
std::string run_probe(const std::string& env, const std::string& args = "") {
  std::string command =
      "env -u CUDAEMU_DEVICES -u CUDAEMU_DRIVER -u CUDAEMU_MEMORY -u CUDAEMU_FAIL "
      "-u CUDAEMU_REPORT -u CUDAEMU_STRICT " +
      env + " " CUDAEMU_ENV_PROBE " " + args + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  int status = pclose(pipe);
  if (status != 0) output += "exit status " + std::to_string(status) + "\n";
  return output;
}

TEST(EnvironmentTest, DefaultsWithoutSettings) {
  EXPECT_EQ(run_probe(""), "devices=0 count=1 malloc=0,0 stream=0\n");
}

TEST(EnvironmentTest, DeviceCountAndDriver) {
  EXPECT_EQ(run_probe("CUDAEMU_DEVICES=4"), "devices=0 count=4 malloc=0,0 stream=0\n");
  EXPECT_EQ(run_probe("CUDAEMU_DEVICES=0"), "devices=100 count=0 malloc=100,100 stream=100\n");
  EXPECT_EQ(run_probe("CUDAEMU_DRIVER=0"), "devices=35 count=-1 malloc=35,35 stream=35\n");
}

TEST(EnvironmentTest, MemoryCapacity) {
  EXPECT_EQ(run_probe("CUDAEMU_MEMORY=1500"), "devices=0 count=1 malloc=0,2 stream=0\n");
}

TEST(EnvironmentTest, FaultList) {
  EXPECT_EQ(run_probe("CUDAEMU_FAIL=cudaStreamCreate:1:2"), "devices=0 count=1 malloc=0,0 stream=2\n");
  EXPECT_EQ(run_probe("CUDAEMU_FAIL=cudaMalloc:2:cudaErrorMemoryAllocation,cudaGetDeviceCount:1:999"),
            "devices=999 count=-1 malloc=0,2 stream=0\n");
}

TEST(EnvironmentTest, MalformedValuesAreReportedAndIgnored) {
  EXPECT_EQ(run_probe("CUDAEMU_DEVICES=two CUDAEMU_FAIL=cudaMalloc:x:2"),
            "cudaemu: ignoring malformed CUDAEMU_DEVICES=two\n"
            "cudaemu: ignoring malformed CUDAEMU_FAIL=cudaMalloc:x:2\n"
            "devices=0 count=1 malloc=0,0 stream=0\n");
}

TEST(EnvironmentTest, StrictMode) {
  EXPECT_EQ(run_probe("", "strict"), "strict=0\n");
  EXPECT_EQ(run_probe("CUDAEMU_STRICT=1", "strict"), "strict=1\n");
  EXPECT_EQ(run_probe("CUDAEMU_STRICT=0", "strict"), "strict=0\n");
  EXPECT_EQ(run_probe("CUDAEMU_STRICT=yes", "strict"),
            "cudaemu: ignoring malformed CUDAEMU_STRICT=yes\nstrict=0\n");
}

TEST(EnvironmentTest, ReportLineAtExit) {
  EXPECT_EQ(run_probe("CUDAEMU_REPORT=1", "leak"),
            "devices=0 count=1 malloc=0,0 stream=0\n"
            "cudaemu: live_allocations=1 live_bytes=1000 live_streams=1 live_graphs=0 live_graph_execs=0 "
            "live_events=1 violations=0\n");
  EXPECT_EQ(run_probe("CUDAEMU_REPORT=1"),
            "devices=0 count=1 malloc=0,0 stream=0\n"
            "cudaemu: live_allocations=0 live_bytes=0 live_streams=0 live_graphs=0 live_graph_execs=0 "
            "live_events=0 violations=0\n");
}

}  // namespace
