// The emulated device: the only file of the portable test support that uses its controls.
#include <cudaemu.h>
#include <gtest/gtest.h>

#include "device_state.h"

namespace inferlet_test {

void ResetDevice() { cudaemu_reset(); }

void ClearDeviceTrace() { cudaemu_trace_clear(); }

void ExpectDeviceClean() {
  char violation[256] = "";
  cudaemu_last_violation(violation, sizeof violation);
  EXPECT_EQ(cudaemu_violations(), 0u) << violation;
  EXPECT_EQ(cudaemu_live_allocations(), 0u);
  EXPECT_EQ(cudaemu_live_streams(), 0u);
  EXPECT_EQ(cudaemu_live_graphs(), 0u);
  EXPECT_EQ(cudaemu_live_graph_execs(), 0u);
}

}  // namespace inferlet_test
