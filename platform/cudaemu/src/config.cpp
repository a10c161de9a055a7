#include "config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "errors.h"

namespace cudaemu {
namespace {

bool parse_unsigned(const std::string& text, unsigned long long* out) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

bool parse_int(const std::string& text, int* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
  *out = static_cast<int>(v);
  return true;
}

void warn_malformed(const char* var, const char* value) {
  std::fprintf(stderr, "cudaemu: ignoring malformed %s=%s\n", var, value);
}

}  // namespace

bool parse_fault_list(const std::string& text, std::vector<PlannedFault>* out) {
  std::vector<PlannedFault> parsed;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    std::size_t first = item.find(':');
    std::size_t second = first == std::string::npos ? first : item.find(':', first + 1);
    if (second == std::string::npos || first == 0) return false;
    PlannedFault fault;
    fault.api = item.substr(0, first);
    std::string code = item.substr(second + 1);
    if (!parse_int(item.substr(first + 1, second - first - 1), &fault.nth) || fault.nth < 1) return false;
    if (!parse_int(code, &fault.code) && !parse_error_code(code.c_str(), &fault.code)) return false;
    parsed.push_back(fault);
  }
  if (parsed.empty()) return false;
  *out = std::move(parsed);
  return true;
}

Config config_from_environment() {
  Config config;
  if (const char* v = std::getenv("CUDAEMU_DEVICES")) {
    int n = 0;
    if (parse_int(v, &n) && n >= 0)
      config.device_count = n;
    else
      warn_malformed("CUDAEMU_DEVICES", v);
  }
  if (const char* v = std::getenv("CUDAEMU_DRIVER")) {
    std::string s = v;
    if (s == "0" || s == "1")
      config.driver_present = s == "1";
    else
      warn_malformed("CUDAEMU_DRIVER", v);
  }
  if (const char* v = std::getenv("CUDAEMU_MEMORY")) {
    unsigned long long bytes = 0;
    if (parse_unsigned(v, &bytes))
      config.memory_capacity = static_cast<std::size_t>(bytes);
    else
      warn_malformed("CUDAEMU_MEMORY", v);
  }
  if (const char* v = std::getenv("CUDAEMU_FAIL")) {
    if (!parse_fault_list(v, &config.faults)) warn_malformed("CUDAEMU_FAIL", v);
  }
  if (const char* v = std::getenv("CUDAEMU_REPORT")) config.report_at_exit = std::string(v) == "1";
  if (const char* v = std::getenv("CUDAEMU_STRICT")) {
    std::string s = v;
    if (s == "0" || s == "1")
      config.strict = s == "1";
    else
      warn_malformed("CUDAEMU_STRICT", v);
  }
  return config;
}

}  // namespace cudaemu
