// A host program compiled once against include/kestrel_trt.h that loads whichever deliverable it is
// given, as an application does, and runs the same calls on every sample network: construction with
// and without CUDA graphs, calls on every profile at several batch sizes, two calls the library
// refuses, and the release. Everything it learns goes to standard output, beside the library's own
// lines, so two deliverables can be compared line by line.
//
//   inferlet_same_output_host <deliverable.so> <engine dir> <major>
//
// Engines are read from <engine dir>/<sample>-trt<major>.engine. Exit status 0 after the run, 1 when
// the deliverable or an engine cannot be loaded.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kestrel_trt.h"

namespace {

using Shapes = std::vector<std::vector<std::vector<int>>>;
using ItemSizes = std::vector<std::vector<int>>;

struct Sample {
  const char* name;
  Shapes in_shapes;
  ItemSizes in_item_sizes;
  Shapes out_shapes;
  ItemSizes out_item_sizes;
};

// The sample networks of the stand-in TensorRT with their configurations; every tensor is float.
std::vector<Sample> Samples() {
  return {
      {"smoke", {{{10, 340}, {10, 340}}}, {{4, 4}}, {{{10, 338}}}, {{4}}},
      {"two_profiles",
       {{{4, 4, 8}, {4, 4, 8}}, {{16, 4, 8}, {16, 4, 8}}},
       {{4, 4}, {4, 4}},
       {{{4, 4, 8}}, {{16, 4, 8}}},
       {{4}, {4}}},
      {"mixed_rank", {{{8, 8}, {8, 4, 8}}}, {{4, 4}}, {{{8, 8}, {8, 4, 8}}}, {{4, 4}}},
      {"mlp", {{{32, 16}}}, {{4}}, {{{32, 4}}}, {{4}}},
      {"static_batch", {{{4, 8}}}, {{4}}, {{{4, 8}}}, {{4}}},
  };
}

struct Interface {
  decltype(&kestrel_trt_new) create = nullptr;
  decltype(&kestrel_trt_process) process = nullptr;
  decltype(&kestrel_trt_delete) release = nullptr;
};

uint64_t Fnv(const void* data, int bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (int i = 0; i < bytes; ++i) {
    hash ^= static_cast<const unsigned char*>(data)[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

// batch_size samples of every input of a profile, the same values for the same seed.
std::vector<std::vector<float>> Inputs(const Shapes& in_shapes, int profile, int batch_size, uint32_t seed) {
  std::vector<std::vector<float>> inputs;
  uint32_t state = seed * 2654435761u + 7u;
  for (const std::vector<int>& shape : in_shapes[static_cast<size_t>(profile)]) {
    size_t count = static_cast<size_t>(batch_size);
    for (size_t d = 1; d < shape.size(); ++d) count *= static_cast<size_t>(shape[d]);
    std::vector<float> values(count);
    for (float& value : values) {
      state = state * 1664525u + 1013904223u;
      value = static_cast<float>(static_cast<int>(state >> 21) - 1024) / 256.0f;
    }
    inputs.push_back(std::move(values));
  }
  return inputs;
}

void Call(const Interface& api, trt_engine_core* handle, const Sample& sample, int profile, int batch_size,
          int input_num_delta, uint32_t seed) {
  const std::vector<std::vector<float>> inputs = Inputs(sample.in_shapes, profile, batch_size, seed);
  std::vector<const void*> pointers;
  for (const std::vector<float>& input : inputs) pointers.push_back(input.data());
  const size_t n_out = sample.out_shapes[static_cast<size_t>(profile)].size();
  std::vector<void*> outputs(n_out, nullptr);
  std::vector<int> lens(n_out, 0);
  const int code =
      api.process(handle, profile, pointers.data(), static_cast<int>(pointers.size()) + input_num_delta,
                  batch_size, outputs.data(), lens.data());
  std::printf("host: %s profile %d batch %d inputs %d: code %d\n", sample.name, profile, batch_size,
              static_cast<int>(pointers.size()) + input_num_delta, code);
  if (code != 0) return;
  for (size_t j = 0; j < n_out; ++j) {
    std::printf("host:   output %zu: %d bytes, fnv %016llx\n", j, lens[j],
                static_cast<unsigned long long>(Fnv(outputs[j], lens[j])));
  }
}

void Run(const Interface& api, const Sample& sample, const std::string& engine, bool use_cuda_graph) {
  Shapes in_shapes = sample.in_shapes;
  ItemSizes in_item_sizes = sample.in_item_sizes;
  Shapes out_shapes = sample.out_shapes;
  ItemSizes out_item_sizes = sample.out_item_sizes;
  trt_engine_core* handle = nullptr;
  const int code = api.create(engine.data(), static_cast<int>(engine.size()), 0, use_cuda_graph, in_shapes,
                              in_item_sizes, out_shapes, out_item_sizes, &handle);
  std::printf("host: %s cuda graph %d: kestrel_trt_new %d\n", sample.name, use_cuda_graph ? 1 : 0, code);
  if (code != 0) return;
  uint32_t seed = 1;
  for (int profile = static_cast<int>(sample.in_shapes.size()) - 1; profile >= 0; --profile) {
    const int max_batch = sample.in_shapes[static_cast<size_t>(profile)][0][0];
    for (int batch : {max_batch, 1, (max_batch + 1) / 2, max_batch})
      Call(api, handle, sample, profile, batch, 0, seed++);
  }
  const int max_batch = sample.in_shapes[0][0][0];
  Call(api, handle, sample, 0, max_batch + 1, 0, seed++);  // above the configured batch
  Call(api, handle, sample, 0, 1, 1, seed++);              // one input too many
  Call(api, handle, sample, 0, 1, 0, seed++);
  api.release(handle);
}

std::string ReadFile(const std::string& path, bool* ok) {
  std::ifstream file(path, std::ios::binary);
  *ok = static_cast<bool>(file);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: inferlet_same_output_host <deliverable.so> <engine dir> <major>");
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return Fail(std::string("dlopen: ") + dlerror());
  Interface api;
  api.create = reinterpret_cast<decltype(api.create)>(dlsym(library, "kestrel_trt_new"));
  api.process = reinterpret_cast<decltype(api.process)>(dlsym(library, "kestrel_trt_process"));
  api.release = reinterpret_cast<decltype(api.release)>(dlsym(library, "kestrel_trt_delete"));
  if (!api.create || !api.process || !api.release) return Fail("the deliverable lacks the C interface");

  for (const Sample& sample : Samples()) {
    bool ok = false;
    const std::string path = std::string(argv[2]) + "/" + sample.name + "-trt" + argv[3] + ".engine";
    const std::string engine = ReadFile(path, &ok);
    if (!ok) return Fail("cannot read " + path);
    for (bool use_cuda_graph : {false, true}) Run(api, sample, engine, use_cuda_graph);
  }
  std::fflush(stdout);
  return 0;
}
