// kestrel_trt_process arguments on live handles: profile, input count and batch size from the fuzz
// bytes. Every sample engine has a handle with CUDA graphs off and one with them on, made once.
// The harness hands over exactly the pointer and buffer sizes a caller of the configured profile
// would (inputs sized for its largest batch), so any read or write past them is the library's.
// A call that the configuration allows must succeed; any other must answer -1.
//
// Input layout: records of handle byte (% 8), profile value, input count value, batch size value
// (see ByteReader::Int), at most kMaxCallsPerInput of them.
#include <memory>
#include <new>
#include <vector>

#include "fuzz_support.h"
#include "handles.h"
#include "kestrel_trt.h"

using inferlet_fuzz::ByteReader;
using inferlet_fuzz::CheckNoViolations;
using inferlet_fuzz::Finding;
using inferlet_fuzz::kSampleNames;
using inferlet_fuzz::kSamples;
using inferlet_fuzz::ModelConfig;
using inferlet_fuzz::Sample;
using inferlet_fuzz::SilenceStdout;
using inferlet_fuzz::TensorBytes;

namespace {

constexpr int kHandles = 2 * kSamples;
constexpr int kMaxCallsPerInput = 32;

struct ProfileBuffers {
  std::vector<std::unique_ptr<char[]>> inputs;
  std::vector<const void*> input_pointers;  // exactly n_in entries
};

struct LiveHandle {
  int sample = 0;
  trt_engine_core* handle = nullptr;
  std::vector<ProfileBuffers> profiles;
};

// The handles live as long as the process and are never deleted: a delete from a static destructor
// would run after the library's own logging state may be gone. Kept in static storage, so the leak
// checker sees them as reachable.
std::vector<LiveHandle>& Handles() {
  alignas(std::vector<LiveHandle>) static unsigned char storage[sizeof(std::vector<LiveHandle>)];
  static std::vector<LiveHandle>* const handles = ::new (storage) std::vector<LiveHandle>();
  return *handles;
}

LiveHandle MakeHandle(int sample, bool use_cuda_graph) {
  LiveHandle live;
  live.sample = sample;
  const ModelConfig& config = Sample(sample).config;
  live.handle = inferlet_test::NewHandle(Sample(sample), use_cuda_graph).release();
  if (live.handle == nullptr) Finding(std::string("cannot create a handle on ") + kSampleNames[sample]);
  for (size_t p = 0; p < config.in_shapes.size(); ++p) {
    ProfileBuffers buffers;
    for (size_t i = 0; i < config.in_shapes[p].size(); ++i) {
      const size_t bytes =
          static_cast<size_t>(TensorBytes(config.in_shapes[p][i], config.in_item_sizes[p][i]));
      buffers.inputs.push_back(std::make_unique<char[]>(bytes));
      buffers.input_pointers.push_back(buffers.inputs.back().get());
    }
    live.profiles.push_back(std::move(buffers));
  }
  return live;
}

// Whether the configuration allows the call: a configured profile, its input count, and a batch no
// larger than the first dimension of any of its tensors.
bool Allowed(const ModelConfig& config, int profile, int input_num, int batch) {
  if (profile < 0 || static_cast<size_t>(profile) >= config.in_shapes.size()) return false;
  const auto& ins = config.in_shapes[static_cast<size_t>(profile)];
  const auto& outs = config.out_shapes[static_cast<size_t>(profile)];
  if (input_num != static_cast<int>(ins.size()) || batch < 1) return false;
  for (const auto& shape : ins) {
    if (shape[0] < batch) return false;
  }
  for (const auto& shape : outs) {
    if (shape[0] < batch) return false;
  }
  return true;
}

void CallOnce(const LiveHandle& live, int profile, int input_num, int batch) {
  const ModelConfig& config = Sample(live.sample).config;
  // A caller's arrays for the profile it names, or for profile 0 when the name is out of range.
  const size_t slot = profile >= 0 && static_cast<size_t>(profile) < live.profiles.size() ? profile : 0;
  const std::vector<const void*>& inputs = live.profiles[slot].input_pointers;
  const size_t n_out = config.out_shapes[slot].size();
  std::vector<void*> outputs(n_out, nullptr);
  std::vector<int> output_lens(n_out, -1);

  const int code = kestrel_trt_process(live.handle, profile, inputs.data(), input_num, batch, outputs.data(),
                                       output_lens.data());
  CheckNoViolations();
  const bool allowed = Allowed(config, profile, input_num, batch);
  if (allowed && code != 0) Finding("an allowed call failed");
  if (!allowed && code != -1) Finding("a call outside the configuration answered " + std::to_string(code));
  if (code != 0) return;
  for (size_t j = 0; j < n_out; ++j) {
    const auto& shape = config.out_shapes[slot][j];
    const int64_t expected = TensorBytes(shape, config.out_item_sizes[slot][j]) / shape[0] * batch;
    if (output_lens[j] != expected || outputs[j] == nullptr) Finding("wrong output of an allowed call");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SilenceStdout();
  for (int h = 0; h < kHandles; ++h) Handles().push_back(MakeHandle(h % kSamples, h >= kSamples));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  for (int call = 0; call < kMaxCallsPerInput && !in.empty(); ++call) {
    const LiveHandle& live = Handles()[in.Byte() % kHandles];
    const int profile = in.Int();
    const int input_num = in.Int();
    const int batch = in.Int();
    CallOnce(live, profile, input_num, batch);
  }
  return 0;
}
