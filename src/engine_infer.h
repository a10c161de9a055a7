// trt_engine_core: one serialized TensorRT engine, its execution context, its CUDA stream and the
// device buffers of every optimization profile, ready for synchronous inference calls.
#ifndef INFERLET_ENGINE_INFER_H_
#define INFERLET_ENGINE_INFER_H_

#include <NvInfer.h>
#include <cuda_runtime_api.h>

#include <memory>
#include <string>
#include <vector>

#include "trt_binding.h"  // TensorShape
#include "trt_support.h"  // TrtDestroyer, TrtUniquePtr

// The binding layout of one optimization profile. Device pointers are plain copies: only the engine
// core's teardown frees them.
struct S_net_info {
  std::vector<std::vector<int>> input_shapes;
  std::vector<std::vector<int>> output_shapes;
  std::vector<void*> input_bufs;
  std::vector<void*> output_bufs;
  std::vector<int> input_sizes;
  std::vector<int> output_sizes;
  std::vector<std::vector<char>> output_host_bufs;
};

using ShapeList = std::vector<std::vector<std::vector<int>>>;  // per profile, per tensor, dimensions
using ItemSizeList = std::vector<std::vector<int>>;            // per profile, per tensor, element bytes

class trt_engine_core {
 public:
  // Never throws for a bad engine or configuration: failures are logged and leave Valid() false.
  trt_engine_core(const std::string& engine_data, int device_id, bool use_cuda_graph, ShapeList& in_shapes,
                  ItemSizeList& in_item_sizes, ShapeList& out_shapes, ItemSizeList& out_item_sizes);
  virtual ~trt_engine_core();

  trt_engine_core(const trt_engine_core&) = delete;
  trt_engine_core& operator=(const trt_engine_core&) = delete;

  bool Valid() const { return mValid; }

  // One synchronous inference of batch_size samples on a profile; 0 on success, -1 after a logged error.
  int run(int profile, const void* const* inputs, int input_num, int batch_size, void** outputs,
          int* output_lens);

 private:
  friend class trt_engine_core_peer;  // the library's own tests: its state, and prepare() on its own

  bool build_net_infos(const ShapeList& in_shapes, const ItemSizeList& in_item_sizes,
                       const ShapeList& out_shapes, const ItemSizeList& out_item_sizes);
  void select_device(int device_id);
  bool load_engine(const std::string& engine_data);
  void print_engine_description() const;
  bool config_matches_engine() const;
  bool configured_bindings_are_dense() const;
  void look_up_blocks();
  bool outputs_sized_by_input_shapes();
  bool allocate_device_buffers();
  bool check_call(int profile, int input_num, int batch_size) const;
  bool check_bindings_fit_buffers(int profile) const;
  int prepare(int profile, int batch_size);
  bool capture_graph();
  void close();

  std::vector<S_net_info> mNetInfos;
  // A configured profile's block of bindings in order: what a call sets and reads back, and the bytes
  // per element of each binding's data type.
  struct ProfileBlock {
    std::vector<trt_binding::TensorShape> tensors;
    std::vector<int> element_sizes;
  };
  std::vector<ProfileBlock> mBlocks;  // per configured profile
  bool mUseCudaGraph = false;
  // Empty once construction returns where engines stand alone (TensorRT 7, 8); otherwise the runtime
  // that deserialized mEngine, declared before it so that it is released after it.
  TrtUniquePtr<nvinfer1::IRuntime> mRuntime;
  TrtUniquePtr<nvinfer1::ICudaEngine> mEngine;
  TrtUniquePtr<nvinfer1::IExecutionContext> mContext;
  std::vector<void*> mBindings;
  bool mEnableVariableLen = false;
  cudaStream_t mStream = nullptr;
  cudaGraphExec_t mGraphExec = nullptr;
  bool mValid = false;
};

#endif  // INFERLET_ENGINE_INFER_H_
