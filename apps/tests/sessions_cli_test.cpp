// inferlet-run --api sessions as a user runs it: the same outputs as the legacy path, many sessions on
// their profiles, the phase times and memory of the report, and the refusals; --compare and --shapes on
// both interfaces.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "exit_codes.h"
#include "npy.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::Describe;
using inferlet_run_test::EnginePath;
using inferlet_run_test::ExpectFailure;
using inferlet_run_test::kBuiltMajors;
using inferlet_run_test::RunJson;
using inferlet_run_test::RunTool;
using inferlet_run_test::TempDir;
using inferlet_run_test::ToolResult;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Args(const std::string& engine, int major, std::vector<std::string> more) {
  std::vector<std::string> args = {"--engine", EnginePath(engine, major), "--iterations", "3", "--warmup",
                                   "1"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

std::set<std::string> Keys(const nlohmann::json& object) {
  std::set<std::string> keys;
  for (const auto& item : object.items()) keys.insert(item.key());
  return keys;
}

// ---------------------------------------------------------------------------------------------
// Every sample, every major, with and without graphs: the sessions library writes the same .npy
// outputs, byte for byte, as the deliverable.

struct Sample {
  const char* engine;
  int profile;
};

class SessionsSample : public testing::TestWithParam<Sample> {};

TEST_P(SessionsSample, OutputsAreByteEqualToTheLegacyPath) {
  const Sample& s = GetParam();
  for (int major : kBuiltMajors) {
    for (bool graph : {false, true}) {
      SCOPED_TRACE("trt" + std::to_string(major) + (graph ? " with CUDA graphs" : ""));
      TempDir dir;
      std::vector<std::string> common = {"--profile", std::to_string(s.profile), "--seed", "7"};
      if (graph) common.push_back("--cuda-graph");
      std::vector<std::string> legacy = common, sessions = common;
      legacy.insert(legacy.end(), {"--save-outputs", dir.File("legacy")});
      sessions.insert(sessions.end(), {"--api", "sessions", "--save-outputs", dir.File("sessions")});
      const nlohmann::json l = RunJson(Args(s.engine, major, legacy));
      const nlohmann::json j = RunJson(Args(s.engine, major, sessions));
      ASSERT_EQ(l["outputs"].size(), j["outputs"].size());
      ASSERT_FALSE(j["outputs"].empty());
      for (size_t k = 0; k < j["outputs"].size(); ++k) {
        const std::string name = j["outputs"][k]["name"];
        EXPECT_EQ(j["outputs"][k]["shape"], l["outputs"][k]["shape"]) << name;
        EXPECT_EQ(j["outputs"][k]["fnv1a"], l["outputs"][k]["fnv1a"]) << name;
        const std::string legacy_file = ReadBytes(dir.File("legacy/" + name + ".npy"));
        EXPECT_FALSE(legacy_file.empty()) << name;
        EXPECT_EQ(ReadBytes(dir.File("sessions/" + name + ".npy")), legacy_file) << name;
      }
      EXPECT_EQ(j["library"]["path"],
                std::string(INFERLET_LIB_DIR) + "/libinferlet_sessions" + std::to_string(major) + ".so");
      EXPECT_EQ(j["library"]["trt_major"], major);
      EXPECT_EQ(j["phases"]["graph_replays"], graph ? 3 : 0) << "the warm-up call captured the graph";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Stand_in, SessionsSample,
                         testing::Values(Sample{"smoke", 0}, Sample{"two_profiles", 0},
                                         Sample{"two_profiles", 1}, Sample{"mixed_rank", 0}, Sample{"mlp", 0},
                                         Sample{"static_batch", 0}),
                         [](const testing::TestParamInfo<Sample>& info) {
                           return std::string(info.param.engine) + "_" + std::to_string(info.param.profile);
                         });

// ---------------------------------------------------------------------------------------------
// The text report of --api sessions: the library's lines first, then its own sections.

TEST(SessionsReport, TextHasTheLibrarysLinesMemoryPhasesAndSessions) {
  const ToolResult r = RunTool(Args("mlp", 8, {"--api", "sessions"}));
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  const size_t loaded = r.out.find("[inferlet_sessions][I] engine 'mlp' loaded on device 0: ");
  const size_t report = r.out.find("\n== inferlet-run ==\n");
  ASSERT_NE(loaded, std::string::npos) << r.out;
  EXPECT_LT(loaded, report);
  const std::string tail = r.out.substr(report);
  for (const std::string& line : {
           std::string("\nLibrary  ") + INFERLET_LIB_DIR +
               "/libinferlet_sessions8.so (TensorRT 8, sessions interface)\n",
           std::string(
               "\nConfig   per profile, the largest shapes of the calls' tensors and their item sizes:\n"),
           std::string(
               "\nRun      profile 0, batch 32, device 0, CUDA graph off, inputs: x = random (seed 1)\n"),
           std::string(
               "\nMemory   device memory of the engine and its sessions: engine 2704 bytes, session 0 10752 "
               "bytes; 13456 bytes in all\n"),
           std::string("\nOutputs  of the last call\n"),
           std::string("\nTimed    3 calls in "),
           std::string(
               "\nPhases   3 timed calls, from CUDA events on each session's stream, microseconds per call\n"
               "                        min       mean     median        max\n"
               "  host-to-device "),
           std::string("\n  compute        "),
           std::string("\n  device-to-host "),
           std::string("\nSessions one thread each, microseconds per call\n"
                       "  session  profile  batch    calls       mean     median        p99      calls/s    "
                       "samples/s\n"
                       "        0        0     32        3 "),
       })
    EXPECT_NE(tail.find(line), std::string::npos) << line << "\n" << tail;
  EXPECT_EQ(tail.find("replayed a CUDA graph"), std::string::npos) << "no graphs, no graph line";
  const ToolResult g = RunTool(Args("mlp", 8, {"--api", "sessions", "--cuda-graph", "--quiet"}));
  ASSERT_EQ(g.exit_code, 0) << Describe(g);
  EXPECT_EQ(g.out.rfind("\n== inferlet-run ==\n", 0), 0u) << "--quiet holds the library's lines back";
  EXPECT_NE(g.out.find("\n         3 of 3 calls replayed a CUDA graph: each is one launch, timed as compute, "
                       "copies 0\n"),
            std::string::npos)
      << g.out;
}

// The JSON schema of --api sessions, key by key; a replayed graph's copies are zero.
TEST(SessionsReport, JsonSchemaOfTheNewFields) {
  const nlohmann::json j =
      RunJson(Args("two_profiles", 10, {"--api", "sessions", "--sessions", "2", "--cuda-graph"}));
  EXPECT_EQ(j["library"]["api"], "sessions");
  EXPECT_EQ(j["run"]["api"], "sessions");
  EXPECT_EQ(j["run"]["sessions"], 2);
  EXPECT_EQ(j["run"]["profiles"], (std::vector<int>{0, 1}));
  EXPECT_EQ(Keys(j["device_memory"]), (std::set<std::string>{"engine", "context", "sessions", "total"}));
  const std::vector<long long> memory = j["device_memory"]["sessions"];
  ASSERT_EQ(memory.size(), 2u);
  EXPECT_EQ(j["device_memory"]["total"],
            j["device_memory"]["engine"].get<long long>() + memory[0] + memory[1]);
  ASSERT_EQ(j["sessions"].size(), 2u);
  size_t calls = 0;
  for (size_t i = 0; i < 2; ++i) {
    const nlohmann::json& s = j["sessions"][i];
    EXPECT_EQ(Keys(s), (std::set<std::string>{"session", "profile", "batch", "device_memory", "latency",
                                              "throughput"}));
    EXPECT_EQ(s["session"], i);
    EXPECT_EQ(s["profile"], i) << "each session on its own profile";
    EXPECT_EQ(s["batch"], i == 0 ? 4 : 16) << "each profile's largest batch";
    EXPECT_EQ(s["device_memory"], memory[i]);
    EXPECT_EQ(s["latency"]["calls"], 3);
    EXPECT_GT(s["throughput"]["calls_per_s"].get<double>(), 0);
    calls += s["latency"]["calls"].get<size_t>();
  }
  EXPECT_EQ(j["latency"]["calls"], calls) << "the total is every session's calls";
  const nlohmann::json& p = j["phases"];
  EXPECT_EQ(Keys(p), (std::set<std::string>{"calls", "graph_replays", "host_to_device_us", "compute_us",
                                            "device_to_host_us"}));
  EXPECT_EQ(p["calls"], calls);
  EXPECT_EQ(p["graph_replays"], calls);
  for (const char* phase : {"host_to_device_us", "compute_us", "device_to_host_us"}) {
    EXPECT_EQ(Keys(p[phase]), (std::set<std::string>{"min", "mean", "median", "max"})) << phase;
    EXPECT_GE(p[phase]["min"].get<double>(), 0) << phase;
    EXPECT_LE(p[phase]["min"].get<double>(), p[phase]["max"].get<double>()) << phase;
  }
  EXPECT_EQ(p["host_to_device_us"]["max"], 0.0) << "a replay is one launch: copies 0";
  EXPECT_EQ(p["device_to_host_us"]["max"], 0.0);
  EXPECT_LE(p["compute_us"]["max"].get<double>(), j["latency"]["max_us"].get<double>());
}

TEST(SessionsReport, ManySessionsInTextAndTheirExportedTimes) {
  TempDir dir;
  const ToolResult r = RunTool(Args(
      "static_batch", 11, {"--api", "sessions", "--sessions", "3", "--export-times", dir.File("t.json")}));
  ASSERT_EQ(r.exit_code, 0) << Describe(r);
  for (const char* line :
       {"\nRun      3 sessions on profiles 0, 0, 0 with batches 4, 4, 4, device 0, CUDA graph off, inputs: ",
        "\nOutputs  of the last call of session 0\n", "\nLatency  9 timed calls after 1 warm-up calls, ",
        " s (asked: at least 3 calls and 0 s per session)\n", "\n        0        0      4        3 ",
        "\n        1        0      4        3 ", "\n        2        0      4        3 "})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  std::ifstream in(dir.File("t.json"));
  const nlohmann::json times = nlohmann::json::parse(in);
  ASSERT_EQ(times.size(), 9u);
  for (size_t k = 0; k < times.size(); ++k) {
    EXPECT_EQ(Keys(times[k]), (std::set<std::string>{"session", "call", "start_us", "latency_us"}));
    EXPECT_EQ(times[k]["session"], k / 3);
    EXPECT_EQ(times[k]["call"], k % 3 + 1);
  }
}

// ---------------------------------------------------------------------------------------------
// Refusals of --api sessions: the tool's own (exit 2) and the library's (exit 1, its status quoted).

TEST(SessionsFailure, ProfilesSessionsCannotShare) {
  const std::string why =
      "the engine has dynamic shapes, so every session needs an optimization profile of its own (TensorRT "
      "requires separate profiles for execution contexts in concurrent use)";
  ExpectFailure(Args("smoke", 8, {"--api", "sessions", "--sessions", "2"}), kExitUsage,
                "--sessions 2: " + why +
                    ", and it has only one: run one session, or build the engine with more optimization "
                    "profiles or with static shapes");
  ExpectFailure(Args("two_profiles", 8, {"--api", "sessions", "--sessions", "3"}), kExitUsage,
                "--sessions 3: " + why +
                    ", and it has 2: run at most 2 sessions, or build the engine with more optimization "
                    "profiles or with static shapes");
  ExpectFailure(Args("two_profiles", 8, {"--api", "sessions", "--sessions", "2", "--profile", "1"}),
                kExitUsage,
                "--sessions 2: " + why + ", and it has 1 from profile 1 on (give --profiles to choose them)");
  ExpectFailure(Args("two_profiles", 8, {"--api", "sessions", "--profiles", "1,1"}), kExitUsage,
                "--profiles 1,1: profile 1 is given twice: " + why);
  ExpectFailure(Args("two_profiles", 8, {"--api", "sessions", "--profiles", "0,2"}), kExitUsage,
                "--profiles 0,2: the engine has 2 optimization profile(s)");
  const nlohmann::json j = RunJson(Args("two_profiles", 8, {"--api", "sessions", "--profiles", "1,0"}));
  EXPECT_EQ(j["run"]["profiles"], (std::vector<int>{1, 0}));
  EXPECT_EQ(j["outputs"][0]["shape"], (std::vector<int>{16, 4, 8})) << "session 0's, on profile 1";
}

TEST(SessionsFailure, TheLibrarysRefusalsQuoteItsStatus) {
  ExpectFailure(
      Args("layout_chw4", 8, {"--api", "sessions"}), kExitRejected,
      "the library refused session 0 on profile 0 (inferlet_session_create): INFERLET_UNSUPPORTED_TENSOR: "
      "input 'in0' of profile 0 is in format kCHW4, not a dense row-major tensor in device memory");
  const std::string sessions7 = std::string(INFERLET_LIB_DIR) + "/libinferlet_sessions7.so";
  ExpectFailure(
      Args("smoke", 8, {"--api", "sessions", "--lib", inferlet_run_test::LibraryPath(7)}), kExitLibrary,
      inferlet_run_test::LibraryPath(7) + " has no inferlet_get_api: it is no sessions library of version " +
          std::to_string(INFERLET_API_VERSION) + " of inferlet_sessions.h, which this host needs");
  ExpectFailure(
      Args("smoke", 8, {"--api", "sessions", "--lib", sessions7}), kExitInput,
      "cannot read engine file '" + EnginePath("smoke", 8) +
          "': not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: the engine was "
          "built for TensorRT 8, this runtime is TensorRT 7; rebuild the engine); it is a TensorRT 8 "
          "engine: give --lib a sessions library built for TensorRT 8");
}

// A version-compatible engine (TensorRT 10 and later) holds host code: it runs with --allow-host-code on
// the sessions interface, is refused without it naming the option, and the legacy interface has none.
TEST(SessionsHostCode, AVersionCompatibleEngineRunsOnlyWithAllowHostCode) {
  bool tried = false;
  for (int major : kBuiltMajors) {
    if (major < 10) continue;
    tried = true;
    SCOPED_TRACE(major);
    const nlohmann::json j = RunJson(
        Args("version_compatible", major, {"--api", "sessions", "--allow-host-code", "--batch", "2"}));
    EXPECT_EQ(j["library"]["trt_major"], major);
    ASSERT_EQ(j["outputs"].size(), 1u);
    EXPECT_EQ(j["outputs"][0]["name"], "out0");
    EXPECT_EQ(j["outputs"][0]["shape"], (std::vector<int>{2, 4}));
    const std::string trt = std::to_string(major);
    const std::string refusal =
        "cannot read engine file '" + EnginePath("version_compatible", major) +
        "': not an engine this TensorRT can deserialize (TensorRT: deserializeCudaEngine: engine "
        "'version_compatible' is version compatible and holds host code, which this runtime is not "
        "allowed to run: call IRuntime::setEngineHostCodeAllowed(true) before deserializing it)" +
        inferlet_run_test::HostCodeHint(std::vector<int>{major});
    ExpectFailure(Args("version_compatible", major, {"--api", "sessions", "--trt", trt}), kExitInput,
                  refusal);
    // inspect reads it only with the opt-in too.
    EXPECT_EQ(RunTool({"inspect", "--allow-host-code", EnginePath("version_compatible", major)}).exit_code,
              0);
    ExpectFailure({"inspect", "--trt", trt, EnginePath("version_compatible", major)}, kExitInput, refusal);
  }
  if (!tried) GTEST_SKIP() << "no TensorRT 10 or later in this build";
  ExpectFailure(Args("smoke", kBuiltMajors[0], {"--allow-host-code"}), kExitUsage,
                "--allow-host-code needs --api sessions: the legacy kestrel_trt_* interface cannot load an "
                "engine that holds host code");
}

// ---------------------------------------------------------------------------------------------
// --compare: in tolerance 0, out of it 6 after the whole report, and the files that cannot be compared.

class Compare : public testing::TestWithParam<const char*> {
 protected:
  std::vector<std::string> Run(std::vector<std::string> more) const {
    std::vector<std::string> args = Args("smoke", 8, {"--api", GetParam(), "--batch", "2"});
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  // The reference: the output itself, with element 0 moved by delta.
  void WriteReference(const std::string& dir, float delta) const {
    TempDir saved;
    ASSERT_EQ(RunTool(Run({"--save-outputs", saved.path()})).exit_code, 0);
    NpyArray a = ReadNpy(saved.File("out0.npy"));
    float first;
    std::memcpy(&first, a.data.data(), sizeof first);
    first += delta;
    std::memcpy(a.data.data(), &first, sizeof first);
    WriteNpy(dir + "/out0.npy", a);
  }
};

TEST_P(Compare, WithinAndOutOfTolerance) {
  TempDir dir;
  WriteReference(dir.path(), 0.5f);
  const std::string head = "Compare  against " + dir.path() + ": |a - b| <= atol + rtol * |b|, ";
  ToolResult r = RunTool(Run({"--compare", dir.path(), "--atol", "0.5", "--rtol", "0"}));
  EXPECT_EQ(r.exit_code, 0) << Describe(r);
  EXPECT_NE(
      r.out.find(head + "rtol 0, atol 0.5\n  out0  0 of 676 elements out of tolerance, max abs diff 0.5, "),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(": ok\n"), std::string::npos) << r.out;
  r = RunTool(Run({"--compare", dir.path(), "--atol", "0.4", "--rtol", "0"}));
  EXPECT_EQ(r.exit_code, kExitMismatch) << Describe(r);
  EXPECT_NE(r.out.find("  out0  1 of 676 elements out of tolerance, max abs diff 0.5, "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(": OUT OF TOLERANCE\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nTimed    "), std::string::npos) << "the whole report comes first";
  EXPECT_EQ(r.err,
            "inferlet-run: error: out of tolerance against " + dir.path() + " (rtol 0, atol 0.4): out0\n");
  // The default tolerances are numpy's: 0.5 off is out.
  const nlohmann::json j = RunJson(Run({"--compare", dir.path()}), kExitMismatch);
  const nlohmann::json& c = j["compare"];
  EXPECT_EQ(Keys(c), (std::set<std::string>{"dir", "rtol", "atol", "passed", "outputs"}));
  EXPECT_EQ(c["rtol"], 1e-5);
  EXPECT_EQ(c["atol"], 1e-8);
  EXPECT_EQ(c["passed"], false);
  ASSERT_EQ(c["outputs"].size(), 1u);
  EXPECT_EQ(Keys(c["outputs"][0]), (std::set<std::string>{"name", "file", "elements", "out_of_tolerance",
                                                          "max_abs_diff", "max_rel_diff", "passed"}));
  EXPECT_EQ(c["outputs"][0]["file"], dir.File("out0.npy"));
  EXPECT_EQ(c["outputs"][0]["elements"], 676);
  EXPECT_EQ(c["outputs"][0]["out_of_tolerance"], 1);
  EXPECT_EQ(c["outputs"][0]["max_abs_diff"], 0.5);
  EXPECT_TRUE(j.contains("latency")) << "a mismatch still reports the run";
}

TEST_P(Compare, FilesThatCannotBeCompared) {
  TempDir dir;
  ExpectFailure(Run({"--compare", dir.path()}), kExitInput,
                "--compare: " + dir.File("out0.npy") + ": No such file or directory");
  NpyArray a;
  a.descr = "<i4";
  a.shape = {2, 338};
  a.data.assign(2 * 338 * 4, '\0');
  WriteNpy(dir.File("out0.npy"), a);
  ExpectFailure(Run({"--compare", dir.path()}), kExitInput,
                "--compare: " + dir.File("out0.npy") + " holds <i4, output 'out0' is <f4");
  a.descr = "<f4";
  a.shape = {3, 338};
  a.data.assign(3 * 338 * 4, '\0');
  WriteNpy(dir.File("out0.npy"), a);
  ExpectFailure(Run({"--compare", dir.path()}), kExitInput,
                "--compare: " + dir.File("out0.npy") +
                    " has shape (3,338), output 'out0' of the last call has (2,338)");
}

INSTANTIATE_TEST_SUITE_P(BothApis, Compare, testing::Values("legacy", "sessions"));

// ---------------------------------------------------------------------------------------------
// --shapes: one row per shape, on a single session or a handle, with the same outputs either way.

TEST(Shapes, OneRowEachOnBothInterfaces) {
  std::vector<nlohmann::json> rows;
  for (const char* api : {"legacy", "sessions"}) {
    SCOPED_TRACE(api);
    const std::vector<std::string> args =
        Args("smoke", 10, {"--api", api, "--shapes", "in0=1x340,4x340,10x340"});
    const ToolResult r = RunTool(args);
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    const std::string sessions = std::string(api) == "sessions" ? " (phases: means)" : "";
    for (const std::string& line :
         {std::string("\nRun      profile 0, batch per row, device 0, CUDA graph off, "),
          "\nShapes   3 rows, each 3 timed calls or more after 1 warm-up calls, microseconds per call" +
              sessions + "\n",
          std::string("\n    0  in0 [1,340], in1 [1,340]          3 "),
          std::string("\n    1  in0 [4,340], in1 [4,340]          3 "),
          std::string("\n    2  in0 [10,340], in1 [10,340]        3 "),
          std::string("\n      out0  [4,338]        float32      5408 bytes  sum ")})
      EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(r.out.find("\nLatency  "), std::string::npos) << "rows instead";
    const nlohmann::json j = RunJson(args);
    EXPECT_FALSE(j.contains("latency"));
    EXPECT_FALSE(j.contains("outputs"));
    ASSERT_EQ(j["rows"].size(), 3u);
    for (const nlohmann::json& row : j["rows"]) {
      std::set<std::string> keys = {"shapes", "batch", "latency", "throughput", "outputs"};
      if (sessions.size()) keys.insert("phases");
      EXPECT_EQ(Keys(row), keys);
      EXPECT_EQ(row["latency"]["calls"], 3);
    }
    EXPECT_EQ(j["rows"][1]["shapes"], (nlohmann::json{{"in0", {4, 340}}, {"in1", {4, 340}}}));
    EXPECT_EQ(j["rows"][1]["batch"], 4);
    EXPECT_EQ(j["rows"][1]["outputs"][0]["shape"], (std::vector<int>{4, 338}));
    rows.push_back(j["rows"]);
  }
  for (size_t k = 0; k < 3; ++k)
    EXPECT_EQ(rows[0][k]["outputs"][0]["fnv1a"], rows[1][k]["outputs"][0]["fnv1a"]) << "row " << k;
}

TEST(Shapes, WidthsVaryOnlyOnTheSessionsInterface) {
  const nlohmann::json j =
      RunJson(Args("varying_width", 8, {"--api", "sessions", "--shapes", "signal=2x16,3x32"}));
  ASSERT_EQ(j["rows"].size(), 2u);
  EXPECT_EQ(j["rows"][0]["outputs"][0]["shape"], (std::vector<int>{2, 14}));
  EXPECT_EQ(j["rows"][1]["outputs"][0]["shape"], (std::vector<int>{3, 30}));
  ExpectFailure(
      Args("smoke", 8, {"--shapes", "in0=2x300"}), kExitUsage,
      "--shapes: input 'in0' [2,300] differs from its configured [10,340] after the batch: with --api "
      "legacy a call sets only the batch (give --api sessions, or --shape)");
  ExpectFailure(
      Args("smoke", 8, {"--shapes", "in0=2x340", "--shapes", "in1=3x340"}), kExitUsage,
      "--shapes: with --api legacy every input of a call takes one batch, not 2 for 'in0' and 3 for 'in1'");
  ExpectFailure(Args("smoke", 8, {"--shapes", "in0=2x340,3x340", "--shapes", "in1=2x340"}), kExitUsage,
                "--shapes: input 'in0' has 2 shape(s), 'in1' 1; give every input the same number");
  ExpectFailure(Args("smoke", 8, {"--shapes", "out0=2x338"}), kExitUsage,
                "--shapes: profile 0 has no input named 'out0'");
  ExpectFailure(Args("smoke", 8, {"--shapes", "in0=2"}), kExitUsage,
                "--shapes in0=2: input 'in0' has 2 dimensions ([10,340])");
}

}  // namespace
}  // namespace inferlet_run
