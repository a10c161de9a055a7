// Any bytes as the engine of kestrel_trt_new, with the smoke engine's configuration. A handle that
// comes back must serve a call within its buffers and release everything when deleted; a refusal must
// leave *handle alone and hold nothing.
//
// Each input is tried as given and again with the stand-in engine header's payload size and CRC-32
// made to match, so that mutations reach the engines behind the checksum as well.
#include <NvInfer.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "kestrel_trt.h"
#include "trt_binding.h"

using inferlet_fuzz::CheckAllReleased;
using inferlet_fuzz::CheckNoViolations;
using inferlet_fuzz::Finding;
using inferlet_fuzz::ModelConfig;
using inferlet_fuzz::Sample;
using inferlet_fuzz::SilenceStdout;
using inferlet_fuzz::TensorBytes;

namespace {

constexpr int kSmoke = 0;

class SilentLogger : public nvinfer1::ILogger {
 public:
  void log(Severity, const char*) noexcept override {}
};

// An engine whose profiles allow tensors this large makes TensorRT take that much memory for its
// execution context: a valid request for memory, not a fault, so such inputs are skipped.
constexpr int64_t kMaxTensorElements = int64_t{4} << 20;

bool DeclaresHugeTensors(const uint8_t* data, size_t size) {
  static SilentLogger logger;
  const TrtUniquePtr<nvinfer1::IRuntime> runtime(nvinfer1::createInferRuntime(logger));
  if (!runtime) return false;
  const TrtUniquePtr<nvinfer1::ICudaEngine> engine(runtime->deserializeCudaEngine(data, size));
  if (!engine) return false;
  auto too_large = [](const trt_binding::Extents& dims) {
    int64_t elements = 1;
    for (int i = 0; i < dims.nbDims && i < 8; ++i) {
      elements *= dims.d[i] < 1 ? 1 : dims.d[i];
      if (elements > kMaxTensorElements) return true;
    }
    return false;
  };
  for (int b = 0; b < trt_binding::bindingCount(*engine); ++b) {
    const trt_binding::Binding binding = trt_binding::binding(*engine, b);
    if (too_large(trt_binding::bindingDimensions(*engine, binding))) return true;
    for (int p = 0; p < engine->getNbOptimizationProfiles(); ++p) {
      const trt_binding::Extents largest =
          trt_binding::profileDimensions(*engine, binding, p, nvinfer1::OptProfileSelector::kMAX);
      if (too_large(largest)) return true;
    }
  }
  return false;
}

void CallOnce(trt_engine_core* handle, const ModelConfig& config) {
  const int batch = config.in_shapes[0][0][0];
  std::vector<std::vector<char>> buffers;
  std::vector<const void*> inputs;
  for (const std::vector<int>& shape : config.in_shapes[0]) {
    buffers.emplace_back(static_cast<size_t>(TensorBytes(shape, 4)), 1);
  }
  for (const std::vector<char>& buffer : buffers) inputs.push_back(buffer.data());
  const size_t n_out = config.out_shapes[0].size();
  std::vector<void*> outputs(n_out, nullptr);
  std::vector<int> output_lens(n_out, -1);
  const int code = kestrel_trt_process(handle, 0, inputs.data(), static_cast<int>(inputs.size()), batch,
                                       outputs.data(), output_lens.data());
  if (code != 0 && code != -1) Finding("kestrel_trt_process answered " + std::to_string(code));
  if (code == 0) {
    for (size_t j = 0; j < n_out; ++j) {
      if (output_lens[j] != TensorBytes(config.out_shapes[0][j], 4))
        Finding("output length differs from its shape");
    }
  }
  CheckNoViolations();
}

void TryEngine(const uint8_t* data, size_t size) {
  if (DeclaresHugeTensors(data, size)) return;
  ModelConfig config = Sample(kSmoke).config;
  trt_engine_core* const untouched = reinterpret_cast<trt_engine_core*>(uintptr_t{0x1000});
  trt_engine_core* handle = untouched;
  const int code =
      kestrel_trt_new(reinterpret_cast<const char*>(data), static_cast<int>(size), 0, false, config.in_shapes,
                      config.in_item_sizes, config.out_shapes, config.out_item_sizes, &handle);
  if (code == 0) {
    if (handle == untouched || handle == nullptr) Finding("kestrel_trt_new answered 0 without a handle");
    CallOnce(handle, Sample(kSmoke).config);
    if (kestrel_trt_delete(handle) != 0) Finding("kestrel_trt_delete refused a live handle");
  } else if (code != -1) {
    Finding("kestrel_trt_new answered " + std::to_string(code));
  } else if (handle != untouched) {
    Finding("a refused kestrel_trt_new wrote *handle");
  }
  CheckAllReleased("kestrel_trt_delete");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceStdout();
  Sample(kSmoke);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > static_cast<size_t>(INT_MAX)) return 0;
  TryEngine(data, size);
  const std::vector<uint8_t> patched = inferlet_fuzz::WithHeaderFixed(data, size);
  if (!patched.empty()) TryEngine(patched.data(), patched.size());
  return 0;
}
