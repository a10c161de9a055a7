#include "reliability_support.h"

#include <stdexcept>

namespace inferlet_test {

SampleModel LoadSample(const std::string& name) {
  SampleModel model;
  model.name = name;
  if (name == "smoke") {
    model.config = SmokeConfig();
  } else if (name == "two_profiles") {
    model.config = TwoProfilesConfig();
  } else if (name == "mixed_rank") {
    model.config = MixedRankConfig();
  } else if (name == "mlp") {
    model.config = MlpConfig();
  } else {
    throw std::invalid_argument("no sample engine " + name);
  }
  model.engine = ReadEngine(name);
  return model;
}

Handle NewHandle(const SampleModel& model, bool use_cuda_graph) {
  ModelConfig config = model.config;
  trt_engine_core* handle = nullptr;
  const int code = kestrel_trt_new(model.engine.data(), static_cast<int>(model.engine.size()), 0,
                                   use_cuda_graph, config.in_shapes, config.in_item_sizes, config.out_shapes,
                                   config.out_item_sizes, &handle);
  return Handle(code == 0 ? handle : nullptr);
}

CallInputs::CallInputs(const ModelConfig& config, int profile, int batch_size, uint32_t seed) {
  uint32_t state = seed * 2654435761u + 12345u;
  for (const std::vector<int>& shape : config.in_shapes.at(static_cast<size_t>(profile))) {
    size_t per_sample = 1;
    for (size_t d = 1; d < shape.size(); ++d) per_sample *= static_cast<size_t>(shape[d]);
    std::vector<float> values(per_sample * static_cast<size_t>(batch_size > 0 ? batch_size : 0));
    for (float& value : values) {
      state = state * 1664525u + 1013904223u;
      value = static_cast<float>(static_cast<int>(state >> 20) - 2048) / 512.0f;  // [-4, 4), exact in float
    }
    buffers_.push_back(std::move(values));
  }
  for (const std::vector<float>& values : buffers_) pointers_.push_back(values.data());
}

CallResult Call(trt_engine_core* handle, const ModelConfig& config, int profile, int batch_size,
                uint32_t seed, int input_num_delta) {
  const CallInputs inputs(config, profile, batch_size, seed);
  const size_t n_out = config.out_shapes.at(static_cast<size_t>(profile)).size();
  std::vector<void*> outputs(n_out, nullptr);
  std::vector<int> output_lens(n_out, 0);
  CallResult result;
  result.code = kestrel_trt_process(handle, profile, inputs.pointers(), inputs.count() + input_num_delta,
                                    batch_size, outputs.data(), output_lens.data());
  if (result.code == 0) {
    for (size_t j = 0; j < n_out; ++j) {
      result.outputs.emplace_back(static_cast<const char*>(outputs[j]), static_cast<size_t>(output_lens[j]));
    }
  }
  return result;
}

uint64_t Fingerprint(const CallResult& result) {
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&hash](unsigned char byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (const std::string& output : result.outputs) {
    for (int shift = 0; shift < 64; shift += 8) mix(static_cast<unsigned char>(output.size() >> shift));
    for (char byte : output) mix(static_cast<unsigned char>(byte));
  }
  return hash;
}

int MaxBatch(const ModelConfig& config, int profile) {
  return config.in_shapes.at(static_cast<size_t>(profile)).at(0).at(0);
}

int ProfileCount(const ModelConfig& config) { return static_cast<int>(config.in_shapes.size()); }

}  // namespace inferlet_test
