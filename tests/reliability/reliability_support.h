// Helpers of the reliability suites: owned handles on the sample engines and deterministic call
// inputs. The emulated device's resource counts are in device_counts.h.
#ifndef INFERLET_TESTS_RELIABILITY_SUPPORT_H_
#define INFERLET_TESTS_RELIABILITY_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kestrel_trt.h"
#include "test_support.h"

namespace inferlet_test {

struct HandleCloser {
  void operator()(trt_engine_core* handle) const { kestrel_trt_delete(handle); }
};
using Handle = std::unique_ptr<trt_engine_core, HandleCloser>;

// A sample engine with the configuration that matches it.
struct SampleModel {
  std::string name;
  ModelConfig config;
  std::string engine;  // serialized bytes
};

// "smoke", "two_profiles", "mixed_rank" or "mlp"; reads the engine file for this binary's major.
SampleModel LoadSample(const std::string& name);

// kestrel_trt_new on device 0; null when it answers -1. The configuration is copied first, so the
// caller's stays untouched whatever the library does with it.
Handle NewHandle(const SampleModel& model, bool use_cuda_graph);

// Float inputs for one call, filled from a seed so that the same seed gives the same bytes.
class CallInputs {
 public:
  CallInputs(const ModelConfig& config, int profile, int batch_size, uint32_t seed);
  const void* const* pointers() const { return pointers_.data(); }
  int count() const { return static_cast<int>(pointers_.size()); }

 private:
  std::vector<std::vector<float>> buffers_;
  std::vector<const void*> pointers_;
};

struct CallResult {
  int code = -1;
  std::vector<std::string> outputs;  // the bytes of each output, as output_lens gave them
};

// One kestrel_trt_process with CallInputs(config, profile, batch_size, seed). input_num_delta shifts
// the input count given to the library (to provoke the input-count check) without touching the data.
CallResult Call(trt_engine_core* handle, const ModelConfig& config, int profile, int batch_size,
                uint32_t seed, int input_num_delta = 0);

// FNV-1a over every output of a result, lengths included.
uint64_t Fingerprint(const CallResult& result);

// Largest batch of a profile: the first dimension of its first input.
int MaxBatch(const ModelConfig& config, int profile);
int ProfileCount(const ModelConfig& config);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_RELIABILITY_SUPPORT_H_
