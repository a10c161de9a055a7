// Engines of every data type the builder makes beyond the first five (TensorRT 10 and 11), one identity
// layer each, run by the tool on both interfaces: the made-up input comes back byte for byte, is
// saved as the table's .npy form, read back as an input and compared; the 4-bit types are refused
// before anything runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "exit_codes.h"
#include "npy.h"
#include "report.h"
#include "tensor_data.h"
#include "tool_process.h"

namespace inferlet_run {
namespace {

using inferlet_run_test::ExpectFailure;
using inferlet_run_test::RunJson;
using inferlet_run_test::TempDir;
using inferlet_run_test::TestType;

constexpr int kMajors[] = {INFERLET_DTYPES_MAJORS};

// x [-1, 4] -> identity -> y, batches 1 to 3, of the builder's type `dtype`.
std::string IdentityEngine(const TempDir& dir, const std::string& dtype, int major) {
  const std::string json = dir.File(dtype + ".json"), engine = dir.File(dtype + "-" + std::to_string(major));
  std::ofstream(json)
      << R"({"name": "identity", "inputs": [{"name": "x", "dtype": ")" << dtype
      << R"(", "dims": [-1, 4]}], "outputs": [{"name": "y", "dtype": ")" << dtype
      << R"(", "dims": [-1, 4]}], "layers": [{"op": "identity", "inputs": ["x"], "output": "y"}],
  "profiles": [{"x": {"min": [1, 4], "opt": [2, 4], "max": [3, 4]}}]})";
  const std::string command =
      std::string(INFERLET_TRTBUILD) + " --trt " + std::to_string(major) + " " + json + " -o " + engine;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return engine;
}

struct NewType {
  const char* builder_name;
  int value;  // TensorRT's DataType
};

constexpr NewType kServed[] = {{"uint8", 5}, {"fp8", 6}, {"bf16", 7}, {"int64", 8}, {"e8m0", 11}};

TEST(DataTypeEngines, EveryServedTypeRunsSavesReadsAndComparesOnBothInterfaces) {
  TempDir dir;
  for (int major : kMajors) {
    for (const NewType& type : kServed) {
      const DataType& t = TestType(type.value);
      const std::string engine = IdentityEngine(dir, type.builder_name, major);
      const std::string expected =
          MakeInputData(t, true, 2 * 4 * static_cast<size_t>(t.Size()), FillMode::kRandom, 3, "x");
      for (const char* api : {"legacy", "sessions"}) {
        SCOPED_TRACE(std::string(type.builder_name) + " on TensorRT " + std::to_string(major) + ", " + api);
        const std::string saved = dir.File(std::string("out-") + type.builder_name + api);
        const nlohmann::json j = RunJson({engine, "--api", api, "--batch", "2", "--seed", "3", "--iterations",
                                          "1", "--warmup", "0", "--save-outputs", saved});
        ASSERT_EQ(j["outputs"].size(), 1u) << j.dump(2);
        EXPECT_EQ(j["engine"]["bindings"][0]["dtype"], t.numpy_name);
        EXPECT_EQ(j["outputs"][0]["dtype"], t.numpy_name);
        EXPECT_EQ(j["outputs"][0]["bytes"], expected.size());
        EXPECT_EQ(j["outputs"][0]["fnv1a"], HexFnv(Fnv1a(expected.data(), expected.size())));
        const NpyArray out = ReadNpy(saved + "/y.npy");
        EXPECT_EQ(out.descr, t.npy_descr);
        EXPECT_EQ(out.shape, (std::vector<size_t>{2, 4}));
        EXPECT_EQ(out.data, expected) << "identity gives back the made-up input";
        // The saved output as the input, and as the reference of the same run.
        std::rename((saved + "/y.npy").c_str(), (saved + "/x.npy").c_str());
        const nlohmann::json again = RunJson({engine, "--api", api, "--input", "x=" + saved + "/x.npy",
                                              "--iterations", "1", "--warmup", "0", "--save-outputs", saved});
        EXPECT_EQ(again["run"]["inputs"][0], saved + "/x.npy");
        EXPECT_EQ(again["outputs"][0]["fnv1a"], j["outputs"][0]["fnv1a"]);
        const nlohmann::json compared = RunJson({engine, "--api", api, "--batch", "2", "--seed", "3",
                                                 "--iterations", "1", "--warmup", "0", "--compare", saved});
        EXPECT_EQ(compared["compare"]["passed"], true) << compared.dump(2);
        const nlohmann::json zeros =
            RunJson({engine, "--api", api, "--fill", "zeros", "--iterations", "1", "--warmup", "0"});
        EXPECT_EQ(zeros["outputs"][0]["sum"], type.value == 11 ? 3 * 4 * 0x1p-127 : 0.0)
            << "e8m0's zero byte is 2^-127";
      }
    }
  }
}

TEST(DataTypeEngines, FourBitTypesAreRefusedUpFrontOnBothInterfaces) {
  TempDir dir;
  for (int major : kMajors) {
    for (const auto& [builder_name, trt_name] : {std::pair{"int4", "kINT4"}, std::pair{"fp4", "kFP4"}}) {
      const std::string engine = IdentityEngine(dir, builder_name, major);
      for (const char* api : {"legacy", "sessions"})
        ExpectFailure({engine, "--api", api}, kExitInput,
                      std::string("input 'x' is of data type ") + trt_name +
                          ", which inferlet-run cannot fill or read");
    }
  }
}

}  // namespace
}  // namespace inferlet_run
