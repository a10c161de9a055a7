// Shared helpers for the emulator's tests.
#ifndef CUDAEMU_TESTS_TEST_SUPPORT_H_
#define CUDAEMU_TESTS_TEST_SUPPORT_H_

#include <cuda_runtime_api.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cudaemu.h"

// Every test starts from a fresh emulator and leaves none of its state behind.
class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { cudaemu_reset(); }
  void TearDown() override { cudaemu_reset(); }
};

inline std::vector<cudaemu_trace_entry> trace_of(const std::string& api) {
  std::vector<cudaemu_trace_entry> entries;
  cudaemu_trace_entry e;
  for (size_t i = 0; cudaemu_trace_get(i, &e); ++i)
    if (api == e.api) entries.push_back(e);
  return entries;
}

inline std::string last_violation() {
  char text[512];
  cudaemu_last_violation(text, sizeof text);
  return text;
}

template <class T>
uintptr_t addr(T* p) {
  return reinterpret_cast<uintptr_t>(p);
}

#endif  // CUDAEMU_TESTS_TEST_SUPPORT_H_
