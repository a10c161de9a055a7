// The device memory an engine reports for its execution contexts (activation memory).
#include "engine.h"

namespace trt_standin {

// Placeholder: the stand-in's networks take no device memory yet.
#if NV_TENSORRT_MAJOR >= 10

int64_t Engine::getDeviceMemorySizeV2() const noexcept { return 0; }

int64_t Engine::getDeviceMemorySizeForProfileV2(int32_t profileIndex) const noexcept {
  return profileIndex >= 0 && profileIndex < getNbOptimizationProfiles() ? 0 : -1;
}

#else

std::size_t Engine::getDeviceMemorySize() const noexcept { return 0; }

#endif

}  // namespace trt_standin
