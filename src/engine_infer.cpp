// Hosts parse this file's output byte for byte, so its odd texts are deliberate and stay as they are:
// "destory", "ouput_buf", "exeuction", the literal "<< mEnableVariableLen", "setDevice 0ok" logged at
// error level, and the CUDA graph that is captured and instantiated but never launched (calls always
// enqueue). The library's tests pin every one of them.
#include "engine_infer.h"

#include <NvInferPlugin.h>

#include <cstdint>
#include <cstdio>
#include <limits>

#include "cuda_check.h"
#include "cuda_graph.h"
#include "logging.h"
#include "trt_binding.h"

namespace {

struct TensorMessages {
  const char* ndim;
  const char* zero;
  const char* range;
};
constexpr TensorMessages kInputMessages{"input shape ndim must in 2-8\n",
                                        "input shape can not contain zero\n", "input shape out of range\n"};
constexpr TensorMessages kOutputMessages{
    "output shape ndim must in 2-8\n", "output shape can not contain zero\n", "output shape out of range\n"};

// Byte size of tensor j of profile p: its item size times every dimension. Computed in 64 bits so a
// large shape cannot wrap into a wrong (or zero) allocation size; sizes must fit a signed 32-bit int.
bool tensorBytes(const std::vector<int>& shape, const ItemSizeList& item_sizes, size_t p, size_t j,
                 const TensorMessages& messages, int* bytes) {
  if (shape.size() < 2 || shape.size() > 8) {
    logError() << messages.ndim;
    return false;
  }
  if (p >= item_sizes.size() || j >= item_sizes[p].size()) {
    logError() << "bad input or output item_size\n";
    return false;
  }
  const int item_size = item_sizes[p][j];
  bool has_zero = item_size == 0;
  bool has_negative = item_size < 0;
  for (int dim : shape) {
    has_zero |= dim == 0;
    has_negative |= dim < 0;
  }
  if (has_zero) {
    logError() << messages.zero;
    return false;
  }
  if (has_negative) {
    logError() << messages.range;
    return false;
  }
  int64_t total = item_size;
  for (int dim : shape) {
    total *= dim;  // both factors are below 2^31, so this cannot overflow 64 bits
    if (total > std::numeric_limits<int>::max()) {
      logError() << messages.range;
      return false;
    }
  }
  *bytes = static_cast<int>(total);
  return true;
}

// One zero-filled device buffer per byte size, stored as it is made so that teardown frees exactly
// what was allocated; a null pointer after a successful allocation logs null_message and stops.
bool allocateZeroed(const std::vector<int>& sizes, std::vector<void*>& bufs, const char* null_message) {
  for (size_t j = 0; j < sizes.size(); ++j) {
    void* buf = nullptr;
    const size_t bytes = static_cast<size_t>(sizes[j]);
    CUDA_CHECK(cudaMalloc(&buf, bytes));
    CUDA_CHECK(cudaMemset(buf, 0, bytes));
    bufs[j] = buf;
    if (!bufs[j]) {
      logError() << null_message;
      return false;
    }
  }
  return true;
}

// An input's dimensions in a call: batch_size, then the configured shape's extents after the first.
trt_binding::Extents callDimensions(const std::vector<int>& shape, int batch_size) {
  trt_binding::Extents dims;
  dims.nbDims = static_cast<int>(shape.size());
  dims.d[0] = batch_size;
  for (size_t j = 1; j < shape.size() && j < 8; ++j) dims.d[j] = shape[j];
  return dims;
}

// TensorRT refused an input's dimensions: the context keeps the previous ones, so the call must stop.
void logDimensionsRefused(int profile, int input, const std::vector<int>& shape, int batch_size) {
  Logger& line = logError() << "input " << input << " dimensions [" << batch_size;
  for (size_t j = 1; j < shape.size(); ++j) line << ", " << shape[j];
  line << "] are not accepted by profile " << profile << " of the engine\n";
}

}  // namespace

trt_engine_core::trt_engine_core(const std::string& engine_data, int device_id, bool use_cuda_graph,
                                 ShapeList& in_shapes, ItemSizeList& in_item_sizes, ShapeList& out_shapes,
                                 ItemSizeList& out_item_sizes)
    : mUseCudaGraph(use_cuda_graph) {
  select_device(device_id);
  logInfo() << "CUDA Graph is " << mUseCudaGraph << "\n";
  if (!build_net_infos(in_shapes, in_item_sizes, out_shapes, out_item_sizes)) return;

  mValid = load_engine(engine_data);
  trt_binding::settleRuntime(mRuntime);
}

bool trt_engine_core::load_engine(const std::string& engine_data) {
  initLibNvInferPlugins(&gLogger, "");
  logInfo() << "Loading trt_engine_core ... \n";
  mRuntime.reset(nvinfer1::createInferRuntime(gLogger));
  if (!mRuntime) {
    logError() << "Error creating TRT runtime\n";
    return false;
  }
  mEngine.reset(mRuntime->deserializeCudaEngine(engine_data.data(), engine_data.size()));
  if (!mEngine) {
    logError() << "Error deserializing CUDA engine\n";
    return false;
  }
  print_engine_description();

  const int nb_bindings = trt_binding::bindingCount(*mEngine);
  const int nb_profiles = mEngine->getNbOptimizationProfiles();
  logInfo() << "getNbBindings " << nb_bindings << ",getNbOptimizationProfiles " << nb_profiles
            << ",numBindingPerProfile " << (nb_profiles > 0 ? trt_binding::bindingsPerProfile(*mEngine) : 0)
            << "\n";
  mEnableVariableLen = false;
  logInfo() << "Variable length is enabled: << mEnableVariableLen\n";
  if (!config_matches_engine() || !configured_bindings_are_dense()) return false;
  look_up_blocks();

  mContext.reset(mEngine->createExecutionContext());
  if (!mContext) {
    logError() << "Error creating execution context\n";
    return false;
  }
  if (!outputs_sized_by_input_shapes()) return false;
  CUDA_CHECK(cudaStreamCreate(&mStream));
  if (!allocate_device_buffers()) return false;
  mBindings.assign(static_cast<size_t>(nb_bindings), nullptr);
  return true;
}

trt_engine_core::~trt_engine_core() { close(); }

void trt_engine_core::select_device(int device_id) {
  int count = 0;
  if (cudaGetDeviceCount(&count) != cudaSuccess) {
    logError() << "cudaGetDeviceCount failed\n";
    return;
  }
  if (device_id >= count) return;  // signed: a negative ordinal goes on to cudaSetDevice and fails there
  if (cudaSetDevice(device_id) != cudaSuccess) {
    logError() << "cudaSetDevice failed\n";
    return;
  }
  logError() << "setDevice " << device_id << "ok\n";
}

bool trt_engine_core::build_net_infos(const ShapeList& in_shapes, const ItemSizeList& in_item_sizes,
                                      const ShapeList& out_shapes, const ItemSizeList& out_item_sizes) {
  if (in_shapes.empty() || out_shapes.empty() || in_shapes.size() != out_shapes.size()) {
    logError() << "bad input or output shape\n";
    return false;
  }
  if (in_item_sizes.empty() || out_item_sizes.empty()) {
    logError() << "bad input or output item_size\n";
    return false;
  }
  mValid = false;
  mNetInfos.resize(out_shapes.size());
  for (size_t p = 0; p < mNetInfos.size(); ++p) {
    S_net_info& rec = mNetInfos[p];
    const size_t n_in = in_shapes[p].size();
    rec.input_sizes.resize(n_in);
    rec.input_bufs.resize(n_in);
    rec.input_shapes = in_shapes[p];
    for (size_t j = 0; j < n_in; ++j) {
      if (!tensorBytes(rec.input_shapes[j], in_item_sizes, p, j, kInputMessages, &rec.input_sizes[j]))
        return false;
      rec.input_bufs[j] = nullptr;
    }
    const size_t n_out = out_shapes[p].size();
    rec.output_bufs.resize(n_out);
    rec.output_sizes.resize(n_out);
    rec.output_host_bufs.resize(n_out);
    rec.output_shapes = out_shapes[p];
    for (size_t j = 0; j < n_out; ++j) {
      if (!tensorBytes(rec.output_shapes[j], out_item_sizes, p, j, kOutputMessages, &rec.output_sizes[j])) {
        return false;
      }
      rec.output_bufs[j] = nullptr;
      rec.output_host_bufs[j].assign(static_cast<size_t>(rec.output_sizes[j]), 0);
    }
  }
  return true;
}

void trt_engine_core::print_engine_description() const {
  const char* name = mEngine->getName();
  std::printf("mEngine Name %s,max_batch_size %d,isRefittable %d\n", name ? name : "",
              trt_binding::maxBatchSize(*mEngine), mEngine->isRefittable() ? 1 : 0);
  const int nb_bindings = trt_binding::bindingCount(*mEngine);
  for (int b = 0; b < nb_bindings; ++b) {
    const trt_binding::Binding binding = trt_binding::binding(*mEngine, b);
    std::printf("bind %d,name %s IsInput %d , dtype %d\n", b,
                trt_binding::bindingName(*mEngine, binding).c_str(),
                trt_binding::bindingIsInput(*mEngine, binding) ? 1 : 0,
                static_cast<int>(trt_binding::bindingDataType(*mEngine, binding)));
    std::puts("shape:");
    const trt_binding::Extents dims = trt_binding::bindingDimensions(*mEngine, binding);
    for (int i = 0; i < dims.nbDims && i < 8; ++i) std::printf("%lld ", static_cast<long long>(dims.d[i]));
    std::putchar('\n');
  }
}

// Everything later indexes the binding array by the configuration, so the configuration must describe
// the engine's binding blocks exactly: at most as many profiles, each with the block's inputs first and
// its outputs after them.
bool trt_engine_core::config_matches_engine() const {
  const int nb_profiles = mEngine->getNbOptimizationProfiles();
  if (nb_profiles < 1 || mNetInfos.size() > static_cast<size_t>(nb_profiles)) {
    logError() << "config has " << mNetInfos.size() << " profiles but the engine has " << nb_profiles << "\n";
    return false;
  }
  const int per_profile = trt_binding::bindingsPerProfile(*mEngine);
  for (size_t p = 0; p < mNetInfos.size(); ++p) {
    const int n_in = static_cast<int>(mNetInfos[p].input_shapes.size());
    const int n_out = static_cast<int>(mNetInfos[p].output_shapes.size());
    if (n_in + n_out != per_profile) {
      logError() << "profile " << p << " config has " << n_in << " inputs and " << n_out
                 << " outputs but the engine has " << per_profile << " bindings per profile\n";
      return false;
    }
    for (int k = 0; k < per_profile; ++k) {
      const bool configured_input = k < n_in;
      const int b = trt_binding::bindingIndex(*mEngine, static_cast<int>(p), k);
      if (trt_binding::bindingIsInput(*mEngine, trt_binding::binding(*mEngine, b)) != configured_input) {
        logError() << "profile " << p << " binding " << b << " is an engine "
                   << (configured_input ? "output" : "input") << " but configured as an "
                   << (configured_input ? "input" : "output") << "\n";
        return false;
      }
    }
  }
  return true;
}

// Every buffer is sized, filled and copied as a dense row-major tensor in device memory. A binding
// built in a vectorized or channel-last format would be read and written past its buffer and in
// another element order, and one in host memory would be handed a device pointer.
bool trt_engine_core::configured_bindings_are_dense() const {
  const int configured = static_cast<int>(mNetInfos.size()) * trt_binding::bindingsPerProfile(*mEngine);
  for (int b = 0; b < configured; ++b) {
    const trt_binding::Binding binding = trt_binding::binding(*mEngine, b);
    const std::string refusal = trt_binding::layoutRefusal(trt_binding::bindingLayout(*mEngine, binding));
    if (refusal.empty()) continue;
    logError() << "binding " << b << " (" << trt_binding::bindingName(*mEngine, binding) << ") " << refusal
               << "\n";
    return false;
  }
  return true;
}

// Each configured profile's block as a call resolves it: its bindings and their element sizes are looked
// up once here, so that a call asks TensorRT only about shapes and addresses. The configuration has the
// block's inputs first.
void trt_engine_core::look_up_blocks() {
  mBlocks.resize(mNetInfos.size());
  for (size_t p = 0; p < mNetInfos.size(); ++p) {
    const size_t n_in = mNetInfos[p].input_shapes.size();
    ProfileBlock& block = mBlocks[p];
    block.tensors.resize(n_in + mNetInfos[p].output_shapes.size());
    for (size_t k = 0; k < block.tensors.size(); ++k) {
      trt_binding::TensorShape& tensor = block.tensors[k];
      tensor.binding = trt_binding::binding(
          *mEngine, trt_binding::bindingIndex(*mEngine, static_cast<int>(p), static_cast<int>(k)));
      tensor.is_input = k < n_in;
      block.element_sizes.push_back(elementSize(trt_binding::bindingDataType(*mEngine, tensor.binding)));
    }
  }
}

bool trt_engine_core::allocate_device_buffers() {
  for (S_net_info& rec : mNetInfos) {
    if (!allocateZeroed(rec.input_sizes, rec.input_bufs, "cudaMalloc input_buf return zero buffer\n"))
      return false;
    if (!allocateZeroed(rec.output_sizes, rec.output_bufs, "cudaMalloc ouput_buf return zero buffer\n"))
      return false;
  }
  return true;
}

// Refuses, before any work, the calls whose copies could not stay inside the profile's buffers.
bool trt_engine_core::check_call(int profile, int input_num, int batch_size) const {
  if (profile < 0 || static_cast<size_t>(profile) >= mNetInfos.size()) {
    logError() << "profile " << profile << " out of range, configured profiles " << mNetInfos.size() << "\n";
    return false;
  }
  const S_net_info& rec = mNetInfos[profile];
  const int n_in = static_cast<int>(rec.input_bufs.size());
  if (input_num != n_in) {
    logError() << "input num " << input_num << " not eq graph config input num " << n_in << "\n";
    return false;
  }
  if (n_in == 0) {
    logError() << "profile " << profile << " has no inputs\n";
    return false;
  }
  if (batch_size < 1) {
    logError() << "input batch_size " << batch_size << " must be at least 1\n";
    return false;
  }
  if (rec.input_shapes[0][0] < batch_size) {
    logError() << "input batch_size " << batch_size << " must lte graph config input batch_size "
               << rec.input_shapes[0][0] << "\n";
    return false;
  }
  for (size_t i = 1; i < rec.input_shapes.size(); ++i) {
    if (rec.input_shapes[i][0] < batch_size) {
      logError() << "input batch_size " << batch_size << " must lte graph config input " << i
                 << " batch_size " << rec.input_shapes[i][0] << "\n";
      return false;
    }
  }
  for (size_t j = 0; j < rec.output_shapes.size(); ++j) {
    if (rec.output_shapes[j][0] < batch_size) {
      logError() << "input batch_size " << batch_size << " must lte graph config output " << j
                 << " batch_size " << rec.output_shapes[j][0] << "\n";
      return false;
    }
  }
  return true;
}

// The engine reads and writes whole bindings at the dimensions the context resolved (read back into the
// profile's block); each must fit the buffer that was sized from the configuration.
bool trt_engine_core::check_bindings_fit_buffers(int profile) const {
  const S_net_info& rec = mNetInfos[profile];
  const ProfileBlock& block = mBlocks[profile];
  const int n_in = static_cast<int>(rec.input_sizes.size());
  const int n_all = static_cast<int>(block.tensors.size());
  for (int k = 0; k < n_all; ++k) {
    const int b = block.tensors[k].binding.index;
    const trt_binding::Extents& dims = block.tensors[k].dims;
    if (dims.nbDims < 0 || dims.nbDims > 8) {  // TensorRT's invalid Dims: nothing known fits
      logError() << "binding " << b << " has no valid dimensions (nbDims " << dims.nbDims << ")\n";
      return false;
    }
    const int64_t bytes =
        trt_binding::extentsBytes(dims, block.element_sizes[k], std::numeric_limits<int>::max());
    const int capacity = k < n_in ? rec.input_sizes[k] : rec.output_sizes[k - n_in];
    if (bytes > capacity) {
      logError() << "binding " << b << " needs " << static_cast<long long>(bytes)
                 << " bytes but its buffer holds " << capacity << "\n";
      return false;
    }
  }
  return true;
}

int trt_engine_core::prepare(int profile, int batch_size) {
  if (!trt_binding::selectProfile(*mContext, profile, mStream)) {
    logError() << "profile " << profile << " is not accepted by the engine\n";
    return -1;
  }
  const S_net_info& rec = mNetInfos[profile];
  std::vector<trt_binding::TensorShape>& block = mBlocks[profile].tensors;
  const int n_in = static_cast<int>(rec.input_bufs.size());
  const int n_all = static_cast<int>(block.size());
  for (int k = 0; k < n_all; ++k) {
    mBindings[block[k].binding.index] = k < n_in ? rec.input_bufs[k] : rec.output_bufs[k - n_in];
  }

  for (int i = 0; i < n_in; ++i) block[i].dims = callDimensions(rec.input_shapes[i], batch_size);
  // Every binding is read back, in order, for the fit check.
  const trt_binding::ShapeResolution resolution =
      trt_binding::resolveShapes(*mContext, block.data(), n_all, trt_binding::ReadBack::kEveryTensor);
  if (resolution.outcome == trt_binding::ShapeResolution::kInputRefused) {
    logDimensionsRefused(profile, resolution.tensor, rec.input_shapes[resolution.tensor], batch_size);
    return -1;
  }
  if (resolution.outcome == trt_binding::ShapeResolution::kInputsIncomplete) {
    logError() << "Not all input dimensions are specified for the exeuction context\n";
    return -1;
  }
  if (!check_bindings_fit_buffers(profile)) return -1;  // what a binding without dimensions fits, too
  // Every address of the profile, on every call (see bindAddress).
  for (const trt_binding::TensorShape& tensor : block) {
    const int b = tensor.binding.index;
    if (!trt_binding::bindAddress(*mContext, tensor.binding, mBindings[b])) {
      logError() << "binding " << b << " address is not accepted by the engine\n";
      return -1;
    }
  }
  if (!mUseCudaGraph) return 0;
  return capture_graph() ? 0 : -1;
}

// Runs the network once (TensorRT needs one enqueue with the new shapes before a capture), then
// records a second enqueue into a CUDA graph and instantiates it.
bool trt_engine_core::capture_graph() {
  if (!trt_binding::enqueue(*mContext, mBindings.data(), mStream)) {
    logError() << "Enqueue failed\n";
    return false;
  }
  // Relaxed, unlike the sessions' ThreadLocal, so that hosts see what they always saw: with an
  // allocation TensorRT makes inside the captured enqueue, ThreadLocal would fail the enqueue ("Enqueue
  // failed"), where Relaxed records the freed memory and the instantiation below refuses the graph.
  CUDA_CHECK(cudaStreamBeginCapture(mStream, cudaStreamCaptureModeRelaxed));
  if (!trt_binding::enqueue(*mContext, mBindings.data(), mStream)) {
    logError() << "Enqueue failed\n";
    // Leave the stream out of capture mode so the next call can use it.
    cudaGraph_t partial = nullptr;
    gpuAssert(cudaStreamEndCapture(mStream, &partial), __FILE__, __LINE__, false);
    if (partial) gpuAssert(cudaGraphDestroy(partial), __FILE__, __LINE__, false);
    return false;
  }
  cudaGraph_t graph = nullptr;
  CUDA_CHECK(cudaStreamEndCapture(mStream, &graph));
  CUDA_CHECK(cudaStreamSynchronize(mStream));
  cudaGraphExec_t exec = nullptr;
  CUDA_CHECK(instantiateGraph(&exec, graph));
  // Releasing graphs changes no result: a failure is reported and the call goes on.
  gpuAssert(cudaGraphDestroy(graph), __FILE__, __LINE__, false);
  if (mGraphExec) gpuAssert(cudaGraphExecDestroy(mGraphExec), __FILE__, __LINE__, false);
  mGraphExec = exec;
  return true;
}

int trt_engine_core::run(int profile, const void* const* inputs, int input_num, int batch_size,
                         void** outputs, int* output_lens) {
  if (!check_call(profile, input_num, batch_size)) return -1;
  if (prepare(profile, batch_size) != 0) return -1;
  S_net_info& rec = mNetInfos[profile];

  for (size_t i = 0; i < rec.input_bufs.size(); ++i) {
    const int bytes = rec.input_sizes[i] / rec.input_shapes[i][0] * batch_size;
    const cudaError_t status = cudaMemcpyAsync(rec.input_bufs[i], inputs[i], static_cast<size_t>(bytes),
                                               cudaMemcpyHostToDevice, mStream);
    if (status != cudaSuccess) {
      gpuAssert(status, __FILE__, __LINE__, false);
      // The copies already issued may read the caller's inputs when they run (CUDA lets a copy from
      // pageable memory return before that), and the caller may release them once the call returns.
      if (i > 0) gpuAssert(cudaStreamSynchronize(mStream), __FILE__, __LINE__, false);
      return -1;
    }
  }
  CUDA_CHECK(cudaStreamSynchronize(mStream));

  if (!trt_binding::enqueue(*mContext, mBindings.data(), mStream)) {
    logError() << "Enqueue failed\n";
    return -1;
  }
  cudaError_t status = cudaStreamSynchronize(mStream);
  if (status != cudaSuccess) {
    gpuAssert(status, __FILE__, __LINE__, false);
    return -1;
  }

  for (size_t j = 0; j < rec.output_bufs.size(); ++j) {
    const int bytes = rec.output_sizes[j] / rec.output_shapes[j][0] * batch_size;
    status = cudaMemcpyAsync(rec.output_host_bufs[j].data(), rec.output_bufs[j], static_cast<size_t>(bytes),
                             cudaMemcpyDeviceToHost, mStream);
    if (status != cudaSuccess) {
      gpuAssert(status, __FILE__, __LINE__, false);
      return -1;
    }
    output_lens[j] = bytes;
    outputs[j] = rec.output_host_bufs[j].data();
  }
  status = cudaStreamSynchronize(mStream);
  if (status != cudaSuccess) {
    gpuAssert(status, __FILE__, __LINE__, false);
    return -1;
  }
  return 0;
}

void trt_engine_core::close() {
  logInfo() << __func__ << "destory...\n";
  if (mStream) {
    // Work still queued may use the context released after this (a profile switch of TensorRT 10 on);
    // destroying a stream does not wait for it.
    CUDA_CHECK(cudaStreamSynchronize(mStream));
    CUDA_CHECK(cudaStreamDestroy(mStream));
    mStream = nullptr;
  }
  if (mGraphExec) {
    gpuAssert(cudaGraphExecDestroy(mGraphExec), __FILE__, __LINE__, false);  // reported, teardown goes on
    mGraphExec = nullptr;
  }
  for (const S_net_info& rec : mNetInfos) {
    for (void* buf : rec.input_bufs) {
      if (buf) CUDA_CHECK(cudaFree(buf));
    }
    for (void* buf : rec.output_bufs) {
      if (buf) CUDA_CHECK(cudaFree(buf));
    }
  }
  mNetInfos.clear();
  logInfo() << __func__ << "destroy ok\n";
}
