// The legacy interface as a backend of the run loop: one handle of a deliverable (kestrel_trt_new with
// the whole configuration), called on the run's profile with kestrel_trt_process.
#ifndef INFERLET_APPS_LEGACY_BACKEND_H_
#define INFERLET_APPS_LEGACY_BACKEND_H_

#include <memory>
#include <string>

#include "backend.h"
#include "deliverable.h"

namespace inferlet_run {

// kestrel_trt_init when it starts, kestrel_trt_uninit when it goes, the handle deleted before that.
// The library, the engine's bytes and the configuration must outlive it.
std::unique_ptr<Backend> MakeLegacyBackend(const Deliverable& lib, const std::string& engine_bytes,
                                           const Options& options, const ModelConfig& config);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_LEGACY_BACKEND_H_
