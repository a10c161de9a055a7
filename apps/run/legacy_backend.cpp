#include "legacy_backend.h"

#include <fmt/format.h>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

// kestrel_trt_init now, kestrel_trt_uninit when it goes.
class Initialized {
 public:
  explicit Initialized(const Deliverable& lib) : lib_(lib) { lib_.init(); }
  ~Initialized() { lib_.uninit(); }
  Initialized(const Initialized&) = delete;
  Initialized& operator=(const Initialized&) = delete;

 private:
  const Deliverable& lib_;
};

// The handle of one kestrel_trt_new, deleted through the same library.
class Handle {
 public:
  explicit Handle(const Deliverable& lib) : lib_(lib) {}
  ~Handle() {
    if (handle_) lib_.destroy(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  trt_engine_core** out() { return &handle_; }
  trt_engine_core* get() const { return handle_; }

 private:
  const Deliverable& lib_;
  trt_engine_core* handle_ = nullptr;
};

// kestrel_trt_process on the run's profile; the outputs of the last call stay readable while the
// handle lives. A call sets only the batch: an output's shape is its configured one at that batch.
class HandleLane : public Lane {
 public:
  HandleLane(const Deliverable& lib, const Handle& handle, int profile, const ProfileConfig& config)
      : lib_(lib), handle_(handle), config_(config), profile_(profile) {
    outputs_.assign(config.outputs.size() + 1, nullptr);
    output_lens_.assign(config.outputs.size() + 1, 0);
  }

  void SetInputs(const InputPlan& plan, const std::vector<std::vector<int>>&) override {
    inputs_.clear();
    for (const std::string& d : plan.data) inputs_.push_back(d.data());
    batch_ = plan.batch;
  }
  void Call(const char* phase, size_t n) override {
    if (lib_.process(handle_.get(), profile_, inputs_.data(), static_cast<int>(inputs_.size()), batch_,
                     outputs_.data(), output_lens_.data()) != 0)
      throw ToolError{
          kExitRejected,
          fmt::format("the library refused {} call {} (profile {}, batch {}): kestrel_trt_process "
                      "returned -1 (its log line above gives the reason)",
                      phase, n, profile_, batch_)};
  }
  inferlet_phase_times PhaseTimes() const override { return {}; }
  const void* Output(size_t j) const override { return outputs_[j]; }
  int OutputBytes(size_t j) const override { return output_lens_[j]; }
  std::vector<int> OutputShape(size_t j) const override {
    std::vector<int> shape = config_.outputs[j].shape;
    if (!shape.empty()) shape[0] = batch_;
    return shape;
  }
  long long OutputBound(size_t) const override { return -1; }
  long long DeviceBytes() const override { return -1; }
  int profile() const override { return profile_; }
  int batch() const override { return batch_; }

 private:
  const Deliverable& lib_;
  const Handle& handle_;
  const ProfileConfig& config_;
  int profile_, batch_ = 0;
  std::vector<const void*> inputs_;
  std::vector<void*> outputs_;
  std::vector<int> output_lens_;
};

class LegacyBackend : public Backend {
 public:
  LegacyBackend(const Deliverable& lib, const std::string& engine_bytes, const Options& o,
                const ModelConfig& config)
      : lib_(lib), engine_bytes_(engine_bytes), options_(o), config_(config) {}

  bool Sessions() const override { return false; }
  std::vector<int> LaneProfiles(const Options& o, const EngineDesc&) const override { return {o.profile}; }
  void CheckRows(const std::vector<ShapeRow>& rows, const ProfileConfig& profile) const override {
    for (const ShapeRow& row : rows) LegacyRowBatch(row, profile);
  }
  std::vector<std::unique_ptr<Lane>> Start(const std::vector<int>& profiles,
                                           const std::vector<InputPlan>& inputs) override;
  void RecordDeviceMemory(RunReport&) const override {}

 private:
  void CreateHandle();

  const Deliverable& lib_;
  const std::string& engine_bytes_;
  const Options& options_;
  const ModelConfig& config_;
  std::unique_ptr<Initialized> initialized_;  // declared first: uninitialized after the handle goes
  std::unique_ptr<Handle> handle_;
};

// kestrel_trt_new with the whole configuration.
void LegacyBackend::CreateHandle() {
  auto in_shapes = config_.InShapes();
  auto in_items = config_.InItemSizes();
  auto out_shapes = config_.OutShapes();
  auto out_items = config_.OutItemSizes();
  if (lib_.create(engine_bytes_.data(), static_cast<int>(engine_bytes_.size()), options_.device,
                  options_.cuda_graph, in_shapes, in_items, out_shapes, out_items, handle_->out()) != 0)
    throw ToolError{kExitRejected,
                    "the library refused the engine or its configuration: kestrel_trt_new "
                    "returned -1 (its log line above gives the reason)"};
}

// The library's own refusal of a shape comes first, so only then must every made-up input have a
// sample size (a file's input has one already).
std::vector<std::unique_ptr<Lane>> LegacyBackend::Start(const std::vector<int>& profiles,
                                                        const std::vector<InputPlan>& inputs) {
  initialized_ = std::make_unique<Initialized>(lib_);
  handle_ = std::make_unique<Handle>(lib_);
  CreateHandle();
  const ProfileConfig& profile = config_.profiles[static_cast<size_t>(profiles[0])];
  for (size_t i = 0; i < profile.inputs.size(); ++i)
    if (!inputs[0].from_file[i]) RequireSampleSize(profile.inputs[i]);
  std::vector<std::unique_ptr<Lane>> lanes;
  lanes.push_back(std::make_unique<HandleLane>(lib_, *handle_, profiles[0], profile));
  lanes.back()->SetInputs(inputs[0], {});
  return lanes;
}

}  // namespace

std::unique_ptr<Backend> MakeLegacyBackend(const Deliverable& lib, const std::string& engine_bytes,
                                           const Options& options, const ModelConfig& config) {
  return std::make_unique<LegacyBackend>(lib, engine_bytes, options, config);
}

}  // namespace inferlet_run
