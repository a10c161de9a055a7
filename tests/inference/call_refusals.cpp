#include "call_refusals.h"

namespace inferlet_test {
namespace {

ModelConfig SmokeWith(int tensor, const std::vector<int>& shape) {
  ModelConfig config = SmokeConfig();
  if (tensor < 2) {
    config.in_shapes[0][tensor] = shape;
  } else {
    config.out_shapes[0][0] = shape;
  }
  return config;
}

ModelConfig FirstProfileOnly() {
  ModelConfig config = TwoProfilesConfig();
  config.in_shapes.pop_back();
  config.in_item_sizes.pop_back();
  config.out_shapes.pop_back();
  config.out_item_sizes.pop_back();
  return config;
}

const std::vector<Refusal> kRefusals = {
    {"ProfileBeyondConfigured", "smoke", SmokeConfig, 5, 2, 10,
     "profile 5 out of range, configured profiles 1", true},
    {"NegativeProfile", "smoke", SmokeConfig, -1, 2, 10, "profile -1 out of range, configured profiles 1",
     true},
    {"ProfileOfTheEngineButNotConfigured", "two_profiles", FirstProfileOnly, 1, 2, 4,
     "profile 1 out of range, configured profiles 1", true},
    {"OneInputTooMany", "smoke", SmokeConfig, 0, 3, 10, "input num 3 not eq graph config input num 2", true},
    {"OneInputTooFew", "smoke", SmokeConfig, 0, 1, 10, "input num 1 not eq graph config input num 2", true},
    {"ZeroBatch", "smoke", SmokeConfig, 0, 2, 0, "input batch_size 0 must be at least 1", true},
    {"NegativeBatch", "smoke", SmokeConfig, 0, 2, -4, "input batch_size -4 must be at least 1", true},
    {"BatchAboveFirstInput", "smoke", SmokeConfig, 0, 2, 11,
     "input batch_size 11 must lte graph config input batch_size 10", true},
    {"BatchAboveFirstInputOfSecondProfile", "two_profiles", TwoProfilesConfig, 1, 2, 17,
     "input batch_size 17 must lte graph config input batch_size 16", true},
    {"BatchAboveSecondInput", "smoke",
     [] {
       return SmokeWith(1, {4, 340});
     },
     0, 2, 5, "input batch_size 5 must lte graph config input 1 batch_size 4", true},
    {"BatchAboveOutput", "smoke",
     [] {
       return SmokeWith(2, {4, 338});
     },
     0, 2, 5, "input batch_size 5 must lte graph config output 0 batch_size 4", true},
    {"OutputBufferSmallerThanTheEngineWrites", "smoke",
     [] {
       return SmokeWith(2, {10, 100});
     },
     0, 2, 10, "binding 2 needs 13520 bytes but its buffer holds 4000", false},
};

}  // namespace

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

const std::vector<Refusal>& Refusals() { return kRefusals; }

}  // namespace inferlet_test
