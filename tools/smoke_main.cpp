// Smoke test compiled into each deliverable and exported as `main`: load the fixed engine file, run one
// batch of 10 through the C interface, print the outcome, release the handle.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

#include "kestrel_trt.h"

namespace {
constexpr const char* kEnginePath = "/root/marlinx/model.trt";
constexpr int kBatch = 10;
constexpr int kInputWidth = 340;
constexpr int kOutputWidth = 338;
constexpr int kItemSize = 4;                                              // float32 tensors
constexpr size_t kInputBytes = size_t{kBatch} * kInputWidth * kItemSize;  // 13600

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
}  // namespace

int main() {
  std::puts("process...");
  std::ifstream file(kEnginePath, std::ios::binary);
  if (!file.is_open()) {
    std::puts("load model failed");
    return -1;
  }
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  std::vector<char> engine(size > 0 ? static_cast<size_t>(size) : 0);
  file.read(engine.data(), static_cast<std::streamsize>(engine.size()));
  file.close();

  std::vector<std::vector<std::vector<int>>> in_shapes{{{kBatch, kInputWidth}, {kBatch, kInputWidth}}};
  std::vector<std::vector<int>> in_item_sizes{{kItemSize, kItemSize}};
  std::vector<std::vector<std::vector<int>>> out_shapes{{{kBatch, kOutputWidth}}};
  std::vector<std::vector<int>> out_item_sizes{{kItemSize}};
  trt_engine_core* handle = nullptr;
  if (kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), 0, false, in_shapes, in_item_sizes,
                      out_shapes, out_item_sizes, &handle) != 0) {
    std::puts("kestrel_trt_new failed");
    return -1;
  }

  // The inputs' contents do not matter: the run is judged by its result code and output size.
  std::unique_ptr<void, FreeDeleter> in0(std::malloc(kInputBytes));
  std::unique_ptr<void, FreeDeleter> in1(std::malloc(kInputBytes));
  const void* inputs[] = {in0.get(), in1.get()};
  void* output = nullptr;
  int output_len = 0;  // stays 0 when the call fails before reporting a length
  const int code = kestrel_trt_process(handle, 0, inputs, 2, kBatch, &output, &output_len);
  std::printf("kestrel_trt_process code = %d , output_buf_size = %d\n", code, output_len);
  kestrel_trt_delete(handle);
  std::puts("end");
  return 0;
}
