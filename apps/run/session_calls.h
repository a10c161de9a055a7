// The objects of the sessions library as a run holds them: the engine loaded once, and each session
// with the tensors of its calls (the inputs in host memory, read-only and shared; outputs of its own,
// sized for the profile's largest shapes). Every refusal becomes a ToolError (rejected) that quotes
// the library's status.
#ifndef INFERLET_APPS_SESSION_CALLS_H_
#define INFERLET_APPS_SESSION_CALLS_H_

#include <string>
#include <vector>

#include "input_plan.h"
#include "model_config.h"
#include "sessions_loader.h"

namespace inferlet_run {

// While it lives, the library's messages are lines on standard output ("[inferlet_sessions][I] ...",
// info and above), so that --quiet and --json treat them as a deliverable's own lines.
class SessionsLog {
 public:
  explicit SessionsLog(const inferlet_loader::SessionsLibrary& lib);
  ~SessionsLog();
  SessionsLog(const SessionsLog&) = delete;
  SessionsLog& operator=(const SessionsLog&) = delete;

 private:
  const inferlet_loader::SessionsLibrary& lib_;
};

class SessionsEngine {
 public:
  SessionsEngine(const inferlet_loader::SessionsLibrary& lib, const std::string& bytes, int device);
  ~SessionsEngine();
  SessionsEngine(const SessionsEngine&) = delete;
  SessionsEngine& operator=(const SessionsEngine&) = delete;

  inferlet_engine* get() const { return engine_; }
  // What the engine holds on the device, and what one execution context needs.
  void DeviceMemory(long long* engine_bytes, long long* context_bytes) const;

 private:
  const inferlet_loader::SessionsLibrary& lib_;
  inferlet_engine* engine_ = nullptr;
};

class SessionCalls {
 public:
  // A session on `profile` that times its calls' phases, numbered `index` in messages.
  SessionCalls(const inferlet_loader::SessionsLibrary& lib, const SessionsEngine& engine, int index,
               int profile, const ProfileConfig& config, bool cuda_graphs);
  ~SessionCalls();
  SessionCalls(const SessionCalls&) = delete;
  SessionCalls& operator=(const SessionCalls&) = delete;

  // The inputs of every later call: plan.data[i] shaped shapes[i]; the data must outlive the calls.
  void SetInputs(const InputPlan& plan, const std::vector<std::vector<int>>& shapes);
  // inferlet_session_run; throws ToolError (rejected) naming the phase and number.
  void Call(const char* phase, size_t n);
  // The phase times of the call just made.
  inferlet_phase_times PhaseTimes() const;
  long long DeviceBytes() const;

  int profile() const { return profile_; }
  int batch() const { return batch_; }
  // Of the last call: its data, its bytes and its shape as the library resolved it.
  const void* Output(size_t j) const { return outputs_[j].data(); }
  int OutputBytes(size_t j) const;
  std::vector<int> OutputShape(size_t j) const;

 private:
  const inferlet_loader::SessionsLibrary& lib_;
  const ProfileConfig& config_;
  int index_, profile_, batch_ = 0;
  inferlet_session* session_ = nullptr;
  std::vector<inferlet_tensor> inputs_, outputs_tensors_;
  std::vector<std::vector<unsigned char>> outputs_;
};

}  // namespace inferlet_run

#endif  // INFERLET_APPS_SESSION_CALLS_H_
