// The construction cases' fixture, shared by the device-independent and the emulated-only cases.
#ifndef INFERLET_TESTS_CORE_CONSTRUCTION_FIXTURE_H_
#define INFERLET_TESTS_CORE_CONSTRUCTION_FIXTURE_H_

#include <string>
#include <vector>

#include "test_support.h"

namespace inferlet_test {

inline std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Construction : public FreshPlatformTest {
 protected:
  void TearDown() override {
    if (handle_ != nullptr) DeleteHandle(handle_);
    FreshPlatformTest::TearDown();
  }
  // Keeps a successfully created handle for deletion at the end of the case.
  void Keep(trt_engine_core* handle) { handle_ = handle; }

  std::string smoke_ = ReadEngine("smoke");
  trt_engine_core* handle_ = nullptr;
};

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_CORE_CONSTRUCTION_FIXTURE_H_
