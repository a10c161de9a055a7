// A host program linked against a deliverable: loads the smoke engine and asks for a handle. On a
// machine without a GPU driver the library must report the CUDA failure and not crash.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "kestrel_trt.h"

int main() {
  std::ifstream file(SMOKE_ENGINE, std::ios::binary);
  std::vector<char> engine((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::vector<std::vector<int>>> in_shapes{{{10, 340}, {10, 340}}};
  std::vector<std::vector<int>> in_item_sizes{{4, 4}};
  std::vector<std::vector<std::vector<int>>> out_shapes{{{10, 338}}};
  std::vector<std::vector<int>> out_item_sizes{{4}};
  trt_engine_core* handle = nullptr;
  const int code = kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), 0, false, in_shapes,
                                   in_item_sizes, out_shapes, out_item_sizes, &handle);
  std::printf("kestrel_trt_new returned %d\n", code);
  if (code == 0) kestrel_trt_delete(handle);
  return 0;
}
