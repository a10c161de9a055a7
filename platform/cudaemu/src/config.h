// Settings of the emulated device and how they are read from CUDAEMU_* variables.
#ifndef CUDAEMU_SRC_CONFIG_H_
#define CUDAEMU_SRC_CONFIG_H_

#include <cstddef>
#include <string>
#include <vector>

namespace cudaemu {

struct PlannedFault {
  std::string api;
  int nth = 1;
  int code = 0;
};

struct Config {
  int device_count = 1;
  bool driver_present = true;
  std::size_t memory_capacity = std::size_t{16} << 30;  // per device
  std::vector<PlannedFault> faults;
  bool report_at_exit = false;
};

// Reads CUDAEMU_DEVICES, CUDAEMU_DRIVER, CUDAEMU_MEMORY, CUDAEMU_FAIL and CUDAEMU_REPORT. A malformed
// value is reported on stderr and ignored.
Config config_from_environment();

// Parses "api:n:code[,api:n:code...]"; code is a number or an enumerator name. False when malformed.
bool parse_fault_list(const std::string& text, std::vector<PlannedFault>* out);

}  // namespace cudaemu

#endif  // CUDAEMU_SRC_CONFIG_H_
