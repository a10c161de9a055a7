#include "accounting.h"

#include <string_view>

namespace cudaemu {

std::optional<int> Accounting::count_call(const char* api) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = counts_.find(std::string_view(api));
  if (it == counts_.end()) it = counts_.emplace(api, 0).first;
  std::uint64_t n = ++it->second;
  std::optional<int> answer;
  for (auto inj = injections_.begin(); inj != injections_.end();) {
    if (inj->at_call == n && inj->api == api) {
      if (!answer) answer = inj->code;  // the earliest registered wins when two name the same call
      inj = injections_.erase(inj);
    } else {
      ++inj;
    }
  }
  return answer;
}

void Accounting::inject(const std::string& api, int nth, int code) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = counts_.find(api);
  std::uint64_t now = it == counts_.end() ? 0 : it->second;
  injections_.push_back({api, now + static_cast<std::uint64_t>(nth), code});
}

std::uint64_t Accounting::calls(const char* api) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = counts_.find(std::string_view(api));
  return it == counts_.end() ? 0 : it->second;
}

void Accounting::record(const cudaemu_trace_entry& entry) {
  std::lock_guard<std::mutex> lock(mu_);
  if (trace_.size() < kTraceLimit)
    trace_.push_back(entry);
  else
    ++dropped_;
}

std::size_t Accounting::trace_size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return trace_.size();
}

bool Accounting::trace_get(std::size_t i, cudaemu_trace_entry* out) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (i >= trace_.size() || out == nullptr) return false;
  *out = trace_[i];
  return true;
}

void Accounting::clear_trace() {
  std::lock_guard<std::mutex> lock(mu_);
  trace_.clear();
  dropped_ = 0;
}

std::uint64_t Accounting::trace_dropped() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dropped_;
}

void Accounting::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  counts_.clear();
  injections_.clear();
  trace_.clear();
  dropped_ = 0;
}

}  // namespace cudaemu
