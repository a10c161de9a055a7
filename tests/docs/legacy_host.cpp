// A host of the legacy interface: loads the smoke engine named on its command line, configures its one
// profile, runs two samples and prints a few of the outputs.
#include <kestrel_trt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: legacy_host SMOKE_ENGINE\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

  // Per profile, per tensor: the largest shape a call may use (batch first) and the bytes of an element.
  std::vector<std::vector<std::vector<int>>> in_shapes{{{10, 340}, {10, 340}}};
  std::vector<std::vector<int>> in_item_sizes{{4, 4}};
  std::vector<std::vector<std::vector<int>>> out_shapes{{{10, 338}}};
  std::vector<std::vector<int>> out_item_sizes{{4}};
  trt_engine_core* handle = nullptr;
  if (kestrel_trt_new(bytes.data(), int(bytes.size()), /*device_id=*/0, /*use_cuda_graph=*/false, in_shapes,
                      in_item_sizes, out_shapes, out_item_sizes, &handle) != 0) {
    std::fprintf(stderr, "kestrel_trt_new failed: the library's last line says why\n");
    return 1;
  }

  std::vector<float> in0(2 * 340), in1(2 * 340, 1.0f);  // two samples; a call may use up to 10
  for (size_t k = 0; k < in0.size(); ++k) in0[k] = float(k % 340 % 10 + 100 * (k / 340));
  const void* inputs[] = {in0.data(), in1.data()};
  void* outputs[1];
  int output_lens[1];
  const int result =
      kestrel_trt_process(handle, /*profile=*/0, inputs, 2, /*batch_size=*/2, outputs, output_lens);
  if (result == 0) {
    const float* out0 = static_cast<const float*>(outputs[0]);  // the handle's buffer, until the next call
    std::printf("out0 %d bytes: %g %g %g %g %g\n", output_lens[0], out0[0], out0[8], out0[9], out0[338],
                out0[338 + 337]);
  }
  kestrel_trt_delete(handle);
  return result == 0 ? 0 : 1;
}
