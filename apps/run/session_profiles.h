// Which optimization profile each session of --api sessions runs on. TensorRT requires execution
// contexts in concurrent use to have separate profiles when the engine has dynamic shapes, so there
// each session takes one of its own: --profiles, or --profile and the ones after it. A static engine
// serves any number of sessions on one profile.
#ifndef INFERLET_APPS_SESSION_PROFILES_H_
#define INFERLET_APPS_SESSION_PROFILES_H_

#include <vector>

#include "engine_desc.h"
#include "options.h"

namespace inferlet_run {

// Some binding of the engine has an extent a profile sets (-1).
bool HasDynamicShapes(const EngineDesc& engine);

// One profile per session (options.sessions of them). Throws ToolError (usage) for a profile the engine
// lacks, and on a dynamic-shape engine for more sessions than profiles or a profile given twice, with
// the reason.
std::vector<int> SessionProfiles(const Options& options, const EngineDesc& engine);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_SESSION_PROFILES_H_
