// The exported C interface: the only entry points a host calls. Each turns an engine-core outcome into
// 0 or -1 and hides trt_engine_core behind an opaque handle.
#include "kestrel_trt.h"

#include <cstdio>
#include <memory>
#include <string>

#include "engine_infer.h"
#include "logging.h"

extern "C" {

int kestrel_trt_init() { return 0; }

int kestrel_trt_uninit() { return 0; }

int kestrel_trt_new(const char* engine_buf, int engine_len, int device_id, bool use_cuda_graph,
                    std::vector<std::vector<std::vector<int>>>& in_shapes,
                    std::vector<std::vector<int>>& in_item_sizes,
                    std::vector<std::vector<std::vector<int>>>& out_shapes,
                    std::vector<std::vector<int>>& out_item_sizes, trt_engine_core** handle) {
  if (engine_len < 0) {
    logError() << "kestrel_trt_new: engine_len " << engine_len << " is negative\n";
    return -1;
  }
  if (engine_buf == nullptr && engine_len > 0) {
    logError() << "kestrel_trt_new: engine_buf is null but engine_len is " << engine_len << "\n";
    return -1;
  }
  if (handle == nullptr) {
    logError() << "kestrel_trt_new: handle is null\n";
    return -1;
  }
  std::string engine_data =
      engine_len > 0 ? std::string(engine_buf, static_cast<size_t>(engine_len)) : std::string();
  auto engine = std::make_unique<trt_engine_core>(engine_data, device_id, use_cuda_graph, in_shapes,
                                                  in_item_sizes, out_shapes, out_item_sizes);
  if (!engine->Valid()) return -1;  // the unique_ptr runs the teardown
  *handle = engine.release();
  return 0;
}

int kestrel_trt_process(trt_engine_core* handle, int profile, const void* const* inputs, int input_num,
                        int batch_size, void** outputs, int* output_lens) {
  if (handle == nullptr) {
    logError() << "kestrel_trt_process: handle is null\n";
    return -1;
  }
  return handle->run(profile, inputs, input_num, batch_size, outputs, output_lens);
}

int kestrel_trt_delete(trt_engine_core* handle) {
  if (handle == nullptr) return -1;
  std::printf("%s %lld\n", __func__, static_cast<long long>(reinterpret_cast<intptr_t>(handle)));
  delete handle;
  return 0;
}

}  // extern "C"
