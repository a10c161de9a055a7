// The sample engines of the TensorRT stand-in and the configurations that match them: what the tests,
// the fuzz targets and the benchmarks hand to kestrel_trt_new. Needs neither GoogleTest nor the
// emulated device.
#ifndef INFERLET_SUPPORT_SAMPLES_H_
#define INFERLET_SUPPORT_SAMPLES_H_

#include <string>
#include <vector>

namespace inferlet_test {

using ShapeList = std::vector<std::vector<std::vector<int>>>;  // per profile, per tensor, dimensions
using ItemSizeList = std::vector<std::vector<int>>;            // per profile, per tensor, element bytes

// The four configuration lists a host hands to kestrel_trt_new.
struct ModelConfig {
  ShapeList in_shapes;
  ItemSizeList in_item_sizes;
  ShapeList out_shapes;
  ItemSizeList out_item_sizes;

  bool operator==(const ModelConfig& other) const;
  bool operator!=(const ModelConfig& other) const { return !(*this == other); }
};

// Configurations that match the sample engines.
ModelConfig SmokeConfig();        // in0, in1 [10, 340] -> out0 [10, 338], float
ModelConfig TwoProfilesConfig();  // profile 0: batch 4, profile 1: batch 16; in0, in1, out0 [B, 4, 8]
ModelConfig MixedRankConfig();    // in0 [8, 8], in1 [8, 4, 8] -> out0 [8, 8], out1 [8, 4, 8]
ModelConfig MlpConfig();          // x [32, 16] -> y [32, 4]
// x [1, k] -> y [1, k], float: the engines of one dense layer of k * k weights the benchmarks build.
ModelConfig SquareDenseConfig(int k);

// Largest batch of a profile: the first dimension of its first input.
int MaxBatch(const ModelConfig& config, int profile);
int ProfileCount(const ModelConfig& config);

constexpr const char* kSampleNames[] = {"smoke", "two_profiles", "mixed_rank", "mlp"};

// A sample engine with the configuration that matches it.
struct SampleModel {
  std::string name;
  ModelConfig config;
  std::string engine;  // serialized bytes
};

// One of kSampleNames; throws std::invalid_argument for any other name.
ModelConfig SampleConfig(const std::string& name);
// SampleConfig(name) and the engine file for this build's TensorRT major.
SampleModel LoadSample(const std::string& name);

// Path of a sample engine built for this build's TensorRT major, e.g. EnginePath("smoke").
std::string EnginePath(const std::string& name);
std::string ReadFile(const std::string& path);    // throws std::runtime_error when it cannot
std::string ReadEngine(const std::string& name);  // ReadFile(EnginePath(name))

}  // namespace inferlet_test

#endif  // INFERLET_SUPPORT_SAMPLES_H_
