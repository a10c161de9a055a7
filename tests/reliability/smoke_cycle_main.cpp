// The smoke cycle through a built deliverable: construct on the smoke engine, one call, delete, with
// CUDA graphs off and then on. Exits 0 only when every step gave the expected result and the emulated
// device holds nothing afterwards; small enough to run under valgrind.
#include <cudaemu.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kestrel_trt.h"

namespace {

constexpr int kBatch = 10;
constexpr int kInputWidth = 340;
constexpr int kOutputWidth = 338;

int Fail(const char* what) {
  std::fprintf(stderr, "smoke cycle: %s\n", what);
  return 1;
}

// The smoke network: a 3-tap [0.25, 0.5, 0.25] filter over in0 + in1, per sample.
float Expected(const std::vector<float>& in0, const std::vector<float>& in1, int sample, int x) {
  const size_t at = static_cast<size_t>(sample * kInputWidth + x);
  return 0.25f * (in0[at] + in1[at]) + 0.5f * (in0[at + 1] + in1[at + 1]) +
         0.25f * (in0[at + 2] + in1[at + 2]);
}

int Cycle(const std::string& engine, bool use_cuda_graph) {
  std::vector<std::vector<std::vector<int>>> in_shapes{{{kBatch, kInputWidth}, {kBatch, kInputWidth}}};
  std::vector<std::vector<int>> in_item_sizes{{4, 4}};
  std::vector<std::vector<std::vector<int>>> out_shapes{{{kBatch, kOutputWidth}}};
  std::vector<std::vector<int>> out_item_sizes{{4}};
  trt_engine_core* handle = nullptr;
  if (kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), 0, use_cuda_graph, in_shapes,
                      in_item_sizes, out_shapes, out_item_sizes, &handle) != 0) {
    return Fail("kestrel_trt_new failed");
  }

  std::vector<float> in0(kBatch * kInputWidth);
  std::vector<float> in1(kBatch * kInputWidth);
  for (size_t i = 0; i < in0.size(); ++i) {
    in0[i] = static_cast<float>(i % 17) * 0.25f;
    in1[i] = static_cast<float>(i % 5) - 2.0f;
  }
  const void* inputs[] = {in0.data(), in1.data()};
  void* output = nullptr;
  int output_len = 0;
  const int code = kestrel_trt_process(handle, 0, inputs, 2, kBatch, &output, &output_len);
  if (code != 0) return Fail("kestrel_trt_process failed");
  if (output_len != kBatch * kOutputWidth * 4) return Fail("wrong output length");
  const float* values = static_cast<const float*>(output);
  for (int sample = 0; sample < kBatch; ++sample) {
    for (int x = 0; x < kOutputWidth; ++x) {
      if (std::fabs(values[sample * kOutputWidth + x] - Expected(in0, in1, sample, x)) > 1e-5f) {
        return Fail("wrong output value");
      }
    }
  }
  if (kestrel_trt_delete(handle) != 0) return Fail("kestrel_trt_delete failed");
  if (cudaemu_live_allocations() != 0 || cudaemu_live_streams() != 0 || cudaemu_live_graphs() != 0 ||
      cudaemu_live_graph_execs() != 0) {
    return Fail("the emulated device still holds resources");
  }
  if (cudaemu_violations() != 0) return Fail("the emulated device saw out-of-bounds accesses");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <smoke engine file>\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) return Fail("cannot read the engine file");
  const std::string engine((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (Cycle(engine, false) != 0 || Cycle(engine, true) != 0) return 1;
  std::puts("smoke cycle ok");
  return 0;
}
