// The emulated device's resource counts as one comparable value, for the reliability cases that
// watch them over a run.
#ifndef INFERLET_TESTS_RELIABILITY_DEVICE_COUNTS_H_
#define INFERLET_TESTS_RELIABILITY_DEVICE_COUNTS_H_

#include <cstddef>
#include <ostream>

namespace inferlet_test {

// What the emulated device holds at one moment.
struct DeviceCounts {
  size_t allocations = 0;
  size_t bytes = 0;
  size_t streams = 0;
  size_t graphs = 0;
  size_t graph_execs = 0;

  static DeviceCounts Now();
  bool operator==(const DeviceCounts& other) const;
  bool operator!=(const DeviceCounts& other) const { return !(*this == other); }
};
std::ostream& operator<<(std::ostream& out, const DeviceCounts& counts);

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_RELIABILITY_DEVICE_COUNTS_H_
