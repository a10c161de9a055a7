#include "samples.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace inferlet_test {

bool ModelConfig::operator==(const ModelConfig& other) const {
  return in_shapes == other.in_shapes && in_item_sizes == other.in_item_sizes &&
         out_shapes == other.out_shapes && out_item_sizes == other.out_item_sizes;
}

ModelConfig SmokeConfig() { return {{{{10, 340}, {10, 340}}}, {{4, 4}}, {{{10, 338}}}, {{4}}}; }

ModelConfig TwoProfilesConfig() {
  return {{{{4, 4, 8}, {4, 4, 8}}, {{16, 4, 8}, {16, 4, 8}}},
          {{4, 4}, {4, 4}},
          {{{4, 4, 8}}, {{16, 4, 8}}},
          {{4}, {4}}};
}

ModelConfig MixedRankConfig() { return {{{{8, 8}, {8, 4, 8}}}, {{4, 4}}, {{{8, 8}, {8, 4, 8}}}, {{4, 4}}}; }

ModelConfig MlpConfig() { return {{{{32, 16}}}, {{4}}, {{{32, 4}}}, {{4}}}; }

ModelConfig SquareDenseConfig(int k) { return {{{{1, k}}}, {{4}}, {{{1, k}}}, {{4}}}; }

int MaxBatch(const ModelConfig& config, int profile) {
  return config.in_shapes.at(static_cast<size_t>(profile)).at(0).at(0);
}

int ProfileCount(const ModelConfig& config) { return static_cast<int>(config.in_shapes.size()); }

ModelConfig SampleConfig(const std::string& name) {
  if (name == "smoke") return SmokeConfig();
  if (name == "two_profiles") return TwoProfilesConfig();
  if (name == "mixed_rank") return MixedRankConfig();
  if (name == "mlp") return MlpConfig();
  throw std::invalid_argument("no sample engine " + name);
}

SampleModel LoadSample(const std::string& name) { return {name, SampleConfig(name), ReadEngine(name)}; }

std::string EnginePath(const std::string& name) {
  return std::string(INFERLET_ENGINE_DIR) + "/" + name + "-trt" + std::to_string(INFERLET_TRT_MAJOR) +
         ".engine";
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot open " + path);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string ReadEngine(const std::string& name) { return ReadFile(EnginePath(name)); }

}  // namespace inferlet_test
