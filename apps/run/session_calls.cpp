#include "session_calls.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

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

}  // namespace

SessionsLog::SessionsLog(const inferlet_loader::SessionsLibrary& lib) : lib_(lib) {
  lib_.api().set_log(PrintLine, nullptr, INFERLET_LOG_INFO);
}

SessionsLog::~SessionsLog() { lib_.api().set_log(nullptr, nullptr, INFERLET_LOG_ERROR); }

SessionsEngine::SessionsEngine(const inferlet_loader::SessionsLibrary& lib, const std::string& bytes,
                               int device)
    : lib_(lib) {
  const std::string status = lib_.Take(lib_.api().engine_load(bytes.data(), bytes.size(), device, &engine_));
  if (!status.empty()) throw Refused("the engine (inferlet_engine_load)", status);
}

SessionsEngine::~SessionsEngine() { lib_.api().engine_release(engine_); }

void SessionsEngine::DeviceMemory(long long* engine_bytes, long long* context_bytes) const {
  size_t engine = 0, context = 0;
  if (lib_.Take(lib_.api().engine_device_memory(engine_, &engine, &context)).empty()) {
    *engine_bytes = static_cast<long long>(engine);
    *context_bytes = static_cast<long long>(context);
  }
}

SessionCalls::SessionCalls(const inferlet_loader::SessionsLibrary& lib, const SessionsEngine& engine,
                           int index, int profile, const ProfileConfig& config, bool cuda_graphs)
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
  }
}

SessionCalls::~SessionCalls() { lib_.api().session_release(session_); }

void SessionCalls::SetInputs(const InputPlan& plan, const std::vector<std::vector<int>>& shapes) {
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
}

void SessionCalls::Call(const char* phase, size_t n) {
  const std::string status = lib_.Take(lib_.api().session_run(
      session_, inputs_.data(), inputs_.size(), outputs_tensors_.data(), outputs_tensors_.size()));
  if (!status.empty())
    throw Refused(fmt::format("{} call {} of session {} (profile {}, batch {}) (inferlet_session_run)", phase,
                              n, index_, profile_, batch_),
                  status);
}

inferlet_phase_times SessionCalls::PhaseTimes() const {
  inferlet_phase_times times{};
  const std::string status = lib_.Take(lib_.api().session_phase_times(session_, &times));
  if (!status.empty())
    throw Refused(fmt::format("the phase times of session {} (inferlet_session_phase_times)", index_),
                  status);
  return times;
}

long long SessionCalls::DeviceBytes() const {
  size_t bytes = 0;
  return lib_.Take(lib_.api().session_device_memory(session_, &bytes)).empty() ? static_cast<long long>(bytes)
                                                                               : -1;
}

int SessionCalls::OutputBytes(size_t j) const {
  long long bytes = config_.outputs[j].item_size;
  for (int d : OutputShape(j)) bytes *= d;
  return static_cast<int>(bytes);
}

std::vector<int> SessionCalls::OutputShape(size_t j) const {
  const inferlet_shape& shape = outputs_tensors_[j].shape;
  std::vector<int> dims;
  for (int k = 0; k < shape.rank; ++k) dims.push_back(static_cast<int>(shape.dims[k]));
  return dims;
}

}  // namespace inferlet_run
