// Exported control and inspection functions (cudaemu.h), and the load/exit hooks.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cudaemu.h"
#include "emulator.h"

using cudaemu::Emulator;
using cudaemu::Lock;

namespace {

Emulator& emu() { return Emulator::instance(); }

template <class F>
auto locked(F read) {
  Lock lock(emu().mu);
  return read(emu());
}

// Reads CUDAEMU_* when the library is loaded, before any CUDA call.
__attribute__((constructor)) void load_settings() { Emulator::instance(); }

__attribute__((destructor)) void report_at_exit() {
  if (!emu().settings.report_at_exit) return;
  std::fprintf(stderr,
               "cudaemu: live_allocations=%zu live_bytes=%zu live_streams=%zu live_graphs=%zu "
               "live_graph_execs=%zu live_events=%zu violations=%llu\n",
               cudaemu_live_allocations(), cudaemu_live_bytes(), cudaemu_live_streams(),
               cudaemu_live_graphs(), cudaemu_live_graph_execs(), cudaemu_live_events(),
               static_cast<unsigned long long>(cudaemu_violations()));
}

}  // namespace

extern "C" {

void cudaemu_reset(void) { emu().reset(); }

void cudaemu_set_device_count(int count) {
  locked([count](Emulator& e) {
    e.set_device_count(count);
    return 0;
  });
}

void cudaemu_set_driver_present(int present) { emu().settings.driver_present = present != 0; }

void cudaemu_set_memory_capacity(size_t bytes) { emu().settings.memory_capacity = bytes; }

void cudaemu_set_strict(int strict) { emu().settings.strict = strict != 0; }

int cudaemu_strict(void) { return emu().settings.strict ? 1 : 0; }

cudaError_t cudaemu_sticky_error(void) { return emu().sticky_fault(); }

int cudaemu_fail_call(const char* api, int nth, cudaError_t code) {
  if (api == nullptr || *api == '\0' || nth < 1) return -1;
  emu().accounting.inject(api, nth, code);
  return 0;
}

uint64_t cudaemu_call_count(const char* api) { return api ? emu().accounting.calls(api) : 0; }

size_t cudaemu_live_allocations(void) {
  return locked([](Emulator& e) { return e.memory.count(); });
}

size_t cudaemu_live_bytes(void) {
  return locked([](Emulator& e) { return e.memory.bytes(); });
}

size_t cudaemu_live_device_allocations(void) {
  return locked([](Emulator& e) { return e.memory.count(cudaemu::MemoryKind::Device); });
}

size_t cudaemu_live_component_allocations(void) {
  return locked(
      [](Emulator& e) { return e.memory.count(cudaemu::Owner::Component, cudaemu::MemoryKind::Device); });
}

size_t cudaemu_live_component_bytes(void) {
  return locked(
      [](Emulator& e) { return e.memory.bytes(cudaemu::Owner::Component, cudaemu::MemoryKind::Device); });
}

size_t cudaemu_live_device_bytes(void) {
  return locked([](Emulator& e) {
    return e.memory.bytes(cudaemu::Owner::Application, cudaemu::MemoryKind::Device) +
           e.memory.bytes(cudaemu::Owner::Component, cudaemu::MemoryKind::Device);
  });
}

size_t cudaemu_live_pinned_allocations(void) {
  return locked([](Emulator& e) { return e.memory.count(cudaemu::MemoryKind::Pinned); });
}

size_t cudaemu_live_streams(void) {
  return locked([](Emulator& e) { return e.streams.size(); });
}

size_t cudaemu_live_graphs(void) {
  return locked([](Emulator& e) { return e.graphs.size(); });
}

size_t cudaemu_live_graph_execs(void) {
  return locked([](Emulator& e) { return e.execs.size(); });
}

size_t cudaemu_live_events(void) {
  return locked([](Emulator& e) { return e.events.size(); });
}

uint64_t cudaemu_violations(void) { return emu().violations; }

size_t cudaemu_last_violation(char* buf, size_t size) {
  return locked([buf, size](Emulator& e) {
    if (buf != nullptr && size > 0) {
      std::size_t n = std::min(size - 1, e.last_violation.size());
      std::memcpy(buf, e.last_violation.data(), n);
      buf[n] = '\0';
    }
    return e.last_violation.size();
  });
}

uint64_t cudaemu_work_executed(void) { return emu().executed; }

size_t cudaemu_pending_work(void) {
  return locked([](Emulator& e) {
    std::size_t n = 0;
    // Only work: where events were recorded or waited for is no work of its own.
    for (const auto& s : e.all_streams())
      for (const auto& item : s->queue) n += item.kind == cudaemu::WorkItem::Kind::Work ? 1 : 0;
    return n;
  });
}

size_t cudaemu_trace_size(void) { return emu().accounting.trace_size(); }

int cudaemu_trace_get(size_t i, cudaemu_trace_entry* out) {
  return emu().accounting.trace_get(i, out) ? 1 : 0;
}

void cudaemu_trace_clear(void) { emu().accounting.clear_trace(); }

uint64_t cudaemu_trace_dropped(void) { return emu().accounting.trace_dropped(); }

}  // extern "C"
