// Any configuration through kestrel_trt_new with a real sample engine: profile and tensor counts,
// ranks, dimensions and item sizes decoded from the fuzz bytes, negative and huge values included.
// A handle that comes back must answer calls within its buffers and release everything when deleted.
//
// Input layout (see ByteReader::Int for how one value is read):
//   engine index byte, flags byte (bit 0: CUDA graphs), device id value,
//   in_shapes, in_item_sizes, out_shapes, out_item_sizes, each as
//     shapes:     profile count byte % 5, per profile tensor count byte % 5, per tensor rank byte % 10
//                 and that many values;
//     item sizes: profile count byte % 5, per profile count byte % 5 and that many values.
#include <climits>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "kestrel_trt.h"

using inferlet_fuzz::ByteReader;
using inferlet_fuzz::CheckAllReleased;
using inferlet_fuzz::CheckNoViolations;
using inferlet_fuzz::Finding;
using inferlet_fuzz::ItemSizeList;
using inferlet_fuzz::kSamples;
using inferlet_fuzz::ModelConfig;
using inferlet_fuzz::Sample;
using inferlet_fuzz::ShapeList;
using inferlet_fuzz::SilenceStdout;
using inferlet_fuzz::TensorBytes;

namespace {

// Configurations the library would accept with buffers this large are left alone: they are valid
// requests for that much memory, not faults.
constexpr int64_t kMaxTotalBytes = int64_t{64} << 20;

ShapeList ReadShapes(ByteReader& in) {
  ShapeList shapes(in.Byte() % 5);
  for (auto& profile : shapes) {
    profile.resize(in.Byte() % 5);
    for (auto& shape : profile) {
      shape.resize(in.Byte() % 10);
      for (int& dim : shape) dim = in.Int();
    }
  }
  return shapes;
}

ItemSizeList ReadItemSizes(ByteReader& in) {
  ItemSizeList sizes(in.Byte() % 5);
  for (auto& profile : sizes) {
    profile.resize(in.Byte() % 5);
    for (int& size : profile) size = in.Int();
  }
  return sizes;
}

// Sum of the bytes of every tensor the library could accept and allocate.
int64_t AcceptableBytes(const ShapeList& shapes, const ItemSizeList& sizes) {
  int64_t total = 0;
  for (size_t p = 0; p < shapes.size() && p < sizes.size(); ++p) {
    for (size_t j = 0; j < shapes[p].size() && j < sizes[p].size(); ++j) {
      const int64_t bytes = TensorBytes(shapes[p][j], sizes[p][j]);
      if (bytes > 0 && bytes <= INT_MAX) total += bytes;
    }
  }
  return total;
}

// One call per configured profile at its largest batch, with inputs exactly as large as configured.
// Returns how many calls succeeded.
int CallEveryProfile(trt_engine_core* handle, const ModelConfig& config) {
  int successes = 0;
  for (size_t p = 0; p < config.in_shapes.size(); ++p) {
    const auto& in_shapes = config.in_shapes[p];
    if (in_shapes.empty()) continue;
    const int batch = in_shapes[0][0];
    std::vector<std::vector<char>> buffers;
    std::vector<const void*> inputs;
    for (size_t i = 0; i < in_shapes.size(); ++i) {
      buffers.emplace_back(static_cast<size_t>(TensorBytes(in_shapes[i], config.in_item_sizes[p][i])), 1);
    }
    for (const auto& buffer : buffers) inputs.push_back(buffer.data());
    const size_t n_out = config.out_shapes[p].size();
    std::vector<void*> outputs(n_out, nullptr);
    std::vector<int> output_lens(n_out, -1);
    const int code =
        kestrel_trt_process(handle, static_cast<int>(p), inputs.data(), static_cast<int>(inputs.size()),
                            batch, outputs.data(), output_lens.data());
    CheckNoViolations();
    if (code == -1) continue;
    if (code != 0) Finding("kestrel_trt_process answered " + std::to_string(code));
    for (size_t j = 0; j < n_out; ++j) {
      const auto& shape = config.out_shapes[p][j];
      const int64_t expected = TensorBytes(shape, config.out_item_sizes[p][j]) / shape[0] * batch;
      if (output_lens[j] != expected) Finding("output length differs from the configured shape");
    }
    ++successes;
  }
  return successes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceStdout();
  for (int i = 0; i < kSamples; ++i) Sample(i);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  const int sample = in.Byte() % kSamples;
  const bool use_cuda_graph = (in.Byte() & 1) != 0;
  const int device_id = in.Int();
  ModelConfig config;
  config.in_shapes = ReadShapes(in);
  config.in_item_sizes = ReadItemSizes(in);
  config.out_shapes = ReadShapes(in);
  config.out_item_sizes = ReadItemSizes(in);
  if (AcceptableBytes(config.in_shapes, config.in_item_sizes) +
          AcceptableBytes(config.out_shapes, config.out_item_sizes) >
      kMaxTotalBytes) {
    return 0;
  }

  const ModelConfig given = config;
  const std::string& engine = Sample(sample).engine;
  trt_engine_core* handle = nullptr;
  const int code = kestrel_trt_new(engine.data(), static_cast<int>(engine.size()), device_id, use_cuda_graph,
                                   config.in_shapes, config.in_item_sizes, config.out_shapes,
                                   config.out_item_sizes, &handle);
  if (config != given) Finding("kestrel_trt_new changed the configuration it was given");
  const bool sample_config = given == Sample(sample).config && device_id == 0;
  if (code == 0) {
    if (handle == nullptr) Finding("kestrel_trt_new answered 0 without a handle");
    const int successes = CallEveryProfile(handle, given);
    if (sample_config && successes != static_cast<int>(given.in_shapes.size())) {
      Finding("a call with the sample's own configuration failed");
    }
    if (kestrel_trt_delete(handle) != 0) Finding("kestrel_trt_delete refused a live handle");
  } else if (code != -1) {
    Finding("kestrel_trt_new answered " + std::to_string(code));
  } else if (sample_config) {
    Finding("kestrel_trt_new refused the sample's own configuration");
  }
  CheckAllReleased("kestrel_trt_delete");
  return 0;
}
