// The calls a handle must refuse, one entry per check of kestrel_trt_process, shared by the tests of
// what the host sees and of what the emulated device saw.
#ifndef INFERLET_TESTS_INFERENCE_CALL_REFUSALS_H_
#define INFERLET_TESTS_INFERENCE_CALL_REFUSALS_H_

#include <functional>
#include <ostream>
#include <vector>

#include "test_support.h"

namespace inferlet_test {

struct Refusal {
  const char* name;
  const char* engine;
  std::function<ModelConfig()> config;
  int profile;
  int input_num;
  int batch_size;
  const char* line;  // after the "[inferlet][E] " prefix
  bool before_prepare;
};

void PrintTo(const Refusal& refusal, std::ostream* os);

const std::vector<Refusal>& Refusals();

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_INFERENCE_CALL_REFUSALS_H_
