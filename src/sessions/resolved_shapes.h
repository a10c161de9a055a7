// Every tensor's shape at each point (min, opt, max) of a profile, outputs as TensorRT infers them
// from the inputs' shapes there: what inferlet_engine_profile_resolved_shape answers. Worked out on the
// first question about a profile, with an execution context made for it and released before the
// answer, then kept with the engine.
#ifndef INFERLET_SESSIONS_RESOLVED_SHAPES_H_
#define INFERLET_SESSIONS_RESOLVED_SHAPES_H_

#include <array>
#include <mutex>
#include <vector>

#include "status.h"
#include "trt_binding.h"

namespace sessions {

class Engine;

class ResolvedShapes {
 public:
  explicit ResolvedShapes(int profiles) : mProfiles(static_cast<size_t>(profiles)) {}

  // The shape of tensor at point (0 min, 1 opt, 2 max) of profile, all three in range.
  Status at(Engine& engine, int profile, int tensor, int point, trt_binding::Extents* shape);

 private:
  using Points = std::array<std::vector<trt_binding::Extents>, 3>;  // per point, per tensor
  struct Profile {
    bool known = false;
    Points points;
  };
  static Status resolve(Engine& engine, int profile, Points* points);

  std::mutex mMutex;  // held while a profile is worked out: one context at a time
  std::vector<Profile> mProfiles;
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_RESOLVED_SHAPES_H_
