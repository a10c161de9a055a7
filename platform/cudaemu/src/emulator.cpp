#include "emulator.h"

#include <algorithm>
#include <new>

#include "errors.h"
#include "thread_state.h"

namespace cudaemu {

Emulator& Emulator::instance() {
  alignas(Emulator) static unsigned char storage[sizeof(Emulator)];
  static Emulator* emulator = ::new (storage) Emulator();
  return *emulator;
}

Emulator::Emulator() { apply(config_from_environment()); }

void Emulator::apply(const Config& config) {
  settings.device_count = config.device_count;
  settings.driver_present = config.driver_present;
  settings.memory_capacity = config.memory_capacity;
  settings.report_at_exit = config.report_at_exit;
  settings.strict = config.strict;
  set_device_count(config.device_count);
  for (const PlannedFault& fault : config.faults) accounting.inject(fault.api, fault.nth, fault.code);
}

void Emulator::set_device_count(int count) {
  settings.device_count = count < 0 ? 0 : count;
  // Default streams are kept for devices that went away so that stale handles stay harmless.
  while (legacy.size() < static_cast<std::size_t>(count))
    legacy.push_back(std::make_shared<Stream>(static_cast<int>(legacy.size()), StreamKind::Legacy));
  if (legacy.empty()) legacy.push_back(std::make_shared<Stream>(0, StreamKind::Legacy));
}

int Emulator::current_device() const {
  int device = this_thread().device;
  return device < settings.device_count.load() ? device : 0;
}

bool is_default_stream_handle(cudaStream_t handle) {
  return handle == nullptr || handle == cudaStreamLegacy || handle == cudaStreamPerThread;
}

std::shared_ptr<Stream> Emulator::find_stream(cudaStream_t handle) {
  if (is_default_stream_handle(handle)) return legacy[static_cast<std::size_t>(current_device())];
  auto it = streams.find(handle);
  return it == streams.end() ? nullptr : it->second;
}

void Emulator::note_violation(std::string what) {
  ++violations;
  last_violation = std::move(what);
}

void Emulator::note_fault(cudaError_t code) {
  if (!is_sticky_error(code)) return;
  int none = cudaSuccess;
  sticky.compare_exchange_strong(none, code);
}

std::vector<std::shared_ptr<Stream>> Emulator::all_streams() const {
  std::vector<std::shared_ptr<Stream>> all(legacy.begin(), legacy.end());
  for (const auto& entry : streams) all.push_back(entry.second);
  all.insert(all.end(), retired.begin(), retired.end());
  return all;
}

void Emulator::prune_retired() {
  retired.erase(std::remove_if(retired.begin(), retired.end(),
                               [](const std::shared_ptr<Stream>& s) { return s->queue.empty() && !s->busy; }),
                retired.end());
}

void Emulator::reset() {
  Lock lock(mu);
  // Queued event waits hold the streams they wait for: emptied first, so no stream outlives the reset.
  for (const auto& stream : all_streams()) stream->queue.clear();
  events.clear();
  streams.clear();
  retired.clear();
  quarantine.clear();
  sticky = cudaSuccess;
  graphs.clear();
  execs.clear();
  legacy.clear();
  memory.clear();
  last_violation.clear();
  violations = 0;
  executed = 0;
  accounting.clear();
  apply(config_from_environment());
  forget_thread_states();
}

}  // namespace cudaemu
