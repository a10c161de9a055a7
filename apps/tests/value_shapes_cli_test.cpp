// Engines whose shapes depend on values (TensorRT 10 and 11), run by the tool: the data_dependent test
// engine (out0 = the elements of in0 above 0, in order; out1 = 2 * in0), whose out0 is sized by the
// session's bound and saved, reported and compared at each call's real shape, and the shape_tensor
// engine (out0 = in0 reshaped to the values of `shape`, out1 to those of `shape64`), whose values come
// from files or from the profile. The legacy interface refuses both by name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "npy.h"
#include "report.h"
#include "tensor_data.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::Describe;
using inferlet_run_test::EnginePath;
using inferlet_run_test::ExpectFailure;
using inferlet_run_test::RunJson;
using inferlet_run_test::RunTool;
using inferlet_run_test::TempDir;
using inferlet_run_test::TestType;
using inferlet_run_test::ToolResult;

constexpr int kMajors[] = {INFERLET_VALUE_SHAPES_MAJORS};

std::vector<float> Floats(const std::string& bytes) {
  std::vector<float> values(bytes.size() / sizeof(float));
  if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
  return values;
}

std::string Bytes(const std::vector<float>& values) {
  return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
}

std::vector<float> KeptAboveZero(const std::vector<float>& in) {
  std::vector<float> kept;
  for (float x : in)
    if (x > 0) kept.push_back(x);
  return kept;
}

std::vector<float> Doubled(std::vector<float> in) {
  for (float& x : in) x *= 2;
  return in;
}

template <typename T>
void WriteArray(const std::string& path, const char* descr, std::vector<size_t> shape,
                const std::vector<T>& v) {
  NpyArray a;
  a.descr = descr;
  a.shape = std::move(shape);
  a.data.assign(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(T));
  WriteNpy(path, a);
}

// in0 as the tool makes it up: --seed 1 (the default), random, for `rows` rows of 4.
std::vector<float> RandomIn0(int rows) {
  return Floats(MakeInputData(TestType(0), true, static_cast<size_t>(rows) * 4 * sizeof(float),
                              FillMode::kRandom, 1, "in0"));
}

std::vector<std::string> SessionsRun(const std::string& engine, std::vector<std::string> more) {
  std::vector<std::string> args = {engine, "--api", "sessions", "--iterations", "2", "--warmup", "1"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// ---------------------------------------------------------------------------------------------
// A run of data_dependent: out0 at the call's real shape, equal to the inputs kept above 0.

struct DataDependentRun {
  const char* what;
  std::vector<float> in0;  // rows of 4 given with --input; empty: made up, --batch rows
  int rows;
  bool graph;
};

const DataDependentRun kRuns[] = {
    {"given, 5 of 12 kept", {1, -2, 0, 3.5f, -1, -1, 2, 0, 0.25f, -4, 8, 1}, 3, false},
    {"given, none kept", {0, -1, -2, -3}, 1, false},
    {"made up, every row", {}, 4, false},
    {"made up, with CUDA graphs asked", {}, 2, true},
};

TEST(DataDependentOutputs, SavedAtTheRealShapeAndEqualToTheInputsKeptAboveZero) {
  for (int major : kMajors) {
    for (const DataDependentRun& run : kRuns) {
      SCOPED_TRACE(std::string(run.what) + " on TensorRT " + std::to_string(major));
      TempDir dir;
      std::vector<std::string> more = {"--save-outputs", dir.path()};
      std::vector<float> in0 = run.in0;
      if (in0.empty()) {
        in0 = RandomIn0(run.rows);
        more.insert(more.end(), {"--batch", std::to_string(run.rows)});
      } else {
        WriteArray(dir.File("in0.npy"), "<f4", {static_cast<size_t>(run.rows), 4}, in0);
        more.insert(more.end(), {"--input", "in0=" + dir.File("in0.npy")});
      }
      if (run.graph) more.push_back("--cuda-graph");
      const std::vector<float> kept = KeptAboveZero(in0);
      const nlohmann::json j = RunJson(SessionsRun(EnginePath("data_dependent", major), more));
      ASSERT_EQ(j["outputs"].size(), 2u) << j.dump(2);
      const nlohmann::json& out0 = j["outputs"][0];
      EXPECT_EQ(out0["shape"], std::vector<size_t>{kept.size()});
      EXPECT_EQ(out0["bytes"], kept.size() * sizeof(float));
      EXPECT_EQ(out0["data_dependent"], true);
      EXPECT_EQ(out0["bound_bytes"], run.rows * 4 * sizeof(float)) << "every element may be kept";
      EXPECT_FALSE(j["outputs"][1].contains("data_dependent"));
      EXPECT_EQ(j["phases"]["graph_replays"], 0)
          << "a replay would leave out TensorRT, which tells the shape";
      EXPECT_EQ(j["configuration"][0]["outputs"][0]["shape"], std::vector<int>{-1});
      EXPECT_EQ(j["configuration"][0]["outputs"][0]["data_dependent"], true);
      const NpyArray saved0 = ReadNpy(dir.File("out0.npy")), saved1 = ReadNpy(dir.File("out1.npy"));
      EXPECT_EQ(saved0.descr, "<f4");
      EXPECT_EQ(saved0.shape, std::vector<size_t>{kept.size()});
      EXPECT_EQ(Floats(saved0.data), kept);
      EXPECT_EQ(saved1.shape, (std::vector<size_t>{static_cast<size_t>(run.rows), 4}));
      EXPECT_EQ(Floats(saved1.data), Doubled(in0));
    }
  }
}

// The report's lines for out0, in text: the configuration leaves it open, the outputs give its shape.
TEST(DataDependentOutputs, TextReportSaysWhichOutputIsDataDependent) {
  for (int major : kMajors) {
    TempDir dir;
    WriteArray(dir.File("in0.npy"), "<f4", {2, 4}, std::vector<float>{1, -2, 0, 3, -1, -1, 2, 0});
    const ToolResult r =
        RunTool(SessionsRun(EnginePath("data_dependent", major), {"--input", "in0=" + dir.File("in0.npy")}));
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(r.out.find("\n  profile 0  out0  output  [-1]             item size 4, data-dependent\n"),
              std::string::npos)
        << r.out;
    const std::string kept = Bytes(std::vector<float>{1, 3, 2});
    EXPECT_NE(r.out.find("\n  out0  [3]            float32        12 bytes  sum 6                fnv1a " +
                         HexFnv(Fnv1a(kept.data(), kept.size())) + "  data-dependent, buffer 32 bytes\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n  out1  [2,4]          float32        32 bytes  sum 4                "),
              std::string::npos)
        << r.out;
  }
}

// Rows of growing shapes: each row's buffer is the bound at its own shapes, asked again as they change.
TEST(DataDependentOutputs, ShapeRowsEachSizedAtTheirOwnShapes) {
  for (int major : kMajors) {
    SCOPED_TRACE("TensorRT " + std::to_string(major));
    const nlohmann::json j =
        RunJson(SessionsRun(EnginePath("data_dependent", major), {"--shapes", "in0=1x4,4x4,2x4"}));
    ASSERT_EQ(j["rows"].size(), 3u) << j.dump(2);
    for (size_t row = 0; row < 3; ++row) {
      const int rows = row == 0 ? 1 : row == 1 ? 4 : 2;
      const nlohmann::json& out0 = j["rows"][row]["outputs"][0];
      EXPECT_EQ(out0["shape"], std::vector<size_t>{KeptAboveZero(RandomIn0(rows)).size()}) << row;
      EXPECT_EQ(out0["bound_bytes"], rows * 4 * sizeof(float)) << row;
    }
  }
}

// --compare at the real shape: against references computed here, and against a wrong-shaped one.
TEST(DataDependentOutputs, CompareAtTheRealShape) {
  const std::vector<float> in0 = {0.5f, -1, 2, -3, 4, 0, -6, 7};
  for (int major : kMajors) {
    SCOPED_TRACE("TensorRT " + std::to_string(major));
    TempDir inputs, refs;
    WriteArray(inputs.File("in0.npy"), "<f4", {2, 4}, in0);
    const std::vector<std::string> args =
        SessionsRun(EnginePath("data_dependent", major),
                    {"--input", "in0=" + inputs.File("in0.npy"), "--compare", refs.path()});
    WriteArray(refs.File("out0.npy"), "<f4", {4}, KeptAboveZero(in0));
    WriteArray(refs.File("out1.npy"), "<f4", {2, 4}, Doubled(in0));
    const nlohmann::json j = RunJson(args);
    EXPECT_EQ(j["compare"]["passed"], true) << j.dump(2);
    EXPECT_EQ(j["compare"]["outputs"][0]["elements"], 4);
    WriteArray(refs.File("out0.npy"), "<f4", {5}, std::vector<float>{0.5f, 2, 4, 7, 0});
    ExpectFailure(
        args, kExitInput,
        "--compare: " + refs.File("out0.npy") + " has shape (5), output 'out0' of the last call has (4)");
  }
}

// ---------------------------------------------------------------------------------------------
// inspect, and the legacy interface's refusal.

TEST(ValueShapes, InspectMarksDataDependentOutputsAndShapeTensors) {
  for (int major : kMajors) {
    SCOPED_TRACE("TensorRT " + std::to_string(major));
    ToolResult r = RunTool({"inspect", EnginePath("data_dependent", major)});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(r.out.find("\n  profile 0   0  in0   input   float32  engine [-1,4]  min [1,4]   opt [2,4]   "
                         "max [4,4]\n  profile 0   1  out0  output  float32  engine [-1]    min [-1]    "
                         "opt [-1]    max [-1]  data-dependent: known once a call has run\n  profile 0   2  "
                         "out1  output  float32  engine [-1,4]  min [1,4]   opt [2,4]   max [4,4]\n"),
              std::string::npos)
        << r.out;
    const nlohmann::json j = RunJson({"inspect", EnginePath("data_dependent", major)});
    const nlohmann::json& bindings = j["engine"]["bindings"];
    EXPECT_EQ(bindings[1]["data_dependent"], true);
    EXPECT_FALSE(bindings[0].contains("data_dependent"));
    EXPECT_FALSE(bindings[2].contains("data_dependent"));
    const nlohmann::json& out0 = j["engine"]["profiles"][0]["bindings"][1];
    EXPECT_EQ(out0["data_dependent"], true);
    for (const char* point : {"min", "opt", "max"}) EXPECT_EQ(out0[point], std::vector<int>{-1}) << point;

    r = RunTool({"inspect", EnginePath("shape_tensor", major)});
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(
        r.out.find("\n  profile 0   1  shape    input   int32    engine [2]      min [2]      opt [2]      "
                   "max [2]  shape tensor: its values steer shapes\n"),
        std::string::npos)
        << r.out;
    EXPECT_NE(
        r.out.find("\n  profile 0   3  out0     output  float32  engine [-1,-1]  min [2,3]    opt [3,4]    "
                   "max [6,4]\n"),
        std::string::npos)
        << "steered by values, known at each point: not data-dependent\n"
        << r.out;
    EXPECT_EQ(
        RunJson({"inspect", EnginePath("shape_tensor", major)})["engine"]["bindings"][2]["shape_tensor"],
        true);
  }
}

TEST(ValueShapes, LegacyInterfaceRefusesByName) {
  for (int major : kMajors) {
    ExpectFailure({EnginePath("data_dependent", major), "--api", "legacy"}, kExitInput,
                  "output 'out0' is data-dependent (its extents are known once a call has run), which the "
                  "legacy kestrel_trt_* interface cannot serve: give --api sessions");
    ExpectFailure({EnginePath("shape_tensor", major)}, kExitInput,
                  "input 'shape' is a shape tensor (its values steer shapes), which the legacy kestrel_trt_* "
                  "interface cannot serve: give --api sessions");
  }
}

// ---------------------------------------------------------------------------------------------
// Shape tensors: values from files, or the profile's at the point of the run's shapes.

TEST(ShapeTensors, ValuesFromFilesReshapeTheOutputs) {
  const std::vector<float> in0 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  for (int major : kMajors) {
    SCOPED_TRACE("TensorRT " + std::to_string(major));
    TempDir dir;
    WriteArray(dir.File("in0.npy"), "<f4", {2, 6}, in0);
    WriteArray(dir.File("shape.npy"), "<i4", {2}, std::vector<int32_t>{4, 3});
    WriteArray(dir.File("shape64.npy"), "<i8", {2}, std::vector<int64_t>{2, 6});
    const std::vector<std::string> files = {"--input", "in0=" + dir.File("in0.npy"),
                                            "--input", "shape=" + dir.File("shape.npy"),
                                            "--input", "shape64=" + dir.File("shape64.npy")};
    std::vector<std::string> more = files;
    more.insert(more.end(), {"--save-outputs", dir.path()});
    const nlohmann::json j = RunJson(SessionsRun(EnginePath("shape_tensor", major), more));
    EXPECT_EQ(j["run"]["batch"], 2);
    EXPECT_EQ(j["outputs"][0]["shape"], (std::vector<int>{4, 3}));
    EXPECT_EQ(j["outputs"][1]["shape"], (std::vector<int>{2, 6}));
    const NpyArray out0 = ReadNpy(dir.File("out0.npy"));
    EXPECT_EQ(out0.shape, (std::vector<size_t>{4, 3}));
    EXPECT_EQ(Floats(out0.data), in0);
    // Values outside the profile's range ([2,3] to [6,4]) are the library's to refuse.
    WriteArray(dir.File("shape.npy"), "<i4", {2}, std::vector<int32_t>{12, 1});
    ExpectFailure(
        SessionsRun(EnginePath("shape_tensor", major), files), kExitRejected,
        "the library refused warm-up call 1 of session 0 (profile 0, batch 2) (inferlet_session_run): "
        "INFERLET_SHAPE_OUT_OF_PROFILE: input 'shape' values [12, 1] are outside the range of profile 0: "
        "[2, 3] to [6, 4]");
  }
}

// Without files, the profile's values at the point whose shapes the made-up in0 has: the largest batch by
// default (max), --batch 1 (min) and 2 (opt), each --shapes row its own; both outputs hold in0 as made up,
// at the shapes of those values ([2,3] [6,4] opt [3,4] for shape, [1,6] [2,6] [4,6] for shape64).
struct ProfileValuesRun {
  const char* what;
  std::vector<std::string> flags;
  int rows;
  std::vector<int> out0, out1;
  const char* point;
};

const ProfileValuesRun kProfileValuesRuns[] = {
    {"the largest batch", {}, 4, {6, 4}, {4, 6}, "max"},
    {"--batch 1", {"--batch", "1"}, 1, {2, 3}, {1, 6}, "min"},
    {"--batch 2", {"--batch", "2"}, 2, {3, 4}, {2, 6}, "opt"},
};

// in0 as the tool makes it up, for `rows` rows of 6.
std::vector<float> RandomRowsOf6(int rows) {
  return Floats(MakeInputData(TestType(0), true, static_cast<size_t>(rows) * 6 * sizeof(float),
                              FillMode::kRandom, 1, "in0"));
}

TEST(ShapeTensors, ValuesOfTheProfilePointTheOtherInputsAreAt) {
  for (int major : kMajors) {
    for (const ProfileValuesRun& run : kProfileValuesRuns) {
      SCOPED_TRACE(std::string(run.what) + " on TensorRT " + std::to_string(major));
      TempDir dir;
      std::vector<std::string> more = run.flags;
      more.insert(more.end(), {"--save-outputs", dir.path()});
      const nlohmann::json j = RunJson(SessionsRun(EnginePath("shape_tensor", major), more));
      EXPECT_EQ(j["run"]["batch"], run.rows) << j.dump(2);
      const std::string source = std::string("profile 0 ") + run.point + " values";
      EXPECT_EQ(j["run"]["inputs"], (std::vector<std::string>{"random (seed 1)", source, source}));
      EXPECT_EQ(j["outputs"][0]["shape"], run.out0);
      EXPECT_EQ(j["outputs"][1]["shape"], run.out1);
      const std::vector<float> in0 = RandomRowsOf6(run.rows);
      for (const char* out : {"out0", "out1"}) {
        const NpyArray saved = ReadNpy(dir.File(std::string(out) + ".npy"));
        const std::vector<int>& shape = out[3] == '0' ? run.out0 : run.out1;
        EXPECT_EQ(saved.shape, std::vector<size_t>(shape.begin(), shape.end())) << out;
        EXPECT_EQ(Floats(saved.data), in0) << out;
      }
    }
    const ToolResult r = RunTool(SessionsRun(EnginePath("shape_tensor", major), {"--batch", "2"}));
    ASSERT_EQ(r.exit_code, 0) << Describe(r);
    EXPECT_NE(r.out.find(", inputs: in0 = random (seed 1), shape = profile 0 opt values, shape64 = profile 0 "
                         "opt values\n"),
              std::string::npos)
        << r.out;
  }
}

TEST(ShapeTensors, ShapeRowsTakeTheValuesOfTheirOwnPoint) {
  for (int major : kMajors) {
    SCOPED_TRACE("TensorRT " + std::to_string(major));
    const nlohmann::json j =
        RunJson(SessionsRun(EnginePath("shape_tensor", major), {"--shapes", "in0=1x6,4x6,2x6"}));
    ASSERT_EQ(j["rows"].size(), 3u) << j.dump(2);
    const std::vector<int> out0[] = {{2, 3}, {6, 4}, {3, 4}}, out1[] = {{1, 6}, {4, 6}, {2, 6}};
    for (size_t row = 0; row < 3; ++row) {
      EXPECT_EQ(j["rows"][row]["outputs"][0]["shape"], out0[row]) << row;
      EXPECT_EQ(j["rows"][row]["outputs"][1]["shape"], out1[row]) << row;
    }
  }
}

// Inputs at no point of the profile: refused before anything runs, naming their shapes.
TEST(ShapeTensors, RefusedWhereTheOtherInputsAreAtNoPoint) {
  const std::string refusal =
      "input 'shape' is a shape tensor: inferlet-run gives it profile 0's values at the point (min, opt or "
      "max) whose shapes the other inputs have, and at the run's shapes (in0 [3,6]) they are at none; give "
      "its values with --input shape=FILE.npy";
  for (int major : kMajors) {
    ExpectFailure(SessionsRun(EnginePath("shape_tensor", major), {"--batch", "3"}), kExitUsage, refusal);
    ExpectFailure(SessionsRun(EnginePath("shape_tensor", major), {"--shapes", "in0=1x6,3x6"}), kExitUsage,
                  refusal);
  }
}

}  // namespace
}  // namespace inferlet_run
