// One call of a session: the host's tensors matched to the engine's by name and checked (memory kinds,
// data, input shapes against the session's profile, buffer sizes) before anything runs, then the work
// on the session's stream: host inputs into pinned staging, the uploads, TensorRT's enqueue, the
// downloads, and after the wait the host outputs out of staging. Everything it needs is sized when the
// session is made, so that a call allocates nothing.
#ifndef INFERLET_SESSIONS_CALL_H_
#define INFERLET_SESSIONS_CALL_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "cuda_resources.h"
#include "engine.h"
#include "inferlet_sessions.h"
#include "output_sink.h"
#include "status.h"
#include "trt_binding.h"

namespace sessions {

// Host memory at the alignment TensorRT wants of every tensor address (256 bytes, as cudaMalloc's), for
// a shape tensor's values; zeroed when sized.
class AlignedHostMemory {
 public:
  void assign(size_t bytes);
  unsigned char* data() const { return mData.get(); }
  size_t size() const { return mSize; }

 private:
  struct Free {
    void operator()(unsigned char* memory) const { std::free(memory); }
  };
  std::unique_ptr<unsigned char, Free> mData;
  size_t mSize = 0;
};

// values into copy as a shape tensor of item_size bytes (4: int32, 8: int64) holds them, as far as copy
// reaches.
void writeShapeValues(const std::vector<int64_t>& values, int item_size, AlignedHostMemory* copy);

// A session's own memory for one engine tensor, at the profile's largest shape: the device buffer
// TensorRT reads or writes when the host's memory is not device memory, and the pinned staging of
// host-memory tensors. Each only where the session's memory kinds need it; capacity is always set. A
// shape tensor has neither but the session's copy of its values, which TensorRT reads at the enqueue;
// a data-dependent output has no device buffer but its sink (memory that grows, TensorRT's allocator
// hands it over), capacity being TensorRT's bound on its bytes at the largest input shapes.
struct TensorBuffers {
  DeviceMemory device;
  PinnedMemory staging;
  size_t capacity = 0;
  AlignedHostMemory values;
  std::unique_ptr<GrowingOutput> sink;
  trt_binding::OutputAllocatorPtr allocator;  // forwards to sink; kept as long as the context
};

// What a session lends its calls.
struct CallResources {
  const Engine* engine = nullptr;
  int profile = 0;
  nvinfer1::IExecutionContext* context = nullptr;
  cudaStream_t stream = nullptr;
  uint64_t memory_kinds = 0;           // bit (1 << kind) of each kind the calls may use; never 0
  std::vector<TensorBuffers> buffers;  // per engine tensor; without host or pinned kinds, no memory
  std::vector<void*> bindings;         // TensorRT 8's binding array: every profile's block
};

class CallPlan {
 public:
  // The calls of a session on profile of engine.
  CallPlan(const Engine& engine, int profile);
  // An output whose extents TensorRT learns only while the call runs: its shape comes from its sink.
  void mark_data_dependent(size_t tensor);
  bool has_data_dependent() const { return mDataDependent; }

  // Matches the host's tensors to the engine's and checks them: every input and output exactly once by
  // name, a known memory kind, data, each input's shape inside the profile and its buffer large enough.
  // Asks TensorRT nothing.
  Status bind(CallResources& resources, const inferlet_tensor* inputs, size_t input_count,
              inferlet_tensor* outputs, size_t output_count);
  // The same for a call that only resolves shapes: names and input shapes are checked, memory kinds,
  // data and buffer sizes are not read but for shape tensors, whose values are.
  Status bind_shapes(CallResources& resources, const inferlet_tensor* inputs, size_t input_count,
                     inferlet_tensor* outputs, size_t output_count);

  // What a CUDA graph of this call depends on: the input shapes, and every tensor's memory kind and the
  // address its captured work uses (the session's staging for host memory, the host's pointer else).
  // Built after bind, by sessions that keep graphs: a call without them has no use for it.
  void build_key(const CallResources& resources);
  const uint64_t* key() const { return mKey.data(); }
  size_t key_words() const { return mKey.size(); }

  // The outputs' shapes: from TensorRT, once the inputs' shapes are set on the context, or as a graph
  // recorded them. Then every output is checked against its buffer.
  Status resolve(const CallResources& resources);
  // The outputs' shapes alone, their buffers not checked.
  Status resolve_dims(const CallResources& resources);
  Status take_output_dims(const CallResources& resources, const trt_binding::Extents* dims);
  const trt_binding::Extents& output_dims(size_t output) const { return mShapes[mOutputs[output]].dims; }
  size_t output_count() const { return mOutputs.size(); }
  // After resolve_dims: whether output (in the engine's order of outputs) waits for the call's values,
  // and the most bytes it may take (its bytes where it does not).
  bool output_data_dependent(size_t output) const { return mShapes[mOutputs[output]].data_dependent; }
  size_t output_bound(size_t output) const { return mTensors[mOutputs[output]].bytes; }
  int output_tensor(size_t output) const { return static_cast<int>(mOutputs[output]); }
  size_t output_entry(size_t output) const { return mTensors[mOutputs[output]].entry; }  // the host's index

  // The addresses TensorRT works on: the host's device memory in place, the session's buffers else.
  Status bind_addresses(CallResources& resources);
  // Host-memory inputs into the session's staging, so that the host may reuse them at once.
  void stage_inputs(const CallResources& resources) const;
  // The uploads, the enqueue and the downloads, queued on the session's stream (or recorded into the
  // capture it is in). On failure some of it may be queued already.
  Status queue_work(CallResources& resources);
  // The same in its three phases, so that the session may mark the stream between them.
  Status queue_uploads(const CallResources& resources) const;
  // Data-dependent outputs take their shapes from their sinks once TensorRT's enqueue returned.
  Status queue_compute(CallResources& resources);
  Status queue_downloads(const CallResources& resources) const;
  // The outputs' shapes into the host's tensors, when the call is queued.
  void publish_output_shapes(inferlet_tensor* outputs, size_t output_count) const;
  // After the stream is synchronized: host-memory outputs out of staging.
  void finish(const CallResources& resources) const;

 private:
  struct CallTensor {
    uint64_t given_in = 0;  // the match that last gave it (mMatches)
    size_t entry = 0;       // index in the host's array
    inferlet_memory memory = INFERLET_MEMORY_HOST;
    void* data = nullptr;
    size_t capacity = 0;  // bytes the host's buffer holds
    size_t bytes = 0;     // at its dimensions (mShapes)
    // The dimensions it was last sized at (an input's also found inside the profile) and their bytes:
    // calls whose shapes do not change neither check nor size them again.
    bool sized = false;
    trt_binding::Extents sized_dims;
    size_t sized_bytes = 0;
  };

  Status bind_shape_tensors(const CallResources& resources) const;
  Status take_shape_values(CallResources& resources);
  Status values_failure(const CallResources& resources, size_t tensor,
                        const std::vector<int64_t>& values) const;
  Status bound_outputs(const CallResources& resources);
  Status take_notified_shapes(const CallResources& resources);
  Status bind_value_dependent_addresses(CallResources& resources);
  Status address_failure(size_t tensor) const;

  // The engine tensor the host's entry e of one side names, or -1.
  int find(const char* name, const std::vector<size_t>& side, size_t e) const;
  Status match(const CallResources& resources, const inferlet_tensor* inputs, size_t input_count,
               inferlet_tensor* outputs, size_t output_count, bool with_data);
  Status take_data(const CallResources& resources, bool is_input, const inferlet_tensor& entry,
                   CallTensor& tensor);
  static Status data_failure(const CallResources& resources, bool is_input, const inferlet_tensor& entry);
  Status check_inputs(const CallResources& resources);
  // The failures of check_inputs and check_sizes, worded out of their loops.
  Status range_failure(const CallResources& resources, size_t tensor) const;
  std::string input_shapes_text() const;
  Status unresolved_failure(int output) const;
  void size_outputs();
  Status check_sizes(const CallResources& resources, bool outputs) const;
  Status size_failure(const CallResources& resources, size_t tensor) const;

  const Engine& mEngine;
  std::vector<CallTensor> mTensors;  // per engine tensor
  // Per engine tensor, its binding in the session's profile and its dimensions: an input's as the host
  // gave them, an output's as TensorRT resolved them (or a graph recorded them).
  std::vector<trt_binding::TensorShape> mShapes;
  std::vector<const char*> mNames;    // per engine tensor, the engine's strings
  std::vector<int> mElementBits;      // per engine tensor
  std::vector<size_t> mShapeTensors;  // engine indices of the shape tensor inputs
  std::vector<size_t> mValueWords;    // per engine tensor, the key words of its values (shape tensors)
  bool mDataDependent = false;
  bool mValueDependent = false;  // shape tensors or data-dependent outputs: the steps only they need
  // No two tensors share a name, so that an entry whose name is the one its position in the engine's
  // order expects is that tensor, without comparing the others.
  bool mUniqueNames = true;
  uint64_t mMatches = 0;
  std::vector<size_t> mInputs;  // engine indices of the inputs, in the engine's order
  // The inputs TensorRT reads on the device: all but shape tensors, whose values it reads from the
  // session's copy.
  std::vector<size_t> mDataInputs;
  std::vector<size_t> mOutputs;
  std::vector<uint64_t> mKey;
};

}  // namespace sessions

#endif  // INFERLET_SESSIONS_CALL_H_
