// inferlet-run as a user runs it: the sample engines through every deliverable, the values that come
// back, the two report forms, and the message and exit status of each kind of failure.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "exit_codes.h"
#include "npy.h"
#include "tensor_data.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::Describe;
using inferlet_run_test::EnginePath;
using inferlet_run_test::ExpectFailure;
using inferlet_run_test::kBuiltMajors;
using inferlet_run_test::LibraryPath;
using inferlet_run_test::RunJson;
using inferlet_run_test::RunTool;
using inferlet_run_test::SessionsPath;
using inferlet_run_test::TempDir;
using inferlet_run_test::TestType;
using inferlet_run_test::ToolResult;

void SaveFloats(const std::string& path, std::vector<size_t> shape, const std::vector<float>& values) {
  NpyArray a;
  a.descr = "<f4";
  a.shape = std::move(shape);
  a.data.assign(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
  WriteNpy(path, a);
}

std::vector<float> LoadFloats(const std::string& path, const std::vector<size_t>& expected_shape) {
  const NpyArray a = ReadNpy(path);
  EXPECT_EQ(a.descr, "<f4");
  EXPECT_EQ(a.shape, expected_shape);
  std::vector<float> values(a.data.size() / sizeof(float));
  std::memcpy(values.data(), a.data.data(), values.size() * sizeof(float));
  return values;
}

// ---------------------------------------------------------------------------------------------
// Every sample engine, every deliverable, with and without CUDA graphs: the same outputs.

class SampleEngine : public testing::TestWithParam<const char*> {};

TEST_P(SampleEngine, SameOutputsThroughEveryDeliverableWithAndWithoutGraphs) {
  std::string reference;
  for (int major : kBuiltMajors) {
    for (bool graph : {false, true}) {
      std::vector<std::string> args = {"--engine",     EnginePath(GetParam(), major),
                                       "--trt",        std::to_string(major),
                                       "--iterations", "3",
                                       "--warmup",     "1",
                                       "--seed",       "5"};
      if (graph) args.push_back("--cuda-graph");
      const nlohmann::json j = RunJson(args);
      ASSERT_TRUE(j.contains("outputs"));
      EXPECT_EQ(j["library"]["trt_major"], major);
      EXPECT_EQ(j["engine"]["name"], GetParam());
      EXPECT_EQ(j["latency"]["calls"], 3);
      std::string fingerprint;
      for (const auto& out : j["outputs"]) {
        EXPECT_GT(out["bytes"].get<int>(), 0);
        fingerprint += out["name"].get<std::string>() + "=" + out["fnv1a"].get<std::string>() + " ";
      }
      if (reference.empty()) reference = fingerprint;
      EXPECT_EQ(fingerprint, reference) << "trt" << major << (graph ? " with CUDA graphs" : "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stand_in, SampleEngine,
                         testing::Values("smoke", "two_profiles", "mixed_rank", "mlp"));

// ---------------------------------------------------------------------------------------------
// Values computed by the engines, checked against the networks' definitions.

TEST(Outputs, SmokeIsTheThreeTapFilterOfTheInputsSum) {
  TempDir dir;
  const size_t batch = 3, n = 340;
  std::vector<float> in0(batch * n), in1(batch * n);
  for (size_t b = 0; b < batch; ++b)
    for (size_t i = 0; i < n; ++i) {
      in0[b * n + i] = static_cast<float>(i % 7);
      in1[b * n + i] = static_cast<float>(b) - static_cast<float>(i % 3);
    }
  SaveFloats(dir.File("in0.npy"), {batch, n}, in0);
  SaveFloats(dir.File("in1.npy"), {batch, n}, in1);
  for (int major : kBuiltMajors) {
    const ToolResult r =
        RunTool({"--engine", EnginePath("smoke", major), "--trt", std::to_string(major), "--input",
                 "in0=" + dir.File("in0.npy"), "--input", "in1=" + dir.File("in1.npy"), "--save-outputs",
                 dir.path(), "--iterations", "2", "--warmup", "0"});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(r.out.find("Run      profile 0, batch 3,"), std::string::npos) << "batch comes from the files";
    const std::vector<float> out = LoadFloats(dir.File("out0.npy"), {batch, 338});
    for (size_t b = 0; b < batch; ++b)
      for (size_t i = 0; i < 338; ++i) {
        auto s = [&](size_t k) { return in0[b * n + k] + in1[b * n + k]; };
        ASSERT_EQ(out[b * 338 + i], 0.25f * s(i) + 0.5f * s(i + 1) + 0.25f * s(i + 2)) << b << "," << i;
      }
  }
}

TEST(Outputs, SecondProfileOfTwoProfilesServesSixteenSamples) {
  TempDir dir;
  const size_t batch = 16, n = 4 * 8;
  std::vector<float> in0(batch * n), in1(batch * n);
  for (size_t k = 0; k < in0.size(); ++k) {
    in0[k] = static_cast<float>(k % 11) - 5;
    in1[k] = static_cast<float>(k % 5) - 2;
  }
  SaveFloats(dir.File("a.npy"), {batch, 4, 8}, in0);
  SaveFloats(dir.File("b.npy"), {batch, 4, 8}, in1);
  for (int major : kBuiltMajors) {  // without --trt: the engine tells the major
    const ToolResult r = RunTool({"--engine", EnginePath("two_profiles", major), "--profile", "1", "--input",
                                  "in0=" + dir.File("a.npy"), "--input", "in1=" + dir.File("b.npy"),
                                  "--save-outputs", dir.path(), "--iterations", "1", "--warmup", "0"});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(r.out.find("(TensorRT " + std::to_string(major) + ")\n"), std::string::npos) << r.out;
    const std::vector<float> out = LoadFloats(dir.File("out0.npy"), {batch, 4, 8});
    for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], 2 * std::max(in0[k], in1[k]) + 1) << k;
  }
}

TEST(Outputs, MixedRankAppliesReluAndHalving) {
  TempDir dir;
  std::vector<float> in0(2 * 8), in1(2 * 4 * 8);
  for (size_t k = 0; k < in0.size(); ++k) in0[k] = static_cast<float>(k) - 8;
  for (size_t k = 0; k < in1.size(); ++k) in1[k] = static_cast<float>(k) - 30;
  SaveFloats(dir.File("in0.npy"), {2, 8}, in0);
  SaveFloats(dir.File("in1.npy"), {2, 4, 8}, in1);
  for (int major : kBuiltMajors) {
    const ToolResult r =
        RunTool({"--engine", EnginePath("mixed_rank", major), "--trt", std::to_string(major), "--input",
                 "in0=" + dir.File("in0.npy"), "--input", "in1=" + dir.File("in1.npy"), "--save-outputs",
                 dir.path(), "--iterations", "1"});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    const std::vector<float> out0 = LoadFloats(dir.File("out0.npy"), {2, 8});
    const std::vector<float> out1 = LoadFloats(dir.File("out1.npy"), {2, 4, 8});
    for (size_t k = 0; k < out0.size(); ++k) EXPECT_EQ(out0[k], std::max(in0[k], 0.0f)) << k;
    for (size_t k = 0; k < out1.size(); ++k) EXPECT_EQ(out1[k], 0.5f * in1[k]) << k;
  }
}

TEST(Outputs, ZeroInputsGiveZeroOutputsAndTheirChecksum) {
  const nlohmann::json j = RunJson({"--engine", EnginePath("smoke", 8), "--fill", "zeros", "--batch", "4",
                                    "--iterations", "1", "--warmup", "0"});
  ASSERT_EQ(j["outputs"].size(), 1u);
  const std::string zeros(4 * 338 * 4, '\0');
  EXPECT_EQ(j["outputs"][0]["bytes"], zeros.size());
  EXPECT_EQ(j["outputs"][0]["sum"], 0.0);
  char expected[19];
  std::snprintf(
      expected, sizeof(expected), "0x%016llx",
      static_cast<unsigned long long>(ComputeChecksum(zeros.data(), zeros.size(), TestType(0), true).fnv1a));
  EXPECT_EQ(j["outputs"][0]["fnv1a"], expected);
  EXPECT_EQ(j["outputs"][0]["shape"], (std::vector<int>{4, 338}));
}

// ---------------------------------------------------------------------------------------------
// Without --trt the engine tells the major: the sessions library that reads it names the deliverable.

TEST(Pick, EachMajorsEngineRunsThroughItsOwnDeliverableWithoutTrt) {
  for (int major : kBuiltMajors) {
    const std::string reader = SessionsPath(major);
    const nlohmann::json j =
        RunJson({"--engine", EnginePath("mlp", major), "--iterations", "1", "--warmup", "0"});
    EXPECT_EQ(j["library"]["trt_major"], major);
    EXPECT_EQ(j["library"]["path"], LibraryPath(major));
    EXPECT_EQ(j["engine"]["trt_major"], major);
    EXPECT_EQ(j["latency"]["calls"], 1);
    const ToolResult r = RunTool({"inspect", "--json", EnginePath("mlp", major)});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_EQ(nlohmann::json::parse(r.out)["library"], reader);
  }
}

// ---------------------------------------------------------------------------------------------
// The two report forms.

TEST(Report, TextComesAfterTheLibraryLinesAndHoldsTheLatencyTable) {
  const ToolResult r = RunTool({"--engine", EnginePath("smoke", 8), "--iterations", "4", "--warmup", "2"});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  const size_t engine_line = r.out.find("mEngine Name smoke,max_batch_size 1,isRefittable 0\n");
  const size_t delete_line = r.out.find("kestrel_trt_delete ");
  const size_t report = r.out.find("\n== inferlet-run ==\n");
  ASSERT_NE(engine_line, std::string::npos) << r.out;
  ASSERT_NE(delete_line, std::string::npos) << r.out;
  ASSERT_NE(report, std::string::npos) << r.out;
  EXPECT_LT(engine_line, delete_line);
  EXPECT_LT(delete_line, report);
  const std::string tail = r.out.substr(report);
  EXPECT_NE(tail.find("Engine   smoke ("), std::string::npos) << tail;
  EXPECT_NE(tail.find("  profile 0   0  in0   input   float32  engine [-1,340]  min [1,340]   opt [10,340]  "
                      "max [10,340]\n"),
            std::string::npos)
      << tail;
  EXPECT_NE(tail.find("  profile 0  out0  output  [10,338]         item size 4\n"), std::string::npos)
      << tail;
  EXPECT_NE(
      tail.find("Run      profile 0, batch 10, device 0, CUDA graph off, inputs: in0 = random (seed 1), "
                "in1 = random (seed 1)\n"),
      std::string::npos)
      << tail;
  EXPECT_NE(tail.find("Latency  4 timed calls after 2 warm-up calls, microseconds per call\n"
                      "         min       mean     median        p90        p99        max\n"),
            std::string::npos)
      << tail;
  EXPECT_NE(tail.find("  out0  [10,338]       float32     13520 bytes  sum "), std::string::npos) << tail;
  EXPECT_NE(tail.find("\nRate     "), std::string::npos) << tail;
  EXPECT_NE(tail.find(" calls/s, "), std::string::npos) << tail;
  EXPECT_NE(tail.find("\nTimed    4 calls in 0."), std::string::npos) << tail;
  EXPECT_NE(tail.find(" s (asked: at least 4 calls and 0 s)\n"), std::string::npos) << tail;
  EXPECT_EQ(tail.find("milliseconds"), std::string::npos) << "one unit: microseconds";
  EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(Report, JsonIsTheOnlyThingOnStdout) {
  const ToolResult r =
      RunTool({"--engine", EnginePath("two_profiles", 8), "--profile", "1", "--iterations", "5", "--json"});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  const nlohmann::json j = nlohmann::json::parse(r.out);  // throws when anything else is mixed in
  EXPECT_NE(r.err.find("mEngine Name two_profiles,"), std::string::npos) << "library lines go to stderr";
  EXPECT_NE(r.err.find("kestrel_trt_delete "), std::string::npos);
  EXPECT_EQ(j["run"]["profile"], 1);
  EXPECT_EQ(j["run"]["batch"], 16);
  EXPECT_EQ(j["run"]["cuda_graph"], false);
  EXPECT_EQ(j["engine"]["bindings"].size(), 6u);
  EXPECT_EQ(j["engine"]["bindings"][3]["name"], "in0 [profile 1]");
  EXPECT_EQ(j["configuration"][0]["inputs"][0]["shape"], (std::vector<int>{4, 4, 8}));
  EXPECT_EQ(j["configuration"][1]["outputs"][0]["shape"], (std::vector<int>{16, 4, 8}));
  EXPECT_EQ(j["outputs"][0]["bytes"], 16 * 4 * 8 * 4);
  EXPECT_FALSE(j.contains("latency_ms"));
  const auto& l = j["latency"];
  EXPECT_EQ(l["calls"], 5);
  for (const char* key : {"min_us", "mean_us", "median_us", "p90_us", "p99_us", "max_us"})
    EXPECT_TRUE(l[key].is_number()) << key;
  EXPECT_EQ(l.size(), 7u) << l.dump();
  EXPECT_LE(l["min_us"].get<double>(), l["median_us"].get<double>());
  EXPECT_LE(l["median_us"].get<double>(), l["p99_us"].get<double>());
  EXPECT_LE(l["p99_us"].get<double>(), l["max_us"].get<double>());
  EXPECT_EQ(j["run"]["min_iterations"], 5);
  EXPECT_EQ(j["run"]["min_duration_s"], 0.0);
  EXPECT_GT(j["throughput"]["timed_s"].get<double>(), 0);
  EXPECT_EQ(j["engine"]["profiles"][1]["profile"], 1);
  EXPECT_EQ(j["engine"]["profiles"][1]["bindings"][0]["opt"], (std::vector<int>{8, 4, 8}));
  EXPECT_GT(j["throughput"]["calls_per_s"].get<double>(), 0);
  EXPECT_DOUBLE_EQ(j["throughput"]["samples_per_s"].get<double>(),
                   16 * j["throughput"]["calls_per_s"].get<double>());
}

// What one handle holds on the device, for the mlp engine (x [32, 16] -> dense 32 -> relu -> dense 4 -> y):
// the configured buffers 32 * (16 + 4) floats, the weights and biases 16 * 32 + 32 + 32 * 4 + 4 floats,
// and the two [32, 32] float tensors between layers that a context holds. Every major the same.
TEST(Report, DeviceMemoryOfTheHandleInTextAndJson) {
  constexpr long long kBuffers = 32 * (16 + 4) * 4;
  constexpr long long kEngine = (16 * 32 + 32 + 32 * 4 + 4) * 4;
  constexpr long long kContext = 2 * 32 * 32 * 4;
  for (int major : kBuiltMajors) {
    SCOPED_TRACE(major);
    const nlohmann::json j = RunJson({"--engine", EnginePath("mlp", major), "--iterations", "1"});
    EXPECT_EQ(j["device_memory"], (nlohmann::json{{"buffers", kBuffers},
                                                  {"engine", kEngine},
                                                  {"context", kContext},
                                                  {"total", kBuffers + kEngine + kContext}}));
    const ToolResult r = RunTool({"--engine", EnginePath("mlp", major), "--iterations", "1"});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(r.out.find("\nMemory   device memory of the handle: buffers 2560 bytes, engine 2704 bytes, "
                         "execution context 8192 bytes; 13456 bytes in all\n"),
              std::string::npos)
        << r.out;
  }
}

TEST(Report, DeliverableGivenByPathHasItsTensorRtDetected) {
  const nlohmann::json j = RunJson(
      {"--engine", EnginePath("mlp", 7), "--lib", LibraryPath(7), "--iterations", "1", "--batch", "2"});
  EXPECT_EQ(j["library"]["trt_major"], 7);
  EXPECT_EQ(j["outputs"][0]["shape"], (std::vector<int>{2, 4}));
}

// ---------------------------------------------------------------------------------------------
// Random inputs: each one a function of the seed and its name only.

std::vector<float> Floats(const std::string& bytes) {
  std::vector<float> values(bytes.size() / sizeof(float));
  std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

// The smoke engine's output for inputs in0 and in1 (batch of 340-element rows).
std::vector<float> SmokeOf(const std::vector<float>& in0, const std::vector<float>& in1) {
  const size_t n = 340, batch = in0.size() / n;
  std::vector<float> out(batch * 338);
  for (size_t b = 0; b < batch; ++b)
    for (size_t i = 0; i < 338; ++i) {
      auto s = [&](size_t k) { return in0[b * n + k] + in1[b * n + k]; };
      out[b * 338 + i] = 0.25f * s(i) + 0.5f * s(i + 1) + 0.25f * s(i + 2);
    }
  return out;
}

TEST(Inputs, EachRandomInputDependsOnTheSeedAndItsNameOnly) {
  TempDir dir;
  const size_t batch = 2, n = 340;
  const std::vector<float> zeros(batch * n, 0.0f);
  SaveFloats(dir.File("zeros.npy"), {batch, n}, zeros);
  const std::vector<float> r0 =
      Floats(MakeInputData(TestType(0), true, batch * n * 4, FillMode::kRandom, 5, "in0"));
  const std::vector<float> r1 =
      Floats(MakeInputData(TestType(0), true, batch * n * 4, FillMode::kRandom, 5, "in1"));
  // in1 made up while in0 comes from a file, and both made up: in1 holds the same data either way.
  ToolResult r =
      RunTool({"--engine", EnginePath("smoke", 8), "--seed", "5", "--input", "in0=" + dir.File("zeros.npy"),
               "--save-outputs", dir.File("one"), "--iterations", "1", "--warmup", "0"});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  EXPECT_EQ(LoadFloats(dir.File("one/out0.npy"), {batch, 338}), SmokeOf(zeros, r1));
  r = RunTool({"--engine", EnginePath("smoke", 7), "--trt", "7", "--seed", "5", "--batch", "2",
               "--save-outputs", dir.File("both"), "--iterations", "1", "--warmup", "0"});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  EXPECT_EQ(LoadFloats(dir.File("both/out0.npy"), {batch, 338}), SmokeOf(r0, r1));
}

// ---------------------------------------------------------------------------------------------
// Timing: percentiles asked for, the times of every call, the minimum duration, --quiet.

TEST(Timing, AskedPercentilesJoinTheFixedSetInTextAndJson) {
  const std::vector<std::string> args = {
      "--engine", EnginePath("smoke", 8), "--iterations", "20",           "--percentile",
      "99.9",     "--percentile",         "95",           "--percentile", "90"};
  const nlohmann::json j = RunJson(args);
  const auto& l = j["latency"];
  EXPECT_EQ(l.size(), 9u) << l.dump();
  EXPECT_LE(l["p90_us"].get<double>(), l["p95_us"].get<double>());
  EXPECT_LE(l["p95_us"].get<double>(), l["p99.9_us"].get<double>());
  EXPECT_LE(l["p99.9_us"].get<double>(), l["max_us"].get<double>());
  const ToolResult r = RunTool(args);
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  EXPECT_NE(
      r.out.find(
          "Latency  20 timed calls after 5 warm-up calls, microseconds per call\n"
          "         min       mean     median        p90        p99        max        p95      p99.9\n"),
      std::string::npos)
      << r.out;
}

TEST(Timing, ExportTimesWritesOneRecordPerTimedCall) {
  TempDir dir;
  const std::string file = dir.File("times.json");
  const nlohmann::json j =
      RunJson({"--engine", EnginePath("smoke", 8), "--iterations", "7", "--export-times", file});
  EXPECT_EQ(j["times_file"], file);
  std::ifstream in(file);
  const nlohmann::json times = nlohmann::json::parse(in);
  ASSERT_TRUE(times.is_array());
  ASSERT_EQ(times.size(), j["latency"]["calls"].get<size_t>());
  double previous_end = 0;
  for (size_t i = 0; i < times.size(); ++i) {
    const auto& t = times[i];
    EXPECT_EQ(t.size(), 3u) << t.dump();
    EXPECT_EQ(t["call"], i + 1);
    EXPECT_GE(t["start_us"].get<double>(), previous_end);
    EXPECT_GT(t["latency_us"].get<double>(), 0);
    previous_end = t["start_us"].get<double>() + t["latency_us"].get<double>();
  }
  EXPECT_LE(previous_end, j["throughput"]["timed_s"].get<double>() * 1e6 + 1);
  // One record a line, so that line tools can read it too.
  std::ifstream lines(file);
  std::string line;
  size_t count = 0;
  while (std::getline(lines, line)) count++;
  EXPECT_EQ(count, times.size() + 2);
}

TEST(Timing, DurationKeepsCallingPastTheIterations) {
  const nlohmann::json j = RunJson(
      {"--engine", EnginePath("smoke", 8), "--iterations", "1", "--warmup", "0", "--duration", "0.2"});
  EXPECT_EQ(j["run"]["min_duration_s"], 0.2);
  EXPECT_GE(j["throughput"]["timed_s"].get<double>(), 0.2);
  EXPECT_GT(j["latency"]["calls"].get<int>(), 1);
}

TEST(Timing, QuietHoldsBackTheLibraryLines) {
  const ToolResult r = RunTool({"--engine", EnginePath("smoke", 8), "--iterations", "2", "--quiet"});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  EXPECT_EQ(r.out.rfind("\n== inferlet-run ==\nEngine   smoke (", 0), 0u) << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;
  const ToolResult j =
      RunTool({"--engine", EnginePath("smoke", 8), "--iterations", "2", "--quiet", "--json"});
  ASSERT_EQ(j.exit_code, 0) << Describe(j);
  EXPECT_EQ(nlohmann::json::parse(j.out)["latency"]["calls"], 2);
  EXPECT_TRUE(j.err.empty()) << j.err;
}

TEST(Timing, QuietShowsTheHeldLinesAfterAFailure) {
  const std::vector<std::string> args = {
      "--engine", EnginePath("smoke", 7), "--trt", "7", "--shape", "in0=340", "--quiet"};
  const std::string refusal = "[inferlet][E] input shape ndim must in 2-8\n";
  const std::string error =
      "inferlet-run: error: the library refused the engine or its configuration: kestrel_trt_new returned -1 "
      "(its log line above gives the reason)\n";
  ToolResult r = RunTool(args);
  EXPECT_EQ(r.exit_code, kExitRejected) << Describe(r);
  EXPECT_TRUE(r.out.empty()) << r.out;
  const size_t line = r.err.find(refusal);
  ASSERT_NE(line, std::string::npos) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - error.size()), error) << r.err;
  std::vector<std::string> json_args = args;
  json_args.push_back("--json");
  r = RunTool(json_args);
  EXPECT_EQ(r.exit_code, kExitRejected) << Describe(r);
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_NE(j["library_log"].get<std::string>().find(refusal), std::string::npos) << j.dump(2);
  EXPECT_EQ(j["exit_status"], kExitRejected);
}

// ---------------------------------------------------------------------------------------------
// inferlet-run inspect: the engine's bindings and profiles, read by a sessions library alone.

TEST(Inspect, ListsEveryBindingWithMinOptMaxPerProfile) {
  const ToolResult r = RunTool({"inspect", EnginePath("two_profiles", 8)});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  const std::string expected =
      "Engine   two_profiles (" + EnginePath("two_profiles", 8) +
      ")\n"
      "         TensorRT 8, max_batch_size 1, refittable 0, 6 bindings, 2 profile(s)\n"
      "  profile 0   0  in0   input   float32  engine [-1,4,8]  min [1,4,8]   opt [4,4,8]   max [4,4,8]\n"
      "  profile 0   1  in1   input   float32  engine [-1,4,8]  min [1,4,8]   opt [4,4,8]   max [4,4,8]\n"
      "  profile 0   2  out0  output  float32  engine [-1,4,8]  min [1,4,8]   opt [4,4,8]   max [4,4,8]\n"
      "  profile 1   3  in0   input   float32  engine [-1,4,8]  min [1,4,8]   opt [8,4,8]   max [16,4,8]\n"
      "  profile 1   4  in1   input   float32  engine [-1,4,8]  min [1,4,8]   opt [8,4,8]   max [16,4,8]\n"
      "  profile 1   5  out0  output  float32  engine [-1,4,8]  min [1,4,8]   opt [8,4,8]   max [16,4,8]\n"
      "Read by  " +
      SessionsPath(8) + "\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_TRUE(r.err.empty()) << r.err;
}

TEST(Inspect, JsonHoldsTheProfilesAndNoHandleIsMade) {
  const ToolResult r = RunTool({"inspect", "--json", EnginePath("smoke", 7)});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  EXPECT_TRUE(r.err.empty()) << "nothing of the library: no handle was made\n" << r.err;
  const nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["engine"]["trt_major"], 7) << "found without --trt";
  EXPECT_EQ(j["library"], SessionsPath(7));
  const auto& in0 = j["engine"]["profiles"][0]["bindings"][0];
  EXPECT_EQ(in0["name"], "in0");
  EXPECT_EQ(in0["input"], true);
  EXPECT_EQ(in0["min"], (std::vector<int>{1, 340}));
  EXPECT_EQ(in0["opt"], (std::vector<int>{10, 340}));
  EXPECT_EQ(in0["max"], (std::vector<int>{10, 340}));
  EXPECT_EQ(j["engine"]["profiles"][0]["bindings"][2]["min"], (std::vector<int>{1, 338}));
  for (const char* library_line : {"kestrel_trt", "mEngine Name", "[inferlet]"})
    EXPECT_EQ(r.out.find(library_line), std::string::npos) << library_line;
}

// ---------------------------------------------------------------------------------------------
// Failures: one line on stderr naming the problem, the exit status of its kind, and with --json one
// JSON object on stdout that says the same.

TEST(Failure, MissingEngineFile) {
  ExpectFailure({"--engine", "/nonexistent/x.engine"}, kExitInput,
                "cannot read engine file '/nonexistent/x.engine': No such file or directory");
}

TEST(Failure, EngineThatIsADirectoryOrUnderAFile) {
  TempDir dir;
  ExpectFailure({"--engine", dir.path()}, kExitInput,
                "cannot read engine file '" + dir.path() + "': it is a directory");
  std::ofstream(dir.File("file")) << "x";
  ExpectFailure({"--engine", dir.File("file") + "/x.engine"}, kExitInput,
                "cannot read engine file '" + dir.File("file") + "/x.engine': Not a directory");
  std::ofstream(dir.File("empty.engine")).flush();
  ExpectFailure({"--engine", dir.File("empty.engine")}, kExitInput,
                "cannot read engine file '" + dir.File("empty.engine") + "': the file is empty");
}

TEST(Failure, EngineWithoutReadPermission) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permissions";
  TempDir dir;
  std::ofstream(dir.File("locked.engine")) << "x";
  chmod(dir.File("locked.engine").c_str(), 0);
  ExpectFailure({"--engine", dir.File("locked.engine")}, kExitInput,
                "cannot read engine file '" + dir.File("locked.engine") + "': Permission denied");
}

// Without --trt every major's sessions library tries the engine, in order; when none reads it, one line names
// the majors tried, in that order, and their one reason, and suggests no --trt.
TEST(Failure, FileThatIsNotAnEngineSaysSoInOneLine) {
  TempDir dir;
  std::ofstream(dir.File("junk.engine")) << "this is not an engine";
  std::string majors;
  for (int major : kBuiltMajors) majors += (majors.empty() ? "" : ", ") + std::to_string(major);
  const std::string message = "cannot read engine file '" + dir.File("junk.engine") +
                              "': no TensorRT major of this build (" + majors +
                              ") reads it: not an engine this TensorRT can deserialize (TensorRT: "
                              "deserializeCudaEngine: magic tag does not match: not an engine file)" +
                              inferlet_run_test::HostCodeHint(kBuiltMajors);
  ExpectFailure({"--engine", dir.File("junk.engine")}, kExitInput, message);
  ExpectFailure({"inspect", dir.File("junk.engine")}, kExitInput, message);
  const ToolResult r = RunTool({"--engine", dir.File("junk.engine")});
  EXPECT_EQ(r.err.find("it is a TensorRT"), std::string::npos) << "no major reads it: no hint";
}

constexpr const char* kStandInRefusal7 =
    "not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: the engine was built for "
    "TensorRT 8, this runtime is TensorRT 7; rebuild the engine)";
constexpr const char* kStandInRefusal8 =
    "not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: the engine was built for "
    "TensorRT 7, this runtime is TensorRT 8; rebuild the engine)";

TEST(Failure, EngineOfTheOtherTensorRtSuggestsTheTrtThatFits) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--trt", "7"}, kExitInput,
                "cannot read engine file '" + EnginePath("smoke", 8) + "': " + kStandInRefusal7 +
                    "; it is a TensorRT 8 engine: run it with --trt 8");
  ExpectFailure({"--engine", EnginePath("smoke", 7), "--trt", "8"}, kExitInput,
                "cannot read engine file '" + EnginePath("smoke", 7) + "': " + kStandInRefusal8 +
                    "; it is a TensorRT 7 engine: run it with --trt 7");
  ExpectFailure({"--engine", EnginePath("smoke", 7), "--lib", LibraryPath(8)}, kExitInput,
                "cannot read engine file '" + EnginePath("smoke", 7) + "': " + kStandInRefusal8 +
                    "; it is a TensorRT 7 engine: give --lib a deliverable built for TensorRT 7");
  ExpectFailure({"inspect", "--trt", "8", EnginePath("smoke", 7)}, kExitInput,
                "cannot read engine file '" + EnginePath("smoke", 7) + "': " + kStandInRefusal8 +
                    "; it is a TensorRT 7 engine: run it with --trt 7");
}

TEST(Failure, InspectOfAMissingFileOrWithABadMajor) {
  TempDir dir;
  ExpectFailure({"inspect", dir.File("none.engine")}, kExitInput,
                "cannot read engine file '" + dir.File("none.engine") + "': No such file or directory");
  std::ofstream(dir.File("junk.engine")) << "junk";
  ExpectFailure({"inspect", "--trt", "9", dir.File("junk.engine")}, kExitUsage,
                "--trt must be " INFERLET_TEST_MAJORS_IN_WORDS ", not '9'");
}

TEST(Failure, BadFlag) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--bogus"}, kExitUsage, "unknown option '--bogus'");
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--batch"}, kExitUsage, "--batch needs a value");
}

TEST(Failure, NumbersOutOfRangeAreAnsweredInWords) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--batch", "0"}, kExitUsage,
                "--batch must be at least 1");
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--iterations", "-3"}, kExitUsage,
                "--iterations must be at least 1");
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--percentile", "100.5"}, kExitUsage,
                "--percentile must be between 0 and 100");
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--duration", "-1"}, kExitUsage,
                "--duration must be at least 0");
  const ToolResult r = RunTool({"--engine", EnginePath("smoke", 8), "--batch", "0"});
  EXPECT_EQ(r.err, "inferlet-run: error: --batch must be at least 1\n")
      << "one line, no floating-point bound";
}

// In words before anything runs, on both interfaces, rather than as the library's refusal of the first
// call.
TEST(Failure, BatchAboveTheProfileMaximumIsRefusedUpFront) {
  for (const char* api : {"legacy", "sessions"}) {
    ExpectFailure({"--engine", EnginePath("smoke", 8), "--api", api, "--batch", "11"}, kExitUsage,
                  "--batch 11: profile 0 takes at most 10 samples per call");
    ExpectFailure(
        {"--engine", EnginePath("two_profiles", 8), "--api", api, "--profile", "1", "--batch", "17"},
        kExitUsage, "--batch 17: profile 1 takes at most 16 samples per call");
  }
}

TEST(Failure, ShapeTheLibraryRejects) {
  ExpectFailure({"--engine", EnginePath("smoke", 7), "--trt", "7", "--shape", "in0=340"}, kExitRejected,
                "the library refused the engine or its configuration: kestrel_trt_new returned -1 (its log "
                "line above gives the reason)",
                "[inferlet][E] input shape ndim must in 2-8\n");
}

TEST(Failure, OverrideOfAnUnknownTensor) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--shape", "in9=1x2"}, kExitUsage,
                "--shape: the engine has no tensor named 'in9'");
}

TEST(Failure, ProfileTheEngineLacks) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--profile", "1"}, kExitUsage,
                "--profile 1: the engine has 1 optimization profile(s)");
}

TEST(Failure, DeliverableThatCannotBeLoaded) {
  const ToolResult r = RunTool({"--engine", EnginePath("smoke", 8), "--lib", "/nonexistent/libinferlet8.so"});
  EXPECT_EQ(r.exit_code, kExitLibrary) << Describe(r);
  EXPECT_EQ(r.err.rfind("inferlet-run: error: cannot load /nonexistent/libinferlet8.so: ", 0), 0u)
      << Describe(r);
  const ToolResult j =
      RunTool({"--engine", EnginePath("smoke", 8), "--lib", "/nonexistent/libinferlet8.so", "--json"});
  EXPECT_EQ(j.exit_code, kExitLibrary) << Describe(j);
  const nlohmann::json object = nlohmann::json::parse(j.out);
  EXPECT_EQ(object["exit_status"], kExitLibrary);
  EXPECT_EQ(object["kind"], "library");
  EXPECT_EQ(object["error"].get<std::string>().rfind("cannot load /nonexistent/libinferlet8.so: ", 0), 0u);
}

TEST(Failure, TensorRtMajorThatDisagreesWithTheDeliverable) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--trt", "8", "--lib", LibraryPath(7)}, kExitUsage,
                "--trt 8 given, but " + LibraryPath(7) + " links TensorRT 7");
}

TEST(Failure, InputFileOfTheWrongType) {
  TempDir dir;
  NpyArray a;
  a.descr = "<i4";
  a.shape = {2, 340};
  a.data.assign(2 * 340 * 4, '\0');
  WriteNpy(dir.File("in0.npy"), a);
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--input", "in0=" + dir.File("in0.npy")}, kExitInput,
                dir.File("in0.npy") + ": holds <i4 but input 'in0' is <f4");
  a.descr = "<f4";
  a.shape = {2, 339};
  a.data.assign(2 * 339 * 4, '\0');
  WriteNpy(dir.File("in0.npy"), a);
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--input", "in0=" + dir.File("in0.npy")}, kExitInput,
                dir.File("in0.npy") + ": shape (2,339) does not fit input 'in0' configured as [10,340]");
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--input", "out0=" + dir.File("in0.npy")}, kExitUsage,
                "--input: profile 0 has no input named 'out0'");
}

TEST(SaveOutputs, TheDirectoryIsCreatedWithItsParents) {
  TempDir dir;
  const std::string target = dir.File("a/b");
  const ToolResult r =
      RunTool({"--engine", EnginePath("mlp", 8), "--iterations", "1", "--save-outputs", target});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  EXPECT_NE(r.out.find("saved to " + target + "/"), std::string::npos) << r.out;
  EXPECT_EQ(ReadNpy(target + "/y.npy").shape, (std::vector<size_t>{32, 4}));
}

TEST(Failure, OutputsThatCannotBeSavedAreRefusedBeforeTheRun) {
  TempDir dir;
  std::ofstream(dir.File("file")) << "x";
  const std::vector<std::string> args = {"--engine", EnginePath("smoke", 8), "--iterations",
                                         "1",        "--save-outputs",       dir.File("file") + "/out"};
  ExpectFailure(args, kExitOutput,
                "--save-outputs " + dir.File("file") + "/out: cannot create the directory: Not a directory");
  const ToolResult r = RunTool(args);
  EXPECT_TRUE(r.out.empty()) << "the library was not even loaded\n" << Describe(r);
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--save-outputs", dir.File("file")}, kExitOutput,
                "--save-outputs " + dir.File("file") + ": not a directory");
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--export-times", dir.File("none/t.json")}, kExitOutput,
                "--export-times " + dir.File("none/t.json") + ": cannot write: No such file or directory");
}

}  // namespace
}  // namespace inferlet_run
