#include "sessions_backend.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>

#include "exit_codes.h"
#include "session_profiles.h"

namespace inferlet_run {

namespace {

using inferlet_loader::SessionsLibrary;

void PrintLine(void*, inferlet_log_level level, const char* message) {
  const char letter = level == INFERLET_LOG_ERROR     ? 'E'
                      : level == INFERLET_LOG_WARNING ? 'W'
                      : level == INFERLET_LOG_INFO    ? 'I'
                                                      : 'V';
  std::printf("[inferlet_sessions][%c] %s\n", letter, message);
}

char no_bytes = 0;

ToolError Refused(const std::string& what, const std::string& status) {
  return ToolError{kExitRejected, fmt::format("the library refused {}: {}", what, status)};
}

inferlet_shape ToShape(const std::vector<int>& dims) {
  inferlet_shape shape{};
  shape.rank = static_cast<int32_t>(std::min<size_t>(dims.size(), INFERLET_MAX_DIMS));
  for (int k = 0; k < shape.rank; ++k) shape.dims[k] = dims[static_cast<size_t>(k)];
  return shape;
}

// While it lives, the library's messages are lines on standard output ("[inferlet_sessions][I] ...",
// info and above), so that --quiet and --json treat them as a deliverable's own lines.
class SessionsLog {
 public:
  explicit SessionsLog(const SessionsLibrary& lib) : lib_(lib) {
    lib_.api().set_log(PrintLine, nullptr, INFERLET_LOG_INFO);
  }
  ~SessionsLog() { lib_.api().set_log(nullptr, nullptr, INFERLET_LOG_ERROR); }
  SessionsLog(const SessionsLog&) = delete;
  SessionsLog& operator=(const SessionsLog&) = delete;

 private:
  const SessionsLibrary& lib_;
};

class SessionsEngine {
 public:
  SessionsEngine(const SessionsLibrary& lib, const std::string& bytes, int device, bool allow_host_code)
      : lib_(lib) {
    inferlet_engine_config config;
    inferlet_engine_config_init(&config);
    config.device = device;
    config.allow_host_code = allow_host_code ? 1 : 0;
    const std::string status =
        lib_.Take(lib_.api().engine_load_with_config(bytes.data(), bytes.size(), &config, &engine_));
    if (!status.empty()) throw Refused("the engine (inferlet_engine_load_with_config)", status);
  }
  ~SessionsEngine() { lib_.api().engine_release(engine_); }
  SessionsEngine(const SessionsEngine&) = delete;
  SessionsEngine& operator=(const SessionsEngine&) = delete;

  inferlet_engine* get() const { return engine_; }
  // What the engine holds on the device, and what one execution context needs.
  void DeviceMemory(long long* engine_bytes, long long* context_bytes) const {
    size_t engine = 0, context = 0;
    if (lib_.Take(lib_.api().engine_device_memory(engine_, &engine, &context)).empty()) {
      *engine_bytes = static_cast<long long>(engine);
      *context_bytes = static_cast<long long>(context);
    }
  }

 private:
  const SessionsLibrary& lib_;
  inferlet_engine* engine_ = nullptr;
};

// A session on its profile that times its calls' phases, numbered `index` in messages; the inputs in
// host memory, read-only and shared, outputs of its own sized for the profile's largest shapes, a
// data-dependent one for the session's bound at the inputs' shapes.
class SessionLane : public Lane {
 public:
  SessionLane(const SessionsLibrary& lib, const SessionsEngine& engine, int index, int profile,
              const ProfileConfig& config, bool cuda_graphs);
  ~SessionLane() override { lib_.api().session_release(session_); }
  SessionLane(const SessionLane&) = delete;
  SessionLane& operator=(const SessionLane&) = delete;

  void SetInputs(const InputPlan& plan, const std::vector<std::vector<int>>& shapes) override;
  void Call(const char* phase, size_t n) override;
  inferlet_phase_times PhaseTimes() const override;
  const void* Output(size_t j) const override { return outputs_[j].data(); }
  int OutputBytes(size_t j) const override;
  std::vector<int> OutputShape(size_t j) const override;
  long long OutputBound(size_t j) const override { return bounds_[j]; }
  long long DeviceBytes() const override;
  int profile() const override { return profile_; }
  int batch() const override { return batch_; }

 private:
  const SessionsLibrary& lib_;
  const ProfileConfig& config_;
  int index_, profile_, batch_ = 0;
  inferlet_session* session_ = nullptr;
  std::vector<inferlet_tensor> inputs_, outputs_tensors_;
  std::vector<std::vector<unsigned char>> outputs_;
  std::vector<long long> bounds_;  // per output: its buffer's bytes where data-dependent, else -1

  void SizeDataDependentOutputs();
};

SessionLane::SessionLane(const SessionsLibrary& lib, const SessionsEngine& engine, int index, int profile,
                         const ProfileConfig& config, bool cuda_graphs)
    : lib_(lib), config_(config), index_(index), profile_(profile) {
  inferlet_session_config session_config;
  inferlet_session_config_init(&session_config);
  session_config.profile = profile;
  session_config.cuda_graphs = cuda_graphs ? 1 : 0;
  session_config.phase_timing = 1;
  const std::string status =
      lib_.Take(lib_.api().session_create_with_config(engine.get(), &session_config, &session_));
  if (!status.empty())
    throw Refused(fmt::format("session {} on profile {} (inferlet_session_create)", index, profile), status);
  for (const TensorConfig& t : config.outputs) {
    const long long bytes = t.BufferBytes();
    outputs_.emplace_back(static_cast<size_t>(std::max(bytes, 1LL)));
    outputs_tensors_.push_back(inferlet_tensor{
        t.name.c_str(), INFERLET_MEMORY_HOST, outputs_.back().data(), outputs_.back().size(), {}});
    bounds_.push_back(-1);
  }
}

// The library refuses a call whose buffer for a data-dependent output holds less than its bound at the
// call's input shapes, which only it knows: asked again whenever the inputs change.
void SessionLane::SizeDataDependentOutputs() {
  bool any = false;
  for (const TensorConfig& t : config_.outputs) any = any || t.data_dependent;
  if (!any) return;
  std::vector<inferlet_output_bound> bounds(outputs_tensors_.size());
  for (inferlet_output_bound& bound : bounds) inferlet_output_bound_init(&bound);
  const std::string status = lib_.Take(lib_.api().session_resolve_output_bounds(
      session_, inputs_.data(), inputs_.size(), outputs_tensors_.data(), outputs_tensors_.size(),
      bounds.data()));
  if (!status.empty())
    throw Refused(fmt::format("the output bounds of session {} (profile {}, batch {}) "
                              "(inferlet_session_resolve_output_bounds)",
                              index_, profile_, batch_),
                  status);
  for (size_t j = 0; j < bounds.size(); ++j) {
    if (!bounds[j].data_dependent) continue;
    outputs_[j].assign(static_cast<size_t>(std::max<uint64_t>(bounds[j].max_bytes, 1)), 0);
    outputs_tensors_[j].data = outputs_[j].data();
    outputs_tensors_[j].bytes = outputs_[j].size();
    bounds_[j] = static_cast<long long>(bounds[j].max_bytes);
  }
}

void SessionLane::SetInputs(const InputPlan& plan, const std::vector<std::vector<int>>& shapes) {
  inputs_.clear();
  batch_ = plan.batch;
  for (size_t i = 0; i < config_.inputs.size(); ++i) {
    const std::string& data = plan.data[i];
    // The library only reads inputs; the interface's one tensor type has a mutable pointer. An empty
    // input still needs data that is not null.
    void* bytes = data.empty() ? &no_bytes : const_cast<char*>(data.data());
    inputs_.push_back(inferlet_tensor{config_.inputs[i].name.c_str(), INFERLET_MEMORY_HOST, bytes,
                                      data.size(), ToShape(shapes[i])});
  }
  SizeDataDependentOutputs();
}

void SessionLane::Call(const char* phase, size_t n) {
  const std::string status = lib_.Take(lib_.api().session_run(
      session_, inputs_.data(), inputs_.size(), outputs_tensors_.data(), outputs_tensors_.size()));
  if (!status.empty())
    throw Refused(fmt::format("{} call {} of session {} (profile {}, batch {}) (inferlet_session_run)", phase,
                              n, index_, profile_, batch_),
                  status);
}

inferlet_phase_times SessionLane::PhaseTimes() const {
  inferlet_phase_times times{};
  const std::string status = lib_.Take(lib_.api().session_phase_times(session_, &times));
  if (!status.empty())
    throw Refused(fmt::format("the phase times of session {} (inferlet_session_phase_times)", index_),
                  status);
  return times;
}

long long SessionLane::DeviceBytes() const {
  size_t bytes = 0;
  return lib_.Take(lib_.api().session_device_memory(session_, &bytes)).empty() ? static_cast<long long>(bytes)
                                                                               : -1;
}

int SessionLane::OutputBytes(size_t j) const {
  long long bytes = config_.outputs[j].item_size;
  for (int d : OutputShape(j)) bytes *= d;
  return static_cast<int>(bytes);
}

std::vector<int> SessionLane::OutputShape(size_t j) const {
  const inferlet_shape& shape = outputs_tensors_[j].shape;
  std::vector<int> dims;
  for (int k = 0; k < shape.rank; ++k) dims.push_back(static_cast<int>(shape.dims[k]));
  return dims;
}

// The shapes of a lane's calls: every input at its configured shape, at the plan's batch; a shape
// tensor at its own.
std::vector<std::vector<int>> CallShapes(const ProfileConfig& profile, const InputPlan& plan) {
  std::vector<std::vector<int>> shapes;
  for (size_t i = 0; i < profile.inputs.size(); ++i) {
    if (profile.inputs[i].shape_tensor) {
      shapes.push_back(plan.own_shapes[i]);
      continue;
    }
    shapes.push_back(profile.inputs[i].shape);
    if (!shapes.back().empty()) shapes.back()[0] = plan.batch;
  }
  return shapes;
}

class SessionsBackend : public Backend {
 public:
  SessionsBackend(const SessionsLibrary& lib, const std::string& engine_bytes, const Options& o,
                  const ModelConfig& config)
      : lib_(lib), engine_bytes_(engine_bytes), options_(o), config_(config) {}

  bool Sessions() const override { return true; }
  std::vector<int> LaneProfiles(const Options& o, const EngineDesc& engine) const override {
    return SessionProfiles(o, engine);
  }
  void CheckRows(const std::vector<ShapeRow>&, const ProfileConfig&) const override {}
  std::vector<std::unique_ptr<Lane>> Start(const std::vector<int>& profiles,
                                           const std::vector<InputPlan>& inputs) override {
    log_ = std::make_unique<SessionsLog>(lib_);
    engine_ =
        std::make_unique<SessionsEngine>(lib_, engine_bytes_, options_.device, options_.allow_host_code);
    std::vector<std::unique_ptr<Lane>> lanes;
    for (size_t i = 0; i < profiles.size(); ++i) {
      const ProfileConfig& config = config_.profiles[static_cast<size_t>(profiles[i])];
      lanes.push_back(std::make_unique<SessionLane>(lib_, *engine_, static_cast<int>(i), profiles[i], config,
                                                    options_.cuda_graph));
      lanes.back()->SetInputs(inputs[i], CallShapes(config, inputs[i]));
    }
    return lanes;
  }
  void RecordDeviceMemory(RunReport& report) const override {
    engine_->DeviceMemory(&report.engine_bytes, &report.context_bytes);
  }

 private:
  const SessionsLibrary& lib_;
  const std::string& engine_bytes_;
  const Options& options_;
  const ModelConfig& config_;
  std::unique_ptr<SessionsLog> log_;  // declared first: the library's lines are printed to the end
  std::unique_ptr<SessionsEngine> engine_;
};

}  // namespace

std::unique_ptr<Backend> MakeSessionsBackend(const SessionsLibrary& lib, const std::string& engine_bytes,
                                             const Options& options, const ModelConfig& config) {
  return std::make_unique<SessionsBackend>(lib, engine_bytes, options, config);
}

}  // namespace inferlet_run
