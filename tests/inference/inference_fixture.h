// Shared ground for the inference tests: sample-engine handles opened through the C interface, one
// helper per kestrel_trt_process call that records what the call returned and printed, and checks that
// every case leaves the emulated device clean.
#ifndef INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_
#define INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_

#include <cudaemu.h>

#include <memory>
#include <string>
#include <vector>

#include "engine_infer.h"
#include "kestrel_trt.h"
#include "test_support.h"

namespace inferlet_test {

// kestrel_trt_delete with its printed lines kept out of the test log.
struct HandleDeleter {
  void operator()(trt_engine_core* handle) const;
};
using Handle = std::unique_ptr<trt_engine_core, HandleDeleter>;

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
  // null when the handle is refused.
  Handle Open(const std::string& engine, const ModelConfig& config, bool use_cuda_graph = false);

  // kestrel_trt_process with one host buffer per entry of inputs; input_num defaults to their count.
  CallOutcome Process(trt_engine_core* handle, int profile, const std::vector<Tensor>& inputs, int batch_size,
                      int input_num = -1);
};

// Deterministic test data of both signs, different for every seed.
Tensor Pattern(size_t count, int seed);

// Trace entries of one CUDA runtime call, in call order, since the trace was last cleared.
std::vector<cudaemu_trace_entry> TraceOf(const std::string& api);
// Names of the traced calls that are among `apis`, in call order.
std::vector<std::string> TraceNames(const std::vector<std::string>& apis);

// TensorRT copies between the bindings and its own staging memory on the same stream; the library's
// copies are the ones into a profile's device inputs and out of its device outputs.
bool IsLibraryCopy(const cudaemu_trace_entry& entry, const S_net_info& rec);
std::vector<cudaemu_trace_entry> LibraryCopies(const S_net_info& rec);

// The library's CUDA work since the trace was cleared, as "H2D", "D2H" (its own copies), "sync" and
// the capture calls' names, in call order.
std::vector<std::string> LibraryCallSequence(const S_net_info& rec);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_INFERENCE_INFERENCE_FIXTURE_H_
