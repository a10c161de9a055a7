#include "engine_config.h"

#include <cstddef>
#include <string>
#include <utility>

#include "sized_struct.h"
#include "trt_binding.h"

namespace sessions {
namespace {

// Version 2's struct, which every host's config reaches.
constexpr size_t kEngineConfigVersion2Size =
    offsetof(inferlet_engine_config, allow_host_code) + sizeof(int32_t);

}  // namespace

inferlet_engine_config engineConfigOn(int device) {
  inferlet_engine_config config;
  inferlet_engine_config_init(&config);
  config.device = device;
  return config;
}

Status readEngineConfig(const inferlet_engine_config* host, inferlet_engine_config* config) {
  *config = engineConfigOn(0);
  if (!host) return Status();
  return readSized(*host, kEngineConfigVersion2Size, "config", config);
}

// TensorRT's refusal does not say why in a form to rely on, so the hint is conditional: it names the
// option wherever host code could be what TensorRT refused.
Status withHostCodeHint(Status refused, const inferlet_engine_config& config) {
  if (refused.code() != INFERLET_ENGINE_REFUSED || config.allow_host_code != 0 ||
      !trt_binding::enginesMayHoldHostCode()) {
    return refused;
  }
  return Status::failure(refused.code(), refused.message() +
                                             "; if it is a version-compatible engine, it holds host code: "
                                             "load it with allow_host_code set");
}

}  // namespace sessions
