#include "inference_fixture.h"

#include <algorithm>
#include <cstring>

namespace inferlet_test {

Tensor CallOutcome::Output(size_t j) const {
  Tensor values(static_cast<size_t>(lens.at(j)) / sizeof(float));
  std::memcpy(values.data(), outputs.at(j), values.size() * sizeof(float));
  return values;
}

std::string CallOutcome::OutputBytes(size_t j) const {
  return std::string(static_cast<const char*>(outputs.at(j)), static_cast<size_t>(lens.at(j)));
}

void InferenceTest::TearDown() {
  // Every handle of the case is gone by now: nothing may be left on the device.
  ExpectDeviceClean();
  FreshPlatformTest::TearDown();
}

Handle InferenceTest::Open(const std::string& engine, const ModelConfig& config, bool use_cuda_graph) {
  const std::string bytes = ReadEngine(engine);
  StdoutCapture capture;
  Handle handle = NewHandle(bytes, config, use_cuda_graph);
  const std::string printed = capture.Stop();
  if (!handle) ADD_FAILURE() << "kestrel_trt_new refused " << engine << ":\n" << printed;
  handle.get_deleter().quiet = true;
  return handle;
}

CallOutcome InferenceTest::Process(trt_engine_core* handle, int profile, const std::vector<Tensor>& inputs,
                                   int batch_size, int input_num) {
  if (input_num < 0) input_num = static_cast<int>(inputs.size());
  // Sized for input_num too, so a call that reads more pointers than there are inputs stays in bounds.
  std::vector<const void*> pointers(std::max(inputs.size(), static_cast<size_t>(std::max(input_num, 0))),
                                    nullptr);
  for (size_t i = 0; i < inputs.size(); ++i) pointers[i] = inputs[i].data();
  CallOutcome outcome;
  StdoutCapture capture;
  outcome.code = kestrel_trt_process(handle, profile, pointers.data(), input_num, batch_size,
                                     outcome.outputs.data(), outcome.lens.data());
  outcome.lines = SplitLines(capture.Stop());
  return outcome;
}

}  // namespace inferlet_test
