// Construction through kestrel_trt_new as a host sees it: the exact lines a successful construction
// prints on any device; on the emulated device also device selection, where each failure stops and
// that whatever was acquired before it is released again, and the state a successful construction
// leaves on the device.
#include <cudaemu.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <trt_standin.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "emulator_support.h"
#include "engine_infer.h"
#include "engine_peer.h"
#include "test_support.h"

namespace inferlet_test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// The library's own lines among what a construction printed: without the ones TensorRT itself wrote
// through the logger. TensorRT names the operation that reports, e.g. "deserializeCudaEngine: checksum
// mismatch"; none of the library's own messages starts that way.
std::vector<std::string> LibraryLines(const std::vector<std::string>& lines) {
  static const char* const kTensorRtOperations[] = {
      "initLibNvInferPlugins",
      "createInferRuntime",
      "deserializeCudaEngine",
      "createExecutionContext",
      "setOptimizationProfile",
      "setBindingDimensions",
      "enqueueV2",
      "setOptimizationProfileAsync",
      "setInputShape",
      "inferShapes",
      "setTensorAddress",
      "enqueueV3",
  };
  auto from_tensorrt = [](const std::string& line) {
    static const std::string kTag = "[inferlet][";
    if (line.compare(0, kTag.size(), kTag) != 0 || line.size() < kTag.size() + 3) return false;
    const std::string message = line.substr(kTag.size() + 3);  // after "X] "
    for (const char* operation : kTensorRtOperations) {
      const std::string lead = std::string(operation) + ":";
      if (message.compare(0, lead.size(), lead) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    if (!from_tensorrt(line)) kept.push_back(line);
  }
  return kept;
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Construction : public FreshPlatformTest {
 protected:
  void TearDown() override {
    if (handle_ != nullptr) DeleteHandle(handle_);
    FreshPlatformTest::TearDown();
  }
  // Keeps a successfully created handle for deletion at the end of the case.
  void Keep(trt_engine_core* handle) { handle_ = handle; }

  std::string smoke_ = ReadEngine("smoke");
  trt_engine_core* handle_ = nullptr;
};

TEST_F(Construction, SmokeEnginePrintsDeviceGraphFlagDescriptionAndCounts) {
  const auto outcome = CallNew(smoke_, SmokeConfig());
  ASSERT_EQ(outcome.rc, 0);
  Keep(outcome.handle);
  EXPECT_NE(outcome.handle, UntouchedHandle());
  EXPECT_THAT(LibraryLines(outcome.lines),
              ElementsAreArray(Concat({{"[inferlet][E] setDevice 0ok"}, SmokeConstructionLines()})));
}

TEST_F(Construction, GraphFlagIsPrintedAsOne) {
  const auto outcome = CallNew(smoke_, SmokeConfig(), 0, true);
  ASSERT_EQ(outcome.rc, 0);
  Keep(outcome.handle);
  ASSERT_GE(outcome.lines.size(), 2u);
  EXPECT_EQ(outcome.lines[1], "[inferlet][I] CUDA Graph is 1");
}

TEST_F(Construction, TwoProfileEngineCountsSixBindingsAndNamesProfileOne) {
  const auto outcome = CallNew(ReadEngine("two_profiles"), TwoProfilesConfig());
  ASSERT_EQ(outcome.rc, 0);
  Keep(outcome.handle);
  const auto lines = LibraryLines(outcome.lines);
  EXPECT_THAT(lines,
              Contains("[inferlet][I] getNbBindings 6,getNbOptimizationProfiles 2,numBindingPerProfile 3"));
  EXPECT_THAT(lines, Contains("bind 0,name in0 IsInput 1 , dtype 0"));
  EXPECT_THAT(lines, Contains("bind 3,name in0 [profile 1] IsInput 1 , dtype 0"));
  EXPECT_THAT(lines, Contains("bind 4,name in1 [profile 1] IsInput 1 , dtype 0"));
  EXPECT_THAT(lines, Contains("bind 5,name out0 [profile 1] IsInput 0 , dtype 0"));
  EXPECT_THAT(lines, Contains("-1 4 8 "));
}

const std::vector<std::string> kTeardownLines = {"[inferlet][I] closedestory...",
                                                 "[inferlet][I] closedestroy ok"};

class ConstructionOnEmulator : public Construction {
 protected:
  // What a failed construction printed after the loading line, and that nothing it acquired survives.
  static void ExpectNothingLeft() {
    EXPECT_EQ(cudaemu_live_allocations(), 0u);
    EXPECT_EQ(cudaemu_live_streams(), 0u);
    EXPECT_EQ(trt_standin_count("live_runtimes"), 0);
    EXPECT_EQ(trt_standin_count("live_engines"), 0);
    EXPECT_EQ(trt_standin_count("live_contexts"), 0);
    EXPECT_EQ(cudaemu_violations(), 0u);
  }

  // A cudaMalloc that succeeds without a pointer: the injected successes leave the pointer null and make
  // the zero-fill of it a no-op.
  static void InjectNullBuffer(int nth) {
    cudaemu_fail_call("cudaMalloc", nth, cudaSuccess);
    cudaemu_fail_call("cudaMemset", nth, cudaSuccess);
  }
};

// Device ordinals: below the count selects, a negative one fails in cudaSetDevice, the count itself
// selects nothing and says nothing; construction goes on in every case.
INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, DeviceSelectionLinesForEachKindOfOrdinal) {
  struct DeviceCase {
    int devices;
    int ordinal;
    std::vector<std::string> device_lines;
    uint64_t set_device_calls;
  };
  const std::vector<DeviceCase> cases = {
      {1, 0, {"[inferlet][E] setDevice 0ok"}, 1},
      {3, 2, {"[inferlet][E] setDevice 2ok"}, 1},
      {2, -1, {"[inferlet][E] cudaSetDevice failed"}, 1},
      {2, 2, {}, 0},
      {1, 7, {}, 0},
  };
  for (const DeviceCase& c : cases) {
    SCOPED_TRACE("devices " + std::to_string(c.devices) + ", ordinal " + std::to_string(c.ordinal));
    cudaemu_reset();
    trt_standin_reset();
    cudaemu_set_device_count(c.devices);
    const auto outcome = CallNew(smoke_, SmokeConfig(), c.ordinal);
    ASSERT_EQ(outcome.rc, 0);
    EXPECT_THAT(LibraryLines(outcome.lines),
                ElementsAreArray(Concat({c.device_lines, SmokeConstructionLines()})));
    EXPECT_EQ(cudaemu_call_count("cudaSetDevice"), c.set_device_calls);
    DeleteHandle(outcome.handle);
  }
}

INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, FailedDeviceCountIsLoggedAndConstructionGoesOn) {
  cudaemu_fail_call("cudaGetDeviceCount", 1, cudaErrorNoDevice);
  const auto outcome = CallNew(smoke_, SmokeConfig());
  ASSERT_EQ(outcome.rc, 0);
  Keep(outcome.handle);
  EXPECT_THAT(
      LibraryLines(outcome.lines),
      ElementsAreArray(Concat({{"[inferlet][E] cudaGetDeviceCount failed"}, SmokeConstructionLines()})));
  EXPECT_EQ(cudaemu_call_count("cudaSetDevice"), 0u);
}

INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, RuntimeCreationFailureStopsAfterTheLoadingLine) {
  trt_standin_fail("createInferRuntime", 1);
  const auto outcome = CallNew(smoke_, SmokeConfig());
  EXPECT_EQ(outcome.rc, -1);
  EXPECT_EQ(outcome.handle, UntouchedHandle());
  EXPECT_THAT(LibraryLines(outcome.lines),
              ElementsAre("[inferlet][E] setDevice 0ok", "[inferlet][I] CUDA Graph is 0",
                          "[inferlet][I] Loading trt_engine_core ... ",
                          "[inferlet][E] Error creating TRT runtime", kTeardownLines[0], kTeardownLines[1]));
  EXPECT_EQ(trt_standin_count("initLibNvInferPlugins"), 1);
  EXPECT_EQ(trt_standin_count("deserializeCudaEngine"), 0);
  ExpectNothingLeft();
}

INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, BytesThatDoNotDeserializeStopBeforeTheDescription) {
  std::string corrupt = smoke_;
  corrupt[corrupt.size() / 2] ^= 0x5a;
  const std::string other_major =
      ReadFile(std::string(INFERLET_ENGINE_DIR) + "/smoke-trt" + std::to_string(kOtherMajor) + ".engine");
  const std::vector<std::pair<const char*, std::string>> engines = {
      {"empty", std::string()},
      {"not an engine", std::string("definitely not a serialized engine")},
      {"one byte changed", corrupt},
      {"truncated", smoke_.substr(0, smoke_.size() / 2)},
      {"built for the other TensorRT major", other_major},
  };
  for (const auto& [what, bytes] : engines) {
    SCOPED_TRACE(what);
    cudaemu_reset();
    trt_standin_reset();
    const auto outcome = CallNew(bytes, SmokeConfig());
    EXPECT_EQ(outcome.rc, -1);
    EXPECT_EQ(outcome.handle, UntouchedHandle());
    EXPECT_THAT(
        LibraryLines(outcome.lines),
        ElementsAre("[inferlet][E] setDevice 0ok", "[inferlet][I] CUDA Graph is 0",
                    "[inferlet][I] Loading trt_engine_core ... ",
                    "[inferlet][E] Error deserializing CUDA engine", kTeardownLines[0], kTeardownLines[1]));
    EXPECT_EQ(trt_standin_count("createInferRuntime"), 1);
    EXPECT_EQ(cudaemu_call_count("cudaStreamDestroy"), 0u);
    EXPECT_EQ(cudaemu_call_count("cudaFree"), 0u);
    ExpectNothingLeft();
  }
}

INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator,
                         ContextCreationFailureStopsAfterTheDescriptionWithoutAStream) {
  trt_standin_fail("createExecutionContext", 1);
  const auto outcome = CallNew(smoke_, SmokeConfig());
  EXPECT_EQ(outcome.rc, -1);
  EXPECT_EQ(outcome.handle, UntouchedHandle());
  EXPECT_THAT(LibraryLines(outcome.lines),
              ElementsAreArray(Concat({{"[inferlet][E] setDevice 0ok"},
                                       SmokeConstructionLines(),
                                       {"[inferlet][E] Error creating execution context"},
                                       kTeardownLines})));
  EXPECT_EQ(cudaemu_call_count("cudaStreamCreate"), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
  ExpectNothingLeft();
}

// TensorRT's own device memory (the engine's weights, the context's activation memory) comes from the
// device beside the library's buffers; when the device has none left, TensorRT answers null and the
// library stops there as for any null engine or context.
INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, DeviceMemoryTensorRtCannotGetStopsConstruction) {
  // smoke: 3 weights of conv1d (12 bytes); the [10, 340] float sum between its two layers (13600
  // bytes, 13824 in TensorRT's 256-byte granules).
  const std::string out_of_memory =
      std::string(": cudaemu_component_malloc failed: ") + cudaGetErrorString(cudaErrorMemoryAllocation);
  struct Case {
    const char* what;
    int nth;                         // which of TensorRT's device allocations fails
    std::string tensorrt;            // TensorRT's line
    std::vector<std::string> lines;  // the library's
  };
  const Case cases[] = {
      {"the weights, at deserialization",
       1,
       "[inferlet][E] deserializeCudaEngine: cannot allocate 12 bytes of device memory for the weights" +
           out_of_memory,
       {"[inferlet][E] setDevice 0ok", "[inferlet][I] CUDA Graph is 0",
        "[inferlet][I] Loading trt_engine_core ... ", "[inferlet][E] Error deserializing CUDA engine",
        kTeardownLines[0], kTeardownLines[1]}},
      {"the activation memory, at context creation", 2,
       "[inferlet][E] createExecutionContext: cannot allocate 13824 bytes of device activation memory" +
           out_of_memory,
       Concat({{"[inferlet][E] setDevice 0ok"},
               SmokeConstructionLines(),
               {"[inferlet][E] Error creating execution context"},
               kTeardownLines})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cudaemu_reset();
    trt_standin_reset();
    cudaemu_fail_call("cudaemu_component_malloc", c.nth, cudaErrorMemoryAllocation);
    const auto outcome = CallNew(smoke_, SmokeConfig());
    EXPECT_EQ(outcome.rc, -1);
    EXPECT_EQ(outcome.handle, UntouchedHandle());
    EXPECT_THAT(LibraryLines(outcome.lines), ElementsAreArray(c.lines));
    // TensorRT's reason comes right before the library's line.
    const auto reason = std::find(outcome.lines.begin(), outcome.lines.end(), c.tensorrt);
    ASSERT_NE(reason, outcome.lines.end());
    ASSERT_NE(reason + 1, outcome.lines.end());
    EXPECT_EQ(*(reason + 1), c.lines[c.lines.size() - 3]);
    EXPECT_EQ(cudaemu_call_count("cudaMalloc"), 0u);
    ExpectNothingLeft();
  }
}

// smoke: in0, in1, out0. A null buffer stops construction and frees exactly the buffers before it,
// and the stream.
INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, NullBufferStopsAndFreesExactlyTheBuffersBeforeIt) {
  struct Case {
    int nth;  // the null one among the cudaMalloc calls
    const char* line;
  };
  const Case cases[] = {{2, "[inferlet][E] cudaMalloc input_buf return zero buffer"},
                        {3, "[inferlet][E] cudaMalloc ouput_buf return zero buffer"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    cudaemu_reset();
    trt_standin_reset();
    InjectNullBuffer(c.nth);
    const auto outcome = CallNew(smoke_, SmokeConfig());
    EXPECT_EQ(outcome.rc, -1);
    EXPECT_EQ(outcome.handle, UntouchedHandle());
    EXPECT_THAT(LibraryLines(outcome.lines),
                ElementsAreArray(Concat(
                    {{"[inferlet][E] setDevice 0ok"}, SmokeConstructionLines(), {c.line}, kTeardownLines})));
    EXPECT_EQ(cudaemu_call_count("cudaMalloc"), static_cast<uint64_t>(c.nth));
    EXPECT_EQ(FreedPointers(), AllocatedPointers());
    EXPECT_EQ(FreedPointers().size(), static_cast<size_t>(c.nth - 1));
    EXPECT_EQ(cudaemu_call_count("cudaStreamDestroy"), 1u);
    ExpectNothingLeft();
  }
}

INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator, NullBufferInSecondProfileFreesTheWholeFirstProfile) {
  InjectNullBuffer(5);  // profile 1, input 1
  const auto outcome = CallNew(ReadEngine("two_profiles"), TwoProfilesConfig());
  EXPECT_EQ(outcome.rc, -1);
  EXPECT_THAT(outcome.lines, Contains("[inferlet][E] cudaMalloc input_buf return zero buffer"));
  EXPECT_EQ(AllocatedPointers().size(), 4u);
  EXPECT_EQ(FreedPointers(), AllocatedPointers());
  ExpectNothingLeft();
}

// The state a valid handle starts from: one zero-filled device buffer of the configured size per
// tensor, an empty binding array of the engine's length, and no TensorRT runtime.
INFERLET_EMULATOR_TEST_F(ConstructionOnEmulator,
                         ValidHandleHoldsZeroedBuffersAndAnEmptyBindingArrayButNoRuntime) {
  ModelConfig config = TwoProfilesConfig();
  std::unique_ptr<trt_engine_core> core;
  CapturedLines([&] {
    core = std::make_unique<trt_engine_core>(ReadEngine("two_profiles"), 0, false, config.in_shapes,
                                             config.in_item_sizes, config.out_shapes, config.out_item_sizes);
  });
  ASSERT_TRUE(core->Valid());
  // Where the engine needs its runtime (TensorRT 10 on), the handle holds it: one, released after it.
  EXPECT_EQ(trt_standin_count("live_runtimes"), kHandleKeepsRuntime ? 1 : 0);
  EXPECT_EQ(trt_standin_count("live_engines"), 1);
  EXPECT_EQ(trt_standin_count("live_contexts"), 1);
  EXPECT_EQ(cudaemu_live_streams(), 1u);
  EXPECT_NE(trt_engine_core_peer::Stream(*core), nullptr);
  EXPECT_EQ(trt_engine_core_peer::GraphExec(*core), nullptr);
  EXPECT_THAT(trt_engine_core_peer::Bindings(*core),
              ElementsAre(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));

  const auto& infos = trt_engine_core_peer::NetInfos(*core);
  ASSERT_EQ(infos.size(), 2u);
  std::vector<std::pair<void*, int>> buffers;
  for (const S_net_info& rec : infos) {
    for (size_t j = 0; j < rec.input_bufs.size(); ++j)
      buffers.emplace_back(rec.input_bufs[j], rec.input_sizes[j]);
    for (size_t j = 0; j < rec.output_bufs.size(); ++j)
      buffers.emplace_back(rec.output_bufs[j], rec.output_sizes[j]);
  }
  const std::vector<int> expected_sizes = {512, 512, 512, 2048, 2048, 2048};
  ASSERT_EQ(buffers.size(), expected_sizes.size());
  // The engine's own device memory (weights, activation memory) is TensorRT's, not the handle's.
  EXPECT_EQ(cudaemu_live_device_allocations() - cudaemu_live_component_allocations(), buffers.size());

  const auto mallocs = TraceOf("cudaMalloc");
  const auto memsets = TraceOf("cudaMemset");
  ASSERT_EQ(mallocs.size(), buffers.size());
  ASSERT_EQ(memsets.size(), buffers.size());
  for (size_t i = 0; i < buffers.size(); ++i) {
    SCOPED_TRACE("buffer " + std::to_string(i));
    const auto [pointer, size] = buffers[i];
    ASSERT_NE(pointer, nullptr);
    EXPECT_EQ(size, expected_sizes[i]);
    EXPECT_EQ(MallocBytes(mallocs[i]), static_cast<uintptr_t>(size));
    EXPECT_EQ(MemsetPointer(memsets[i]), reinterpret_cast<uintptr_t>(pointer));
    EXPECT_EQ(MemsetValue(memsets[i]), 0u);
    EXPECT_EQ(MemsetBytes(memsets[i]), static_cast<uintptr_t>(size));
    std::vector<unsigned char> bytes(static_cast<size_t>(size), 0xee);
    ASSERT_EQ(cudaMemcpy(bytes.data(), pointer, bytes.size(), cudaMemcpyDeviceToHost), cudaSuccess);
    EXPECT_THAT(bytes, ::testing::Each(0));
  }
  EXPECT_EQ(cudaemu_violations(), 0u);
  CapturedLines([&] { core.reset(); });
}

}  // namespace
}  // namespace inferlet_test
