// One deserialized engine on its device, described once (its I/O tensors in the engine's order, their
// layouts and input ranges per profile, its device memory), shared by the sessions made from it: each
// holds it through a shared pointer, and the host's handle holds one more.
#ifndef INFERLET_SESSIONS_ENGINE_H_
#define INFERLET_SESSIONS_ENGINE_H_

#include <NvInfer.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "inferlet_sessions.h"
#include "profile_registry.h"
#include "resolved_shapes.h"
#include "status.h"
#include "trt_binding.h"
#include "trt_support.h"

namespace sessions {

struct ProfileRange {
  trt_binding::Extents min, opt, max;
};

// The values a profile accepts for a shape tensor input, element by element; empty where the engine
// keeps none.
struct ValueRange {
  std::vector<int64_t> min, opt, max;
};

struct TensorDescription {
  std::string name;  // as profile 0 names it, the name calls use on every profile
  bool is_input = false;
  nvinfer1::DataType dtype = nvinfer1::DataType::kFLOAT;
  int item_size = 0;                         // bytes per element; 1 for the 4-bit types
  int element_bits = 0;                      // 4 for the 4-bit types, which pack two elements a byte
  trt_binding::Extents dims;                 // -1 where a profile sets the extent
  std::vector<trt_binding::Layout> layouts;  // per profile
  std::vector<ProfileRange> ranges;          // per profile; inputs only
  // A shape tensor: an input TensorRT reads from host memory (10, 11), whose values may steer other
  // tensors' shapes; with its values' range per profile.
  bool shape_tensor = false;
  std::vector<ValueRange> value_ranges;
  std::string aliased_input;  // an output TensorRT writes into this input's memory (11); "" for none
};

// Held shared by every allocation and release of device memory the library makes (or makes TensorRT
// make), exclusively while an engine's deserialization is measured by the fall of free device memory,
// so that the measurement sees the engine alone among this library's objects.
std::shared_mutex& deviceMemoryCensus();

class Engine {
  struct Made {  // only load makes engines
    explicit Made() = default;
  };

 public:
  // Deserializes size bytes on config's device; on success *engine holds the only reference.
  static Status load(const void* bytes, size_t size, const inferlet_engine_config& config,
                     std::shared_ptr<Engine>* engine);
  Engine(Made, int device) : mDevice(device) {}
  ~Engine();

  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  int device() const { return mDevice; }
  const std::string& name() const { return mName; }
  const nvinfer1::ICudaEngine& trt() const { return *mEngine; }

  int tensor_count() const { return static_cast<int>(mTensors.size()); }
  const TensorDescription& tensor(int index) const { return mTensors[static_cast<size_t>(index)]; }
  // Tensor index as the C interface describes it (format: profile 0's); strings live with the engine.
  inferlet_tensor_info info(int index) const;
  int profile_count() const { return mProfileCount; }
  // Some input extent is -1: TensorRT then wants one context per profile at a time.
  bool dynamic_shapes() const { return mDynamicShapes; }

  int binding_count() const { return mBindingCount; }
  // Tensor index of profile's block, in TensorRT 8's binding numbering.
  const trt_binding::Binding& binding(int profile, int index) const {
    return mBlocks[static_cast<size_t>(profile)][static_cast<size_t>(index)];
  }

  size_t engine_bytes() const { return mEngineBytes; }
  size_t context_bytes() const { return mContextBytes; }

  ProfileRegistry& profiles() { return *mProfiles; }
  ResolvedShapes& resolved_shapes() { return *mResolvedShapes; }

  // Execution contexts are made and released one at a time per engine: TensorRT does not say that an
  // engine may do either from several threads at once. Null when TensorRT made none (it says why).
  // caller_memory: the context waits for its activation memory (trt_binding::createContext).
  TrtUniquePtr<nvinfer1::IExecutionContext> create_context(bool caller_memory = false);
  void release_context(TrtUniquePtr<nvinfer1::IExecutionContext>& context);

 private:
  Status deserialize(const void* bytes, size_t size);
  void describe();
  void describe_values(int index);

  const int mDevice;
  bool mAllowHostCode = false;  // set by load before deserialize
  // Empty after deserialization where engines stand alone (7, 8); otherwise the runtime that
  // deserialized mEngine, declared before it so that it is released after it.
  TrtUniquePtr<nvinfer1::IRuntime> mRuntime;
  TrtUniquePtr<nvinfer1::ICudaEngine> mEngine;
  std::mutex mContextMutex;

  std::string mName;
  std::vector<TensorDescription> mTensors;
  std::vector<std::vector<trt_binding::Binding>> mBlocks;  // per profile, its block of bindings
  int mBindingCount = 0;                                   // every profile's
  int mProfileCount = 0;
  bool mDynamicShapes = false;
  size_t mEngineBytes = 0;
  size_t mContextBytes = 0;
  std::unique_ptr<ProfileRegistry> mProfiles;
  std::unique_ptr<ResolvedShapes> mResolvedShapes;
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_ENGINE_H_
