// What the run loop (run_loop.h) needs of the library that runs the engine, whichever interface it is:
// a deliverable's handle (legacy_backend.h) or the sessions library's sessions (sessions_backend.h).
#ifndef INFERLET_APPS_BACKEND_H_
#define INFERLET_APPS_BACKEND_H_

#include <cstddef>
#include <memory>
#include <vector>

#include "inferlet_sessions.h"
#include "input_plan.h"
#include "options.h"
#include "report_types.h"
#include "shape_sweep.h"

namespace inferlet_run {

// Where calls are made: the handle on the run's profile, or one session.
class Lane {
 public:
  virtual ~Lane() = default;

  // The inputs of every later call: plan.data[i] shaped shapes[i]; the plan must outlive the calls.
  virtual void SetInputs(const InputPlan& plan, const std::vector<std::vector<int>>& shapes) = 0;
  // One call; throws ToolError (rejected) naming the phase ("warm-up", "timed") and the call's number.
  virtual void Call(const char* phase, size_t n) = 0;
  // The phase times of the call just made; only where PhaseTimed.
  virtual inferlet_phase_times PhaseTimes() const = 0;
  // Of the last call: output j's data, its bytes and its shape (batch first).
  virtual const void* Output(size_t j) const = 0;
  virtual int OutputBytes(size_t j) const = 0;
  virtual std::vector<int> OutputShape(size_t j) const = 0;
  // The bytes output j's buffer holds where it is data-dependent (the library's bound at the inputs'
  // shapes); -1 otherwise.
  virtual long long OutputBound(size_t j) const = 0;

  // What the lane holds on the device, where the library tells; -1 otherwise.
  virtual long long DeviceBytes() const = 0;

  virtual int profile() const = 0;
  virtual int batch() const = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // The sessions interface: lanes are sessions, each driven by a thread of its own, with phase times,
  // device memory of its own and a --export-times record that names its session.
  virtual bool Sessions() const = 0;
  // One profile per lane; throws ToolError (usage) for a choice the engine cannot serve.
  virtual std::vector<int> LaneProfiles(const Options& o, const EngineDesc& engine) const = 0;
  // Throws ToolError (usage), before anything runs, for a --shapes row the interface cannot call.
  virtual void CheckRows(const std::vector<ShapeRow>& rows, const ProfileConfig& profile) const = 0;
  // Loads the engine and makes a lane per profile, each with its inputs; throws ToolError.
  virtual std::vector<std::unique_ptr<Lane>> Start(const std::vector<int>& profiles,
                                                   const std::vector<InputPlan>& inputs) = 0;
  // What the engine holds on the device and what one execution context needs, where the library tells.
  virtual void RecordDeviceMemory(RunReport& report) const = 0;
};

}  // namespace inferlet_run

#endif  // INFERLET_APPS_BACKEND_H_
