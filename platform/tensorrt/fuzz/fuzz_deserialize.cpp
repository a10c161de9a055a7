// libFuzzer target: IRuntime::deserializeCudaEngine on arbitrary bytes must answer an engine or null
// and never read outside the buffer.
//
// Each input is tried twice: as given, and with the header's size and checksum fields patched to
// match, so that mutations also reach the payload parser and the network checks behind the CRC.
#include <NvInfer.h>

#include <cstring>
#include <memory>
#include <vector>

#include "checksum.h"
#include "engine_format.h"

namespace {

class SilentLogger : public nvinfer1::ILogger {
 public:
  void log(Severity, const char*) noexcept override {}
};

struct RuntimeDeleter {
  void operator()(nvinfer1::IRuntime* r) const { delete r; }
};
struct EngineDeleter {
  void operator()(nvinfer1::ICudaEngine* e) const { delete e; }
};

void put_u32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void probe(nvinfer1::ICudaEngine& engine) {
  // Touch every answer so that a malformed network that slipped through shows up under ASan.
  const int32_t n = engine.getNbBindings();
  for (int32_t b = 0; b < n; ++b) {
    (void)engine.getBindingName(b);
    (void)engine.getBindingDimensions(b);
    (void)engine.getBindingFormat(b);
    (void)engine.getBindingFormatDesc(b);
    (void)engine.getBindingVectorizedDim(b);
    (void)engine.getBindingComponentsPerElement(b);
    (void)engine.getLocation(b);
    (void)engine.isExecutionBinding(b);
    for (int32_t p = 0; p < engine.getNbOptimizationProfiles(); ++p) {
      (void)engine.getProfileDimensions(b, p, nvinfer1::OptProfileSelector::kMAX);
    }
  }
}

void try_bytes(nvinfer1::IRuntime& runtime, const unsigned char* data, std::size_t size) {
  // A copy of exactly size bytes, so that ASan catches any read past the end.
  auto copy = std::make_unique<unsigned char[]>(size == 0 ? 1 : size);
  if (size != 0) std::memcpy(copy.get(), data, size);
  std::unique_ptr<nvinfer1::ICudaEngine, EngineDeleter> engine(
      runtime.deserializeCudaEngine(copy.get(), size));
  if (engine) probe(*engine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static SilentLogger logger;
  static std::unique_ptr<nvinfer1::IRuntime, RuntimeDeleter> runtime(nvinfer1::createInferRuntime(logger));

  try_bytes(*runtime, data, size);

  if (size >= trt_standin::kEngineHeaderSize) {
    std::vector<unsigned char> fixed(data, data + size);
    std::memcpy(fixed.data(), trt_standin::kEngineMagic, sizeof trt_standin::kEngineMagic);
    put_u32(fixed.data() + trt_standin::kOffsetFormatVersion, trt_standin::kEngineFormatVersion);
    put_u32(fixed.data() + trt_standin::kOffsetMajor, NV_TENSORRT_MAJOR);
    const std::size_t payload = size - trt_standin::kEngineHeaderSize;
    put_u32(fixed.data() + trt_standin::kOffsetPayloadSize, static_cast<uint32_t>(payload));
    put_u32(fixed.data() + trt_standin::kOffsetChecksum,
            trt_standin::crc32(fixed.data() + trt_standin::kEngineHeaderSize, payload));
    try_bytes(*runtime, fixed.data(), fixed.size());
  }
  return 0;
}
