// Call counters, injected faults and the call trace.
#ifndef CUDAEMU_SRC_ACCOUNTING_H_
#define CUDAEMU_SRC_ACCOUNTING_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cudaemu.h"

namespace cudaemu {

class Accounting {
 public:
  static constexpr std::size_t kTraceLimit = 1000000;

  // Counts a call of `api`; answers the injected code when this call is one that was asked to fail.
  std::optional<int> count_call(const char* api);
  // The nth call of `api` from now on answers `code`.
  void inject(const std::string& api, int nth, int code);
  std::uint64_t calls(const char* api) const;

  void record(const cudaemu_trace_entry& entry);
  std::size_t trace_size() const;
  bool trace_get(std::size_t i, cudaemu_trace_entry* out) const;
  void clear_trace();
  std::uint64_t trace_dropped() const;

  // Forgets counters, pending injections and the trace.
  void clear();

 private:
  struct Injection {
    std::string api;
    std::uint64_t at_call;  // the call count that answers
    int code;
  };

  mutable std::mutex mu_;
  std::map<std::string, std::uint64_t, std::less<>> counts_;
  std::vector<Injection> injections_;
  std::vector<cudaemu_trace_entry> trace_;
  std::uint64_t dropped_ = 0;
};

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_ACCOUNTING_H_
