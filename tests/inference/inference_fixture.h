// Shared ground for the inference tests: quiet handles on the sample engines, one helper per
// kestrel_trt_process call that records what the call returned and printed, the library's own copies
// in the emulated device's trace, and checks that every case leaves the emulated device clean.
#ifndef INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_
#define INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_

#include <cudaemu.h>

#include <string>
#include <vector>

#include "engine_infer.h"
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

// Deterministic test data of both signs, different for every seed.
Tensor Pattern(size_t count, int seed);

// TensorRT copies between the bindings and its own staging memory on the same stream; the library's
// copies are the ones into a profile's device inputs and out of its device outputs.
bool IsLibraryCopy(const cudaemu_trace_entry& entry, const S_net_info& rec);
std::vector<cudaemu_trace_entry> LibraryCopies(const S_net_info& rec);

// The library's CUDA work since the trace was cleared, as "H2D", "D2H" (its own copies), "sync" and
// the capture calls' names, in call order.
std::vector<std::string> LibraryCallSequence(const S_net_info& rec);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_
