// IExecutionContext: profile selection, input shapes, and the enqueue of a whole network.
//
// An enqueue (enqueueV2 up to 8.x, enqueueV3 from 10.x) issues, in stream order: device->staging
// copies of the inputs (host->staging for inputs in host memory), one host function that computes the
// network on the staging buffers, staging->device copies of the outputs. Each copy moves the tensor's
// whole layout, padding included. The staging buffers are pinned host memory owned by the context,
// allocated once at creation for the largest layouts any profile allows, so an enqueue itself
// allocates nothing and can be captured into a graph. An I/O tensor with a format other than kLINEAR
// in some profile also has a dense copy that the layers compute on; the host function converts
// between the two.
#ifndef TRT_STANDIN_RUNTIME_CONTEXT_H_
#define TRT_STANDIN_RUNTIME_CONTEXT_H_

#include <NvInferRuntime.h>
#include <cuda_runtime_api.h>

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_memory.h"
#include "dims.h"
#include "graph.h"
#include "interface.h"
#include "pending_work.h"
#include "profile_uses.h"
#include "retired.h"

namespace trt_standin {

class Engine;

// "call failed: <CUDA's text>"
std::string cuda_failure(const char* call, cudaError_t status);
// A tensor name as the log lines quote it: 'name', or (null).
std::string quoted(const char* name);
// A pointer as the log lines print it: 0x...
std::string address_text(const void* p);

class ExecutionContext final : public ContextInterface {
 public:
  // How the context holds its activation memory: 7/8 always kStatic; from 10.x the strategy it was
  // created with.
  enum class Activation { kStatic, kOnProfileChange, kUserManaged };

  // Null, after a kERROR line, when the staging or activation memory cannot be allocated.
  static std::unique_ptr<ExecutionContext> create(const Engine& engine, std::shared_ptr<const Graph> graph,
                                                  nvinfer1::ILogger* logger, int32_t initial_profile,
                                                  Activation activation = Activation::kStatic);
  ExecutionContext(const Engine& engine, std::shared_ptr<const Graph> graph, nvinfer1::ILogger* logger,
                   int32_t profile, int device);
  ~ExecutionContext() override;

  const nvinfer1::ICudaEngine& getEngine() const noexcept override;
  int32_t getOptimizationProfile() const noexcept override;
  bool allInputDimensionsSpecified() const noexcept override;
#if NV_TENSORRT_MAJOR >= 10
  bool setOptimizationProfileAsync(int32_t profileIndex, cudaStream_t stream) noexcept override;
  bool setInputShape(const char* tensorName, const nvinfer1::Dims& dims) noexcept override;
  nvinfer1::Dims getTensorShape(const char* tensorName) const noexcept override;
  int32_t inferShapes(int32_t nbMaxNames, const char** tensorNames) noexcept override;
  bool setTensorAddress(const char* tensorName, void* data) noexcept override;
  const void* getTensorAddress(const char* tensorName) const noexcept override;
  bool setInputTensorAddress(const char* tensorName, const void* data) noexcept override;
  bool setOutputTensorAddress(const char* tensorName, void* data) noexcept override;
  void* getOutputTensorAddress(const char* tensorName) const noexcept override;
  bool setInputConsumedEvent(cudaEvent_t event) noexcept override;
  cudaEvent_t getInputConsumedEvent() const noexcept override;
  bool enqueueV3(cudaStream_t stream) noexcept override;
  nvinfer1::Dims getTensorStrides(const char* tensorName) const noexcept override;
  void setDeviceMemoryV2(void* memory, int64_t size) noexcept override;
  bool setOutputAllocator(const char* tensorName,
                          nvinfer1::IOutputAllocator* outputAllocator) noexcept override;
  nvinfer1::IOutputAllocator* getOutputAllocator(const char* tensorName) const noexcept override;
  int64_t getMaxOutputSize(const char* tensorName) const noexcept override;
#if NV_TENSORRT_MAJOR < 11
  bool allInputShapesSpecified() const noexcept override;
#endif
#else
  bool setOptimizationProfile(int32_t profileIndex) noexcept override;
  bool setBindingDimensions(int32_t bindingIndex, nvinfer1::Dims dimensions) noexcept override;
  nvinfer1::Dims getBindingDimensions(int32_t bindingIndex) const noexcept override;
  nvinfer1::Dims getStrides(int32_t bindingIndex) const noexcept override;
  bool enqueueV2(BindingArray bindings, cudaStream_t stream, cudaEvent_t* inputConsumed) noexcept override;
  bool setInputShapeBinding(int32_t bindingIndex, const int32_t* data) noexcept override;
  bool getShapeBinding(int32_t bindingIndex, int32_t* data) const noexcept override;
  bool allInputShapesSpecified() const noexcept override;
#if NV_TENSORRT_MAJOR < 8
  void destroy() noexcept override { delete this; }
#endif
#endif

  // What one queued host function computes: the shapes fixed at enqueue time and the buffers.
  struct Launch {
    const Graph* graph;
    std::vector<Shape> shapes;
    const std::vector<void*>* buffers;  // per tensor, the dense form the layers compute on
    const std::vector<void*>* staging;  // per I/O tensor, its layout in staging memory
    int32_t layout_profile;             // whose formats the staged tensors have
    // From 10.x, outside a capture: the profile the enqueue was made for, checked against the one
    // the stream work of setOptimizationProfileAsync has applied by the time the network runs.
    int32_t profile = -1;
    const std::atomic<int32_t>* applied_profile = nullptr;
    nvinfer1::ILogger* logger = nullptr;
    PendingWork* pending = nullptr;  // outside a capture: told when the host function has run
    // Outside a capture: told too, so that the engine knows which contexts have networks queued on
    // layout_profile; `user` is the context's work.
    ProfileUses* uses = nullptr;
    const void* user = nullptr;
    // A network with data-dependent outputs: where the host function leaves the elements each tensor got
    // (run_graph's produced), for enqueueV3 to read once it has waited for the stream.
    std::vector<int64_t>* produced = nullptr;
    // The profile and input shapes, numbered per context; in a capture, the context's record of the
    // configuration its last enqueue set, which a replay checks in strict mode (stale_replay.cpp).
    int configuration = -1;
    const std::atomic<int>* configured = nullptr;
  };
  // What the stream work of setOptimizationProfileAsync applies.
  struct ProfileSwitch {
    std::atomic<int32_t>* applied_profile;
    int32_t profile;
    PendingWork* pending;
  };

 private:
  struct PinnedDeleter {
    void operator()(unsigned char* p) const;
  };
  // Everything the context's stream work reads. A context released before that work ran hands it to
  // the retired state, so the work never meets freed memory.
  struct Work final : Retirable {
    Work(std::shared_ptr<const Graph> g, std::shared_ptr<PendingWork> engine_work,
         std::shared_ptr<ProfileUses> engine_uses)
        : graph(std::move(g)),
          pending(std::make_shared<PendingWork>(std::move(engine_work))),
          profile_uses(std::move(engine_uses)) {}
    void forget_device_memory() override;

    std::shared_ptr<const Graph> graph;
    std::shared_ptr<PendingWork> pending;
    std::shared_ptr<ProfileUses> profile_uses;  // the engine's
    std::vector<std::vector<unsigned char>> scratch;
    std::vector<void*> buffers;
    std::vector<void*> staging_at;
    std::map<std::vector<int32_t>, std::unique_ptr<Launch>> launches;
    std::vector<int64_t> produced;
    // As a plugin's configurePlugin state: set on the host by every enqueue, captured ones included.
    std::map<std::vector<int32_t>, int> configurations;
    std::atomic<int> configured{-1};
    std::atomic<int32_t> applied_profile{0};
    std::map<int32_t, std::unique_ptr<ProfileSwitch>> switches;
    // Freed first: freeing synchronizes (by default), so work still queued finds the rest in place.
    DeviceMemory activation;
    std::unique_ptr<unsigned char, PinnedDeleter> staging;
  };

  bool allocate_buffers();
  // What the strategy takes at creation: every profile's largest (kStatic), profile 0's
  // (kOnProfileChange), nothing (kUserManaged).
  bool allocate_activation_memory();
#if NV_TENSORRT_MAJOR >= 10
  // kOnProfileChange: the memory of profile, taken when it is selected.
  bool reallocate_activation_memory(int32_t profile, const std::string& where);
  // kUserManaged: the memory given with setDeviceMemoryV2 suits the selected profile.
  bool user_memory_suits(std::string* why) const;
#endif
  // Released while work it queued has not run: reported, and work_ stays until the work has run.
  void retire_if_work_pending() noexcept;
  void reset_input_dims();  // static inputs of the selected profile count as set, the rest unset
  bool inputs_complete() const;
  bool resolve_shapes(std::vector<Shape>* shapes, std::string* why) const;
  bool fail_enqueue(const std::string& why) noexcept;
  // Strict mode: another context's network is queued on the selected profile of a dynamic engine.
  void report_shared_profile() noexcept;
  bool on_own_device(std::string* why) const;
  // Asks whether stream captures; refuses a capture while capture_blocked_.
  bool capture_allowed(cudaStream_t stream, cudaStreamCaptureStatus* capture, std::string* why) const;
  // Queues the copies and the host function; inputs[i] and outputs[j] are the device addresses. The
  // copies of outputs j with (*deferred)[j] are left to the caller.
  bool queue_network(std::vector<Shape> shapes, const std::vector<const void*>& inputs,
                     const std::vector<void*>& outputs, cudaStream_t stream, bool captured, std::string* why,
                     const std::vector<bool>* deferred = nullptr);
  const Launch* launch_for(std::vector<Shape> shapes, bool captured);
#if NV_TENSORRT_MAJOR >= 10
  bool set_address(const char* call, const char* tensorName, void* data,
                   nvinfer1::TensorIOMode wanted) noexcept;
  Shape shape_of_input(int slot) const;  // the set shape, or the profile's extents with -1 where unset
  bool values_missing(int slot) const;   // a shape-inference (host) input without an address
  bool shape_values_missing() const;     // values_missing for some input
  // The addresses enqueueV3 uses: every input's, every output's (null for one with an allocator);
  // false with *why for a tensor without one.
  bool tensor_addresses(std::vector<const void*>* inputs, std::vector<void*>* outputs,
                        std::string* why) const;
  // Every output that shares an input's memory has the input's address; false with *why otherwise.
  bool aliases_share_memory(std::string* why) const;
  // Per input, the values of a shape tensor that steers shapes, read from its host address (empty for
  // the other inputs); false with *why when one has no address or values outside the profile's.
  bool read_shape_values(std::vector<std::vector<int64_t>>* values, std::string* why) const;
  // The memory of each output with an allocator whose size is known before the network runs, asked
  // of its allocator into (*outputs)[j]; the data-dependent ones are marked in *deferred instead.
  bool allocate_known_outputs(const std::vector<Shape>& shapes, cudaStream_t stream,
                              std::vector<void*>* outputs, std::vector<bool>* deferred, std::string* why);
  // Tells each allocator of a known output its shape (after allocate_known_outputs and the queueing).
  void notify_known_outputs(const std::vector<Shape>& shapes, const std::vector<bool>& deferred);
  // Waits for the stream, then asks the allocator of each deferred output for memory of the size
  // computed, queues its copy and tells it the shape.
  bool finish_data_dependent_outputs(const std::vector<bool>& deferred, cudaStream_t stream,
                                     std::string* why);
  // One output's memory from its allocator: nullptr with *why when refused or misaligned.
  void* reallocate_output(int io, uint64_t bytes, cudaStream_t stream, std::string* why);
#endif

  const Engine& engine_;
  std::shared_ptr<const Graph> graph_;
  nvinfer1::ILogger* logger_;
  int32_t profile_;
  int device_;  // the CUDA device current when the context was created; enqueues run only there
  Activation activation_ = Activation::kStatic;
#if NV_TENSORRT_MAJOR >= 10
  // kUserManaged: what setDeviceMemoryV2 last accepted (size -1: nothing yet).
  void* user_memory_ = nullptr;
  int64_t user_memory_size_ = -1;
#endif
  // The first enqueue after the creation, a profile selection or new input dimensions must run outside
  // a stream capture (TensorRT 8: "run enqueueV2 once before capturing").
  bool capture_blocked_ = true;
  std::vector<std::optional<Shape>> input_dims_;  // per network input, for the selected profile
#if NV_TENSORRT_MAJOR < 10
  // Per network input of the selected profile: the values setInputShapeBinding gave a shape tensor that
  // steers shapes.
  std::vector<std::optional<std::vector<int64_t>>> binding_values_;
  // The input slot of the selected profile's block a binding index names, or -1.
  int input_slot(int32_t bindingIndex) const;
  // Per input, the values set for shape tensors that steer shapes; false with *why for one without.
  bool bound_shape_values(std::vector<std::vector<int64_t>>* values, std::string* why) const;
#endif
  std::unique_ptr<Work> work_;
  // The parts of work_ by the names the context uses.
  std::unique_ptr<unsigned char, PinnedDeleter>& staging_ = work_->staging;
  std::vector<std::vector<unsigned char>>& scratch_ = work_->scratch;  // tensors between layers
  std::vector<void*>& buffers_ = work_->buffers;        // per tensor: staging or scratch, dense
  std::vector<void*>& staging_at_ = work_->staging_at;  // per I/O tensor: its region of staging_
  // One record per distinct set of input shapes: captured graphs keep pointing at them.
  std::map<std::vector<int32_t>, std::unique_ptr<Launch>>& launches_ = work_->launches;
#if NV_TENSORRT_MAJOR >= 10
  std::vector<void*> addresses_;                         // per I/O tensor, as setTensorAddress left it
  std::vector<nvinfer1::IOutputAllocator*> allocators_;  // per I/O tensor (outputs only), as set
  std::atomic<int32_t>& applied_profile_ = work_->applied_profile;
  // Stable user data of the stream work.
  std::map<int32_t, std::unique_ptr<ProfileSwitch>>& switches_ = work_->switches;
#endif
};

}  // namespace trt_standin

#endif  // TRT_STANDIN_RUNTIME_CONTEXT_H_
