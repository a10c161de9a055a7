#include "test_support.h"

#include <trt_standin.h>

namespace inferlet_test {

void FreshPlatformTest::SetUp() {
  ResetDevice();
  trt_standin_reset();
}

void FreshPlatformTest::TearDown() { EXPECT_EQ(trt_standin_count("releases_with_queued_work"), 0); }

std::string RegexEscaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::vector<std::string> SmokeConstructionLines() {
  return {
      "[inferlet][I] CUDA Graph is 0",
      "[inferlet][I] Loading trt_engine_core ... ",
      "mEngine Name smoke,max_batch_size 1,isRefittable 0",
      "bind 0,name in0 IsInput 1 , dtype 0",
      "shape:",
      "-1 340 ",
      "bind 1,name in1 IsInput 1 , dtype 0",
      "shape:",
      "-1 340 ",
      "bind 2,name out0 IsInput 0 , dtype 0",
      "shape:",
      "-1 338 ",
      "[inferlet][I] getNbBindings 3,getNbOptimizationProfiles 1,numBindingPerProfile 3",
      "[inferlet][I] Variable length is enabled: << mEnableVariableLen",
  };
}

}  // namespace inferlet_test
