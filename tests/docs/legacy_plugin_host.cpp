// A host of the legacy interface whose engine has a layer of its own (a TensorRT plugin): loads the
// plugin library named on its command line before the handle is made, then the engine, runs two
// samples and prints the output. Usage: legacy_plugin_host ENGINE [PLUGIN_LIBRARY]
#include <dlfcn.h>
#include <kestrel_trt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: legacy_plugin_host ENGINE [PLUGIN_LIBRARY]\n");
    return 2;
  }
  // Before the first handle whose engine needs them: the library registers its plugin creators with
  // TensorRT when it is loaded (REGISTER_TENSORRT_PLUGIN), and stays loaded.
  if (argc == 3 && !dlopen(argv[2], RTLD_NOW | RTLD_GLOBAL)) {
    std::fprintf(stderr, "cannot load the plugin library: %s\n", dlerror());
    return 1;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

  // The engine's one profile: in0 and out0 of up to [4, 4] floats.
  std::vector<std::vector<std::vector<int>>> in_shapes{{{4, 4}}}, out_shapes{{{4, 4}}};
  std::vector<std::vector<int>> in_item_sizes{{4}}, out_item_sizes{{4}};
  trt_engine_core* handle = nullptr;
  if (kestrel_trt_new(bytes.data(), int(bytes.size()), /*device_id=*/0, /*use_cuda_graph=*/false, in_shapes,
                      in_item_sizes, out_shapes, out_item_sizes, &handle) != 0) {
    std::fprintf(stderr, "kestrel_trt_new failed: the library's last line says why\n");
    return 1;
  }
  const float in0[8] = {0, 1, 2, 3, -1, -2, 0.25f, 10};
  const void* inputs[] = {in0};
  void* outputs[1];
  int output_lens[1];
  const int result =
      kestrel_trt_process(handle, /*profile=*/0, inputs, 1, /*batch_size=*/2, outputs, output_lens);
  if (result == 0) {
    const float* out0 = static_cast<const float*>(outputs[0]);
    std::printf("out0 %d bytes:", output_lens[0]);
    for (int k = 0; k < 8; ++k) std::printf(" %g", out0[k]);
    std::printf("\n");
  }
  kestrel_trt_delete(handle);
  return result == 0 ? 0 : 1;
}
