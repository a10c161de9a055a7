// Configurations built case by case, and a way to look at the layout validation gives one, shared by
// the configuration tests of both devices.
#ifndef INFERLET_TESTS_CORE_CONFIG_LAYOUT_H_
#define INFERLET_TESTS_CORE_CONFIG_LAYOUT_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine_infer.h"
#include "engine_peer.h"
#include "test_support.h"

namespace inferlet_test {

// One profile with the given input and output shapes, item size 4 for every tensor.
inline ModelConfig OneProfile(std::vector<std::vector<int>> inputs, std::vector<std::vector<int>> outputs) {
  ModelConfig config;
  config.in_item_sizes = {std::vector<int>(inputs.size(), 4)};
  config.out_item_sizes = {std::vector<int>(outputs.size(), 4)};
  config.in_shapes = {std::move(inputs)};
  config.out_shapes = {std::move(outputs)};
  return config;
}

inline ModelConfig WithItemSizes(ModelConfig config, std::vector<std::vector<int>> in,
                                 std::vector<std::vector<int>> out) {
  config.in_item_sizes = std::move(in);
  config.out_item_sizes = std::move(out);
  return config;
}

// Constructs the engine core directly from bytes that do not deserialize, so the configuration's
// layout stays observable: validation passed when the failure is the deserialization.
class LayoutProbe {
 public:
  explicit LayoutProbe(ModelConfig config) : config_(std::move(config)) {
    lines_ = CapturedLines([&] {
      core_ =
          std::make_unique<trt_engine_core>(std::string(), 0, false, config_.in_shapes, config_.in_item_sizes,
                                            config_.out_shapes, config_.out_item_sizes);
    });
  }
  ~LayoutProbe() {
    CapturedLines([&] { core_.reset(); });
  }
  const std::vector<S_net_info>& NetInfos() const { return trt_engine_core_peer::NetInfos(*core_); }
  bool PassedValidation() const {
    for (const std::string& line : lines_) {
      if (line == "[inferlet][I] Loading trt_engine_core ... ") return true;
    }
    return false;
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  bool Valid() const { return core_->Valid(); }

 private:
  ModelConfig config_;
  std::unique_ptr<trt_engine_core> core_;
  std::vector<std::string> lines_;
};

}  // namespace inferlet_test

#endif  // INFERLET_TESTS_CORE_CONFIG_LAYOUT_H_
