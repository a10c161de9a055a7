#include "test_control.h"

#include <trt_standin.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "enqueue_scratch.h"
#include "retired.h"

namespace trt_standin {
namespace control {
namespace {

struct RecordedDims {
  int nb = 0;
  int d[8] = {};
};

struct State {
  std::mutex mutex;
  std::map<std::string, long> counters;
  std::map<std::string, std::multiset<long>> failing_calls;  // op -> call numbers that fail
  std::vector<void*> last_bindings;
  std::map<int32_t, RecordedDims> last_dims;
};

State& state() {
  static State s;
  return s;
}

std::atomic<bool> strict_mode{false};

// TRT_STANDIN_STRICT=1 (0 or unset: off), read at load and by every reset.
void load_strict_from_environment() {
  const char* value = std::getenv("TRT_STANDIN_STRICT");
  const std::string text = value == nullptr ? "" : value;
  if (text != "" && text != "0" && text != "1")
    std::fprintf(stderr, "trt_standin: ignoring malformed TRT_STANDIN_STRICT=%s\n", text.c_str());
  strict_mode = text == "1";
}

bool is_live_count(const std::string& name) { return name.rfind("live_", 0) == 0; }

void schedule_failure(State& s, const std::string& op, long nth) {
  if (nth < 1) return;
  s.failing_calls[op].insert(s.counters[op] + nth);
}

// TRT_STANDIN_FAIL=op:n[,op:n...], read once when the library is loaded.
void load_failures_from_environment() {
  const char* value = std::getenv("TRT_STANDIN_FAIL");
  if (value == nullptr) return;
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::string all(value);
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    const std::string item = all.substr(start, end - start);
    const std::size_t colon = item.find(':');
    if (colon != std::string::npos)
      schedule_failure(s, item.substr(0, colon), std::atol(item.c_str() + colon + 1));
    start = end + 1;
  }
}

[[maybe_unused]] const bool kEnvironmentLoaded =
    (load_failures_from_environment(), load_strict_from_environment(), true);

}  // namespace

void count(const char* what, long delta) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.counters[what] += delta;
}

bool call_fails(const char* op) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  const long call = ++s.counters[op];
  auto it = s.failing_calls.find(op);
  if (it == s.failing_calls.end()) return false;
  auto due = it->second.find(call);
  if (due == it->second.end()) return false;
  it->second.erase(due);
  return true;
}

bool strict() { return strict_mode; }

void record_bindings(void* const* bindings, int count) {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.last_bindings.assign(bindings, bindings + count);
}

void record_dims(int32_t binding, const nvinfer1::Dims& dims) {
  RecordedDims r;
  r.nb = dims.nbDims;
  const int n = std::min(std::max(dims.nbDims, 0), 8);
  for (int i = 0; i < n; ++i) r.d[i] = dims.d[i];
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.last_dims[binding] = r;
}

}  // namespace control
}  // namespace trt_standin

using trt_standin::control::state;

extern "C" void trt_standin_internal_count(const char* what) { trt_standin::control::count(what); }

extern "C" void trt_standin_reset(void) {
  {
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.counters.begin(); it != s.counters.end();) {
      it = trt_standin::control::is_live_count(it->first) ? std::next(it) : s.counters.erase(it);
    }
    s.failing_calls.clear();
    s.last_bindings.clear();
    s.last_dims.clear();
  }
  trt_standin::control::load_strict_from_environment();
  trt_standin::scratch::load_from_environment();
  // Tests reset the emulated device beside the stand-in, which frees that memory already.
  trt_standin::retired::forget_device_memory();
}

extern "C" void trt_standin_set_strict(int strict) { trt_standin::control::strict_mode = strict != 0; }

extern "C" int trt_standin_strict(void) { return trt_standin::control::strict() ? 1 : 0; }

extern "C" void trt_standin_fail(const char* op, int nth) {
  if (op == nullptr) return;
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  trt_standin::control::schedule_failure(s, op, nth);
}

extern "C" long trt_standin_count(const char* what) {
  if (what == nullptr) return 0;
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.counters.find(what);
  return it == s.counters.end() ? 0 : it->second;
}

extern "C" int trt_standin_last_bindings(void** out, int capacity) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  const int n = static_cast<int>(s.last_bindings.size());
  if (out != nullptr) std::copy_n(s.last_bindings.begin(), std::min(std::max(capacity, 0), n), out);
  return n;
}

extern "C" int trt_standin_last_dims(int bindingIndex, int* nbDims, int* d8) {
  auto& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.last_dims.find(bindingIndex);
  if (it == s.last_dims.end()) return -1;
  if (nbDims != nullptr) *nbDims = it->second.nb;
  if (d8 != nullptr) std::copy_n(it->second.d, 8, d8);
  return 0;
}
