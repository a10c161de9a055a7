// inferlet-run on the named-tensor generation (TensorRT 10 on): the same listing as TensorRT 8
// gives for the same network, and an engine of another major refused with the --trt that fits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "exit_codes.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::Describe;
using inferlet_run_test::EnginePath;
using inferlet_run_test::ExpectFailure;
using inferlet_run_test::LibraryPath;
using inferlet_run_test::RunTool;
using inferlet_run_test::SessionsPath;
using inferlet_run_test::TempDir;
using inferlet_run_test::ToolResult;

constexpr int kNamedTensorMajors[] = {INFERLET_RUN_NAMED_TENSOR_MAJORS};

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// A TensorRT 8 listing as the same network's listing on `major` reads: only the major, the engine
// file and the sessions library differ.
std::string AsMajor(std::string listing, const std::string& engine8, const std::string& engine, int major) {
  ReplaceAll(listing, engine8, engine);
  ReplaceAll(listing, SessionsPath(8), SessionsPath(major));
  ReplaceAll(listing, "\n         TensorRT 8, ", "\n         TensorRT " + std::to_string(major) + ", ");
  return listing;
}

nlohmann::json InspectJson(const std::string& engine) {
  const ToolResult r = RunTool({"inspect", "--json", engine});
  EXPECT_EQ(r.exit_code, 0) << Describe(r);
  return r.exit_code == 0 ? nlohmann::json::parse(r.out) : nlohmann::json{};
}

// Text and JSON listings of one network's 8 and 10/11 engines, equal but for the major and paths.
void ExpectSameListingAsTensorRt8(const std::string& engine8, const std::string& engine, int major) {
  const ToolResult eight = RunTool({"inspect", engine8});
  const ToolResult newer = RunTool({"inspect", engine});
  ASSERT_EQ(eight.exit_code, 0) << Describe(eight);
  ASSERT_EQ(newer.exit_code, 0) << Describe(newer);
  EXPECT_NE(eight.out.find("TensorRT 8, "), std::string::npos) << eight.out;
  EXPECT_EQ(newer.out, AsMajor(eight.out, engine8, engine, major));
  EXPECT_TRUE(newer.err.empty()) << newer.err;

  nlohmann::json j8 = InspectJson(engine8), j = InspectJson(engine);
  EXPECT_EQ(j["engine"]["trt_major"], major);
  EXPECT_EQ(j["engine"]["file"], engine);
  EXPECT_EQ(j["library"], SessionsPath(major));
  for (nlohmann::json* listing : {&j8, &j}) {
    (*listing)["engine"].erase("trt_major");
    (*listing)["engine"].erase("file");
    listing->erase("library");
  }
  EXPECT_EQ(j.dump(2), j8.dump(2));
}

class NamedTensorSample : public testing::TestWithParam<const char*> {};

TEST_P(NamedTensorSample, InspectListsTheSameBindingsAsTensorRt8) {
  for (int major : kNamedTensorMajors) {
    SCOPED_TRACE("TensorRT " + std::to_string(major));
    ExpectSameListingAsTensorRt8(EnginePath(GetParam(), 8), EnginePath(GetParam(), major), major);
  }
}

INSTANTIATE_TEST_SUITE_P(Stand_in, NamedTensorSample,
                         testing::Values("smoke", "two_profiles", "mixed_rank", "mlp", "static_batch"));

// One binding per I/O tensor per profile, numbered profile-major and named as TensorRT 8 names them.
TEST(NamedTensor, BindingsAreTheTensorsOncePerProfile) {
  const nlohmann::json j = InspectJson(EnginePath("two_profiles", 10));
  const nlohmann::json& bindings = j["engine"]["bindings"];
  ASSERT_EQ(bindings.size(), 6u) << j.dump(2);
  const char* names[] = {"in0", "in1", "out0", "in0 [profile 1]", "in1 [profile 1]", "out0 [profile 1]"};
  for (int b = 0; b < 6; ++b) {
    EXPECT_EQ(bindings[b]["index"], b);
    EXPECT_EQ(bindings[b]["name"], names[b]);
    EXPECT_EQ(bindings[b]["input"], b % 3 != 2);
    EXPECT_EQ(bindings[b]["dims"], (std::vector<int>{-1, 4, 8}));
  }
  EXPECT_EQ(j["engine"]["max_batch_size"], 1);
  EXPECT_EQ(j["engine"]["profiles"][1]["bindings"][2]["binding"], 5);
  EXPECT_EQ(j["engine"]["profiles"][1]["bindings"][2]["name"], "out0");
  EXPECT_EQ(j["engine"]["profiles"][1]["bindings"][2]["max"], (std::vector<int>{16, 4, 8}));
}

// Every data type the builder knows, through identity layers: the same types on 8 and on 10/11.
TEST(NamedTensor, DataTypesAreListedAsOnTensorRt8) {
  TempDir dir;
  std::ofstream(dir.File("types.json")) << R"({
  "name": "types",
  "inputs": [{"name": "f", "dtype": "float", "dims": [-1, 2]}, {"name": "h", "dtype": "half", "dims": [-1, 2]},
             {"name": "c", "dtype": "int8", "dims": [-1, 2]}, {"name": "i", "dtype": "int32", "dims": [-1, 2]},
             {"name": "b", "dtype": "bool", "dims": [-1, 2]}],
  "outputs": [{"name": "of", "dtype": "float", "dims": [-1, 2]}, {"name": "oh", "dtype": "half", "dims": [-1, 2]},
              {"name": "oc", "dtype": "int8", "dims": [-1, 2]}, {"name": "oi", "dtype": "int32", "dims": [-1, 2]},
              {"name": "ob", "dtype": "bool", "dims": [-1, 2]}],
  "layers": [{"op": "identity", "inputs": ["f"], "output": "of"}, {"op": "identity", "inputs": ["h"], "output": "oh"},
             {"op": "identity", "inputs": ["c"], "output": "oc"}, {"op": "identity", "inputs": ["i"], "output": "oi"},
             {"op": "identity", "inputs": ["b"], "output": "ob"}],
  "profiles": [{"f": {"min": [1, 2], "opt": [2, 2], "max": [3, 2]}, "h": {"min": [1, 2], "opt": [2, 2], "max": [3, 2]},
                "c": {"min": [1, 2], "opt": [2, 2], "max": [3, 2]}, "i": {"min": [1, 2], "opt": [2, 2], "max": [3, 2]},
                "b": {"min": [1, 2], "opt": [2, 2], "max": [3, 2]}}]
})";
  for (int major : {8, 10, 11}) {
    const std::string command = std::string(INFERLET_TRTBUILD) + " --trt " + std::to_string(major) + " " +
                                dir.File("types.json") + " -o " + dir.File("types-" + std::to_string(major));
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  const nlohmann::json j = InspectJson(dir.File("types-10"));
  const char* types[] = {"float32", "float16", "int8", "int32", "bool"};
  for (int b = 0; b < 10; ++b) EXPECT_EQ(j["engine"]["bindings"][b]["dtype"], types[b % 5]) << b;
  for (int major : kNamedTensorMajors)
    ExpectSameListingAsTensorRt8(dir.File("types-8"), dir.File("types-" + std::to_string(major)), major);
}

// A run reports the same engine and configuration as on TensorRT 8; only the library differs.
TEST(NamedTensor, RunReportsTheSameEngineAndConfigurationAsTensorRt8) {
  for (int major : kNamedTensorMajors) {
    auto report = [](const std::string& engine, const std::string& trt) {
      const ToolResult r =
          RunTool({"--engine", engine, "--trt", trt, "--profile", "1", "--iterations", "1", "--quiet"});
      EXPECT_EQ(r.exit_code, 0) << Describe(r);
      const size_t from = r.out.find("Engine   "), to = r.out.find("Run      ");
      return from == std::string::npos || to == std::string::npos ? r.out : r.out.substr(from, to - from);
    };
    std::string eight = report(EnginePath("two_profiles", 8), "8");
    ReplaceAll(eight, LibraryPath(8) + " (TensorRT 8)",
               LibraryPath(major) + " (TensorRT " + std::to_string(major) + ")");
    EXPECT_EQ(report(EnginePath("two_profiles", major), std::to_string(major)),
              AsMajor(eight, EnginePath("two_profiles", 8), EnginePath("two_profiles", major), major));
  }
}

// An engine of another major: TensorRT's own refusal, then which --trt (or --lib) fits.
TEST(NamedTensor, EngineOfAnotherMajorSuggestsTheTrtThatFits) {
  struct Case {
    int engine_major, trt;
  };
  for (const Case c : {Case{8, 10}, Case{10, 8}, Case{11, 10}, Case{10, 11}, Case{7, 11}}) {
    const std::string engine = EnginePath("smoke", c.engine_major);
    const std::string refusal =
        "not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: "
        "the engine was built for TensorRT " +
        std::to_string(c.engine_major) + ", this runtime is TensorRT " + std::to_string(c.trt) +
        "; rebuild the engine)";
    const std::string head = "cannot read engine file '" + engine + "': " + refusal;
    const std::string fits = std::to_string(c.engine_major);
    const std::string host_code = inferlet_run_test::HostCodeHint(std::vector<int>{c.trt});
    ExpectFailure({"--engine", engine, "--trt", std::to_string(c.trt)}, kExitInput,
                  head + "; it is a TensorRT " + fits + " engine: run it with --trt " + fits + host_code);
    ExpectFailure({"--engine", engine, "--lib", LibraryPath(c.trt)}, kExitInput,
                  head + "; it is a TensorRT " + fits +
                      " engine: give --lib a deliverable built for TensorRT " + fits + host_code);
    ExpectFailure({"inspect", "--trt", std::to_string(c.trt), engine}, kExitInput,
                  head + "; it is a TensorRT " + fits + " engine: run it with --trt " + fits + host_code);
  }
}

TEST(NamedTensor, TrtThatDisagreesWithTheDeliverable) {
  ExpectFailure({"--engine", EnginePath("smoke", 10), "--trt", "10", "--lib", LibraryPath(11)}, kExitUsage,
                "--trt 10 given, but " + LibraryPath(11) + " links TensorRT 11");
  ExpectFailure(
      {"--engine", EnginePath("smoke", 10), "--trt", "11", "--lib", SessionsPath(10), "--api", "sessions"},
      kExitUsage, "--trt 11 given, but " + SessionsPath(10) + " links TensorRT 10");
}

}  // namespace
}  // namespace inferlet_run
