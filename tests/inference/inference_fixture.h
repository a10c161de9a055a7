// Shared ground for the inference tests: quiet handles on the sample engines, one helper per
// kestrel_trt_process call that records what the call returned and printed, and checks that every
// case leaves the device clean. The library's own copies in the emulated device's trace are found
// through inference_trace.h.
#ifndef INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_
#define INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_

#include <string>
#include <vector>

#include "test_support.h"

namespace inferlet_test {

using Tensor = std::vector<float>;

// What one kestrel_trt_process call returned and wrote to standard output.
struct CallOutcome {
  static constexpr int kSlots = 8;  // more than any sample engine has outputs
  int code = 0;
  std::vector<void*> outputs = std::vector<void*>(kSlots, nullptr);
  std::vector<int> lens = std::vector<int>(kSlots, -1);
  std::vector<std::string> lines;

  Tensor Output(size_t j) const;            // the lens[j] bytes at outputs[j], as floats
  std::string OutputBytes(size_t j) const;  // the same bytes, raw
};

class InferenceTest : public FreshPlatformTest {
 protected:
  void TearDown() override;

  // kestrel_trt_new on a sample engine; records a failure (with what construction printed) and returns
  // null when the handle is refused. The handle is quiet: its teardown lines stay out of the test log.
  Handle Open(const std::string& engine, const ModelConfig& config, bool use_cuda_graph = false);

  // kestrel_trt_process with one host buffer per entry of inputs; input_num defaults to their count.
  CallOutcome Process(trt_engine_core* handle, int profile, const std::vector<Tensor>& inputs, int batch_size,
                      int input_num = -1);
};

// Deterministic test data of both signs, different for every seed (defined with the reference nets,
// which the sessions tests share).
Tensor Pattern(size_t count, int seed);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_
