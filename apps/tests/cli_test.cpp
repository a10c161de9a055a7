// inferlet-run as a user runs it: the sample engines through both deliverables, the values that come
// back, the two report forms, and the message and exit status of each kind of failure.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "exit_codes.h"
#include "npy.h"
#include "tensor_data.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::EnginePath;
using inferlet_run_test::LibraryPath;
using inferlet_run_test::RunTool;
using inferlet_run_test::TempDir;
using inferlet_run_test::ToolResult;

std::string Describe(const ToolResult& r) {
  return "exit " + std::to_string(r.exit_code) + "\n--- stdout\n" + r.out + "--- stderr\n" + r.err;
}

nlohmann::json RunJson(std::vector<std::string> args) {
  args.push_back("--json");
  const ToolResult r = RunTool(args);
  EXPECT_EQ(r.exit_code, 0) << Describe(r);
  try {
    return nlohmann::json::parse(r.out);
  } catch (const nlohmann::json::exception& e) {
    ADD_FAILURE() << "stdout is not one JSON object: " << e.what() << "\n" << Describe(r);
    return {};
  }
}

void SaveFloats(const std::string& path, std::vector<size_t> shape, const std::vector<float>& values) {
  NpyArray a;
  a.kind = NpyKind::kFloat32;
  a.shape = std::move(shape);
  a.data.assign(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
  WriteNpy(path, a);
}

std::vector<float> LoadFloats(const std::string& path, const std::vector<size_t>& expected_shape) {
  const NpyArray a = ReadNpy(path);
  EXPECT_EQ(a.kind, NpyKind::kFloat32);
  EXPECT_EQ(a.shape, expected_shape);
  std::vector<float> values(a.data.size() / sizeof(float));
  std::memcpy(values.data(), a.data.data(), values.size() * sizeof(float));
  return values;
}

// ---------------------------------------------------------------------------------------------
// Every sample engine, both deliverables, with and without CUDA graphs: the same outputs.

class SampleEngine : public testing::TestWithParam<const char*> {};

TEST_P(SampleEngine, SameOutputsThroughBothDeliverablesWithAndWithoutGraphs) {
  std::string reference;
  for (int major : {8, 7}) {
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
      EXPECT_EQ(j["latency_ms"]["calls"], 3);
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
  for (int major : {8, 7}) {
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
  const ToolResult r = RunTool({"--engine", EnginePath("two_profiles", 8), "--profile", "1", "--input",
                                "in0=" + dir.File("a.npy"), "--input", "in1=" + dir.File("b.npy"),
                                "--save-outputs", dir.path(), "--iterations", "1", "--warmup", "0"});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  const std::vector<float> out = LoadFloats(dir.File("out0.npy"), {batch, 4, 8});
  for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k], 2 * std::max(in0[k], in1[k]) + 1) << k;
}

TEST(Outputs, MixedRankAppliesReluAndHalving) {
  TempDir dir;
  std::vector<float> in0(2 * 8), in1(2 * 4 * 8);
  for (size_t k = 0; k < in0.size(); ++k) in0[k] = static_cast<float>(k) - 8;
  for (size_t k = 0; k < in1.size(); ++k) in1[k] = static_cast<float>(k) - 30;
  SaveFloats(dir.File("in0.npy"), {2, 8}, in0);
  SaveFloats(dir.File("in1.npy"), {2, 4, 8}, in1);
  const ToolResult r =
      RunTool({"--engine", EnginePath("mixed_rank", 7), "--trt", "7", "--input", "in0=" + dir.File("in0.npy"),
               "--input", "in1=" + dir.File("in1.npy"), "--save-outputs", dir.path(), "--iterations", "1"});
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  const std::vector<float> out0 = LoadFloats(dir.File("out0.npy"), {2, 8});
  const std::vector<float> out1 = LoadFloats(dir.File("out1.npy"), {2, 4, 8});
  for (size_t k = 0; k < out0.size(); ++k) EXPECT_EQ(out0[k], std::max(in0[k], 0.0f)) << k;
  for (size_t k = 0; k < out1.size(); ++k) EXPECT_EQ(out1[k], 0.5f * in1[k]) << k;
}

TEST(Outputs, ZeroInputsGiveZeroOutputsAndTheirChecksum) {
  const nlohmann::json j = RunJson({"--engine", EnginePath("smoke", 8), "--fill", "zeros", "--batch", "4",
                                    "--iterations", "1", "--warmup", "0"});
  ASSERT_EQ(j["outputs"].size(), 1u);
  const std::string zeros(4 * 338 * 4, '\0');
  EXPECT_EQ(j["outputs"][0]["bytes"], zeros.size());
  EXPECT_EQ(j["outputs"][0]["sum"], 0.0);
  char expected[19];
  std::snprintf(expected, sizeof(expected), "0x%016llx",
                static_cast<unsigned long long>(
                    ComputeChecksum(zeros.data(), zeros.size(), DType::kFloat, true).fnv1a));
  EXPECT_EQ(j["outputs"][0]["fnv1a"], expected);
  EXPECT_EQ(j["outputs"][0]["shape"], (std::vector<int>{4, 338}));
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
  EXPECT_NE(tail.find("  profile 0   0  in0   input   float32  engine [-1,340]       max [10,340]\n"),
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
  EXPECT_NE(tail.find(" calls/s, "), std::string::npos) << tail;
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
  const auto& l = j["latency_ms"];
  EXPECT_EQ(l["calls"], 5);
  EXPECT_LE(l["min"].get<double>(), l["median"].get<double>());
  EXPECT_LE(l["median"].get<double>(), l["p99"].get<double>());
  EXPECT_LE(l["p99"].get<double>(), l["max"].get<double>());
  EXPECT_GT(j["throughput"]["calls_per_s"].get<double>(), 0);
  EXPECT_DOUBLE_EQ(j["throughput"]["samples_per_s"].get<double>(),
                   16 * j["throughput"]["calls_per_s"].get<double>());
}

TEST(Report, DeliverableGivenByPathHasItsTensorRtDetected) {
  const nlohmann::json j = RunJson(
      {"--engine", EnginePath("mlp", 7), "--lib", LibraryPath(7), "--iterations", "1", "--batch", "2"});
  EXPECT_EQ(j["library"]["trt_major"], 7);
  EXPECT_EQ(j["outputs"][0]["shape"], (std::vector<int>{2, 4}));
}

// ---------------------------------------------------------------------------------------------
// Failures: one line on stderr naming the problem, and the exit status of its kind.

void ExpectFailure(const std::vector<std::string>& args, int code, const std::string& err_part,
                   const std::string& out_part = "") {
  const ToolResult r = RunTool(args);
  EXPECT_EQ(r.exit_code, code) << Describe(r);
  EXPECT_NE(r.err.find("inferlet-run: error: " + err_part), std::string::npos) << Describe(r);
  if (!out_part.empty()) {
    EXPECT_NE(r.out.find(out_part), std::string::npos) << Describe(r);
  }
  EXPECT_EQ(r.out.find("== inferlet-run =="), std::string::npos) << "no report after a failure";
}

TEST(Failure, MissingEngineFile) {
  ExpectFailure({"--engine", "/nonexistent/x.engine"}, kExitInput,
                "cannot read engine file '/nonexistent/x.engine': No such file or directory");
}

TEST(Failure, FileThatIsNotAnEngine) {
  TempDir dir;
  std::ofstream(dir.File("junk.engine")) << "this is not an engine";
  ExpectFailure({"--engine", dir.File("junk.engine")}, kExitInput,
                "cannot read engine file '" + dir.File("junk.engine") +
                    "': not an engine this TensorRT can "
                    "deserialize");
}

TEST(Failure, EngineOfTheOtherTensorRt) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--trt", "7"}, kExitInput, "cannot read engine file");
}

TEST(Failure, BadFlag) {
  const ToolResult r = RunTool({"--engine", EnginePath("smoke", 8), "--bogus"});
  EXPECT_EQ(r.exit_code, kExitUsage) << Describe(r);
  EXPECT_NE(r.err.find("--bogus"), std::string::npos) << Describe(r);
}

TEST(Failure, BatchAboveTheProfileMaximumIsRefusedByTheLibrary) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--batch", "11"}, kExitRejected,
                "the library refused warm-up call 1 (profile 0, batch 11): kestrel_trt_process returned -1",
                "[inferlet][E] input batch_size 11 must lte graph config input batch_size 10\n");
}

TEST(Failure, ShapeTheLibraryRejects) {
  ExpectFailure({"--engine", EnginePath("smoke", 7), "--trt", "7", "--shape", "in0=340"}, kExitRejected,
                "the library refused the engine or its configuration: kestrel_trt_new returned -1",
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
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--lib", "/nonexistent/libinferlet8.so"}, kExitLibrary,
                "cannot load /nonexistent/libinferlet8.so");
}

TEST(Failure, TensorRtMajorThatDisagreesWithTheDeliverable) {
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--trt", "8", "--lib", LibraryPath(7)}, kExitUsage,
                "--trt 8 given, but " + LibraryPath(7) + " links TensorRT 7");
}

TEST(Failure, InputFileOfTheWrongType) {
  TempDir dir;
  NpyArray a;
  a.kind = NpyKind::kInt32;
  a.shape = {2, 340};
  a.data.assign(2 * 340 * 4, '\0');
  WriteNpy(dir.File("in0.npy"), a);
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--input", "in0=" + dir.File("in0.npy")}, kExitInput,
                dir.File("in0.npy") + ": holds <i4 but input 'in0' is <f4");
  a.kind = NpyKind::kFloat32;
  a.shape = {2, 339};
  a.data.assign(2 * 339 * 4, '\0');
  WriteNpy(dir.File("in0.npy"), a);
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--input", "in0=" + dir.File("in0.npy")}, kExitInput,
                dir.File("in0.npy") + ": shape (2,339) does not fit input 'in0' configured as [10,340]");
  ExpectFailure({"--engine", EnginePath("smoke", 8), "--input", "out0=" + dir.File("in0.npy")}, kExitUsage,
                "--input: profile 0 has no input named 'out0'");
}

TEST(Failure, OutputsThatCannotBeSaved) {
  ExpectFailure(
      {"--engine", EnginePath("smoke", 8), "--iterations", "1", "--save-outputs", "/nonexistent/dir"},
      kExitOutput, "cannot write /nonexistent/dir/out0.npy");
}

}  // namespace
}  // namespace inferlet_run
