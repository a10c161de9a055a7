#include "session_options.h"

#include <cstddef>

#include "sized_struct.h"

namespace sessions {
namespace {

// Version 2's struct, which every host's config reaches.
constexpr size_t kConfigVersion2Size = offsetof(inferlet_session_config, phase_timing) + sizeof(int32_t);

}  // namespace

inferlet_session_config defaultConfig() {
  inferlet_session_config config;
  inferlet_session_config_init(&config);
  return config;
}

inferlet_session_options defaultOptions() {
  const inferlet_session_config config = defaultConfig();
  inferlet_session_options options;
  options.profile = config.profile;
  options.cuda_graphs = config.cuda_graphs;
  options.graph_cache_size = config.graph_cache_size;
  options.stream = config.stream;
  options.phase_timing = config.phase_timing;
  return options;
}

inferlet_session_config configOf(const inferlet_session_options* options) {
  inferlet_session_config config = defaultConfig();
  if (!options) return config;
  config.profile = options->profile;
  config.cuda_graphs = options->cuda_graphs;
  config.graph_cache_size = options->graph_cache_size;
  config.stream = options->stream;
  config.phase_timing = options->phase_timing;
  return config;
}

Status readConfig(const inferlet_session_config* host, inferlet_session_config* config) {
  *config = defaultConfig();
  if (!host) return Status();
  return readSized(*host, kConfigVersion2Size, "config", config);
}

}  // namespace sessions
