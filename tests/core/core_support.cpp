#include "core_support.h"

namespace inferlet_core_test {

std::vector<std::string> CapturedLines(const std::function<void()>& body) {
  inferlet_test::StdoutCapture capture;
  body();
  return inferlet_test::SplitLines(capture.Stop());
}

trt_engine_core* UntouchedHandle() {
  static char marker;
  return reinterpret_cast<trt_engine_core*>(&marker);
}

NewOutcome CallNew(const std::string& engine, const ModelConfig& config, int device_id, bool use_cuda_graph) {
  ModelConfig copy = config;
  NewOutcome outcome;
  outcome.handle = UntouchedHandle();
  outcome.lines = CapturedLines([&] {
    outcome.rc = kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), device_id, use_cuda_graph,
                                 copy.in_shapes, copy.in_item_sizes, copy.out_shapes, copy.out_item_sizes,
                                 &outcome.handle);
  });
  return outcome;
}

std::vector<std::string> DeleteHandle(trt_engine_core* handle) {
  return CapturedLines([&] { kestrel_trt_delete(handle); });
}

// TensorRT names the operation that reports, e.g. "deserializeCudaEngine: checksum mismatch"; none of
// the library's own messages starts that way.
std::vector<std::string> LibraryLines(const std::vector<std::string>& lines) {
  static const char* const kTensorRtOperations[] = {
      "initLibNvInferPlugins",
      "createInferRuntime",
      "deserializeCudaEngine",
      "createExecutionContext",
      "setOptimizationProfile",
      "setBindingDimensions",
      "enqueueV2",
  };
  auto from_tensorrt = [](const std::string& line) {
    static const std::string kTag = "[inferlet][";
    if (line.compare(0, kTag.size(), kTag) != 0 || line.size() < kTag.size() + 3) return false;
    const std::string message = line.substr(kTag.size() + 3);  // after "X] "
    for (const char* operation : kTensorRtOperations) {
      const std::string lead = std::string(operation) + ":";
      if (message.compare(0, lead.size(), lead) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    if (!from_tensorrt(line)) kept.push_back(line);
  }
  return kept;
}

}  // namespace inferlet_core_test
