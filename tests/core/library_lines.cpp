#include "library_lines.h"

namespace inferlet_test {

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
      "setOptimizationProfileAsync",
      "setInputShape",
      "inferShapes",
      "setTensorAddress",
      "enqueueV3",
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

}  // namespace inferlet_test
