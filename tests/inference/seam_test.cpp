// The TensorRT seam's own arithmetic and shape sequence, on engines of 1, 2 and 4 profiles, straight
// through TensorRT (no library handle): which binding a profile's tensor is, and what resolveShapes
// sets, reads back and answers.
#include <NvInfer.h>
#include <cuda_runtime_api.h>
#include <trt_standin.h>

#include <string>
#include <vector>

#include "emulator_case.h"
#include "test_support.h"
#include "trt_binding.h"
#include "trt_generation.h"
#include "trt_support.h"

namespace inferlet_test {
namespace {

using trt_binding::ReadBack;
using trt_binding::ShapeResolution;
using trt_binding::TensorShape;

class QuietLogger : public nvinfer1::ILogger {
 public:
  void log(Severity, const char*) noexcept override {}
};

// An engine deserialized straight through TensorRT, with one execution context.
struct LoadedEngine {
  explicit LoadedEngine(const std::string& name) {
    static QuietLogger logger;
    runtime.reset(nvinfer1::createInferRuntime(logger));
    const std::string bytes = ReadEngine(name);
    if (runtime) engine.reset(runtime->deserializeCudaEngine(bytes.data(), bytes.size()));
    if (engine) context.reset(engine->createExecutionContext());
  }
  ~LoadedEngine() {
    cudaStreamSynchronize(nullptr);  // what a profile switch queued goes before the context
  }
  TrtUniquePtr<nvinfer1::IRuntime> runtime;  // released after the engine
  TrtUniquePtr<nvinfer1::ICudaEngine> engine;
  TrtUniquePtr<nvinfer1::IExecutionContext> context;
};

std::vector<int64_t> Extents(const trt_binding::Extents& dims) {
  if (dims.nbDims < 0) return {-1};
  return std::vector<int64_t>(dims.d, dims.d + dims.nbDims);
}

// A profile's block with every input at its largest shape.
std::vector<TensorShape> LargestBlock(const nvinfer1::ICudaEngine& engine, int profile) {
  std::vector<TensorShape> block(static_cast<size_t>(trt_binding::bindingsPerProfile(engine)));
  for (size_t t = 0; t < block.size(); ++t) {
    TensorShape& tensor = block[t];
    tensor.binding =
        trt_binding::binding(engine, trt_binding::bindingIndex(engine, profile, static_cast<int>(t)));
    tensor.is_input = trt_binding::bindingIsInput(engine, tensor.binding);
    if (tensor.is_input) {
      tensor.dims =
          trt_binding::profileDimensions(engine, tensor.binding, profile, nvinfer1::OptProfileSelector::kMAX);
    }
  }
  return block;
}

struct SeamCase {
  const char* engine;
  int profiles;
  std::vector<std::string> tensors;  // the block's tensors, in the engine's order
  // Per profile, every tensor's dimensions with the inputs at the profile's largest shapes.
  std::vector<std::vector<std::vector<int64_t>>> largest;
};

const std::vector<SeamCase>& Cases() {
  static const std::vector<SeamCase> cases = {
      {"smoke", 1, {"in0", "in1", "out0"}, {{{10, 340}, {10, 340}, {10, 338}}}},
      {"two_profiles",
       2,
       {"in0", "in1", "out0"},
       {{{4, 4, 8}, {4, 4, 8}, {4, 4, 8}}, {{16, 4, 8}, {16, 4, 8}, {16, 4, 8}}}},
      {"four_widths",
       4,
       {"signal", "smoothed"},
       {{{2, 16}, {2, 14}}, {{4, 32}, {4, 30}}, {{8, 64}, {8, 62}}, {{16, 128}, {16, 126}}}},
  };
  return cases;
}

class SeamOnEmulator : public FreshPlatformTest {};

// Binding b of an engine with n tensors is tensor b mod n of profile b / n, named after its tensor with
// " [profile k]" for k >= 1, on every generation.
INFERLET_EMULATOR_TEST_F(SeamOnEmulator, EachProfileTensorHasItsBinding) {
  for (const SeamCase& c : Cases()) {
    SCOPED_TRACE(c.engine);
    LoadedEngine loaded(c.engine);
    ASSERT_TRUE(loaded.engine);
    const nvinfer1::ICudaEngine& engine = *loaded.engine;
    const int n = static_cast<int>(c.tensors.size());
    EXPECT_EQ(trt_binding::bindingsPerProfile(engine), n);
    EXPECT_EQ(trt_binding::bindingCount(engine), n * c.profiles);
    std::vector<int> seen;
    for (int p = 0; p < c.profiles; ++p) {
      for (int t = 0; t < n; ++t) {
        const int b = trt_binding::bindingIndex(engine, p, t);
        seen.push_back(b);
        const std::string suffix = p == 0 ? "" : " [profile " + std::to_string(p) + "]";
        EXPECT_EQ(trt_binding::bindingName(engine, trt_binding::binding(engine, b)), c.tensors[t] + suffix)
            << "profile " << p << ", tensor " << t;
      }
    }
    std::vector<int> every(static_cast<size_t>(n * c.profiles));
    for (size_t b = 0; b < every.size(); ++b) every[b] = static_cast<int>(b);
    EXPECT_EQ(seen, every) << "each binding once, profile after profile";
  }
}

// On every profile: the inputs set, the outputs resolved, and only what read_back names read back.
INFERLET_EMULATOR_TEST_F(SeamOnEmulator, ResolvesEveryProfileAtItsLargestShapes) {
  for (const SeamCase& c : Cases()) {
    LoadedEngine loaded(c.engine);
    ASSERT_TRUE(loaded.context) << c.engine;
    for (int p = 0; p < c.profiles; ++p) {
      SCOPED_TRACE(std::string(c.engine) + " profile " + std::to_string(p));
      ASSERT_TRUE(trt_binding::selectProfile(*loaded.context, p, nullptr));
      for (ReadBack read_back : {ReadBack::kOutputs, ReadBack::kEveryTensor}) {
        std::vector<TensorShape> block = LargestBlock(*loaded.engine, p);
        int inputs = 0;
        for (TensorShape& tensor : block) {
          inputs += tensor.is_input ? 1 : 0;
          if (read_back == ReadBack::kEveryTensor && tensor.is_input) tensor.dims.d[0] -= 1;  // one below
        }
        const long reads = trt_standin_count(kResolvedDimensionsCall);
        const long sets = trt_standin_count(kSetDimensionsCall);
        const ShapeResolution found = trt_binding::resolveShapes(*loaded.context, block.data(),
                                                                 static_cast<int>(block.size()), read_back);
        EXPECT_EQ(found.outcome, ShapeResolution::kResolved);
        EXPECT_EQ(found.tensor, -1);
        EXPECT_EQ(trt_standin_count(kSetDimensionsCall) - sets, inputs);
        const long read = read_back == ReadBack::kOutputs ? static_cast<long>(block.size()) - inputs
                                                          : static_cast<long>(block.size());
        EXPECT_EQ(trt_standin_count(kResolvedDimensionsCall) - reads, read);
        for (size_t t = 0; t < block.size(); ++t) {
          std::vector<int64_t> expected = c.largest[static_cast<size_t>(p)][t];
          if (read_back == ReadBack::kEveryTensor) expected[0] -= 1;  // the batch follows the inputs
          EXPECT_EQ(Extents(block[t].dims), expected) << c.tensors[t];
        }
      }
    }
  }
}

// What resolveShapes answers when TensorRT refuses an input, does not call the inputs specified, or
// resolves a tensor to nothing, on the last profile of each engine.
INFERLET_EMULATOR_TEST_F(SeamOnEmulator, AnswersWhatFailedFirst) {
  for (const SeamCase& c : Cases()) {
    LoadedEngine loaded(c.engine);
    ASSERT_TRUE(loaded.context) << c.engine;
    const int p = c.profiles - 1;
    SCOPED_TRACE(std::string(c.engine) + " profile " + std::to_string(p));
    ASSERT_TRUE(trt_binding::selectProfile(*loaded.context, p, nullptr));
    const int count = static_cast<int>(c.tensors.size());
    const int last_input = count - 2;  // every engine here has its one output last

    // Only the first input given (where there are more): the rest stay unspecified, nothing is read.
    std::vector<TensorShape> block = LargestBlock(*loaded.engine, p);
    ShapeResolution found;
    if (last_input > 0) {
      const long reads = trt_standin_count(kResolvedDimensionsCall);
      found = trt_binding::resolveShapes(*loaded.context, block.data(), 1, ReadBack::kEveryTensor);
      EXPECT_EQ(found.outcome, ShapeResolution::kInputsIncomplete);
      EXPECT_EQ(trt_standin_count(kResolvedDimensionsCall), reads);
    }

    block[static_cast<size_t>(last_input)].dims.d[0] += 1;  // past the profile
    const long sets = trt_standin_count(kSetDimensionsCall);
    found = trt_binding::resolveShapes(*loaded.context, block.data(), count, ReadBack::kOutputs);
    EXPECT_EQ(found.outcome, ShapeResolution::kInputRefused);
    EXPECT_EQ(found.tensor, last_input);
    EXPECT_EQ(trt_standin_count(kSetDimensionsCall) - sets, last_input + 1) << "stops at the refusal";

    // The first read back fails: reported as that tensor, and every tensor is read all the same.
    block = LargestBlock(*loaded.engine, p);
    trt_standin_fail(kResolvedDimensionsCall, 1);
    const long reads = trt_standin_count(kResolvedDimensionsCall);
    found = trt_binding::resolveShapes(*loaded.context, block.data(), count, ReadBack::kEveryTensor);
    EXPECT_EQ(found.outcome, ShapeResolution::kUnresolved);
    EXPECT_EQ(found.tensor, 0);
    EXPECT_EQ(trt_standin_count(kResolvedDimensionsCall) - reads, count);
    EXPECT_EQ(Extents(block.back().dims), c.largest[static_cast<size_t>(p)].back());
  }
}

}  // namespace
}  // namespace inferlet_test
