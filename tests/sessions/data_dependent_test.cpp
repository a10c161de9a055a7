// Data-dependent outputs (TensorRT 10 and 11), on the data_dependent test engine: out0 keeps in0's
// elements above 0 ([-1], known only once the network ran), out1 is 2 * in0 ([batch, 4]). Every memory
// kind, graphs on and off, the same shapes giving other sizes call after call, the values against a
// reference computed here, the session's memory growing once and then no more, the bound a buffer must
// hold, and the outputs' bounds before a call, through the C interface and the wrapper.
#include <trt_standin.h>

#include <cstring>
#include <string>
#include <vector>

#include "emulator_support.h"
#include "session_support.h"
#include "wrapper_support.h"

namespace inferlet_test {
namespace {

// rows x 4 values of which `positives` are above 0, spread over the rows.
Tensor Mixed(int rows, int positives, int seed) {
  const int count = rows * 4;
  Tensor values(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const bool kept = (i * 5 + seed) % count < positives;
    values[static_cast<size_t>(i)] =
        kept ? 0.5f + static_cast<float>(i + seed) : -1.0f - static_cast<float>(i);
  }
  return values;
}

Tensor Positives(const Tensor& in) {
  Tensor kept;
  for (float value : in) {
    if (value > 0) kept.push_back(value);
  }
  return kept;
}

Tensor Doubled(const Tensor& in) {
  Tensor doubled;
  for (float value : in) doubled.push_back(2 * value);
  return doubled;
}

// One call of the engine: in0 [rows, 4] in host memory, out0 in `memory` holding the bound at rows
// (rows * 4 floats) unless told otherwise, out1 in host memory.
struct DataDependentCall {
  DataDependentCall(inferlet_memory memory, int rows, int positives, int seed, size_t out0_floats = 0)
      : in0(Mixed(rows, positives, seed)) {
    tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({rows, 4}), in0);
    tensors.Output("out0", memory, out0_floats ? out0_floats : static_cast<size_t>(rows) * 4);
    tensors.Output("out1", INFERLET_MEMORY_HOST, static_cast<size_t>(rows) * 4);
  }
  Answer Run(inferlet_session* session) {
    return Take(inferlet_session_run(session, tensors.inputs(), 1, tensors.outputs(), 2));
  }
  Tensor in0;
  CallTensors tensors;
};

struct Kind {
  inferlet_memory memory;
  bool graphs;
};

std::string KindName(const ::testing::TestParamInfo<Kind>& info) {
  return std::string(MemoryName(info.param.memory)) + (info.param.graphs ? "Graphs" : "Plain");
}

class DataDependentOnEmulator : public SessionsTest, public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    if (INFERLET_TRT_MAJOR < 10) GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " has no such engines";
  }
};

// Consecutive calls with one key (shape [2, 4], the same buffers) give other sizes, the empty one
// included; a larger batch grows the session's memory once. Host and pinned outputs go through the
// session's memory, which is allocated only when a call needs more than it holds; a device output is
// written in place, with no memory of the session's.
INFERLET_EMULATOR_TEST_P(DataDependentOnEmulator, EachCallGivesItsOwnShapeAndValues) {
  const Kind kind = GetParam();
  LogRecorder log(INFERLET_LOG_WARNING);
  EngineHandle engine = LoadEngine("data_dependent");
  SessionHandle session =
      NewSession(engine.get(), [&](inferlet_session_options& o) { o.cuda_graphs = kind.graphs; });
  ASSERT_TRUE(session);
  size_t created_bytes = 0;
  ASSERT_TRUE(Ok(inferlet_session_device_memory(session.get(), &created_bytes)));
  const bool grows = kind.memory != INFERLET_MEMORY_DEVICE;
  struct Step {
    int rows, positives;
    size_t mallocs;  // cudaMalloc calls of the session during the call
  };
  const Step steps[] = {{2, 5, grows ? 1u : 0u},  {2, 2, 0},  {2, 8, 0}, {2, 0, 0}, {2, 3, 0},
                        {4, 11, grows ? 1u : 0u}, {4, 16, 0}, {2, 7, 0}, {4, 1, 0}};
  DataDependentCall short_call(kind.memory, 2, 0, 0), long_call(kind.memory, 4, 0, 0);
  int seed = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE("rows " + std::to_string(step.rows) + ", positives " + std::to_string(step.positives));
    DataDependentCall& call = step.rows == 2 ? short_call : long_call;
    call.in0 = Mixed(step.rows, step.positives, ++seed);
    std::memcpy(call.tensors.inputs()[0].data, call.in0.data(), call.in0.size() * sizeof(float));
    const size_t mallocs = cudaemu_call_count("cudaMalloc");
    ASSERT_EQ(call.Run(session.get()), Answer{});
    EXPECT_EQ(cudaemu_call_count("cudaMalloc") - mallocs, step.mallocs);
    EXPECT_EQ(ShapeText(call.tensors.output(0).shape), "[" + std::to_string(step.positives) + "]");
    EXPECT_EQ(ShapeText(call.tensors.output(1).shape), "[" + std::to_string(step.rows) + ", 4]");
    EXPECT_TRUE(Matches(call.tensors.Read(0), Positives(call.in0)));
    EXPECT_EQ(call.tensors.Read(0).size(), static_cast<size_t>(step.positives));
    EXPECT_TRUE(Matches(call.tensors.Read(1), Doubled(call.in0)));
  }
  size_t grown_bytes = 0;
  ASSERT_TRUE(Ok(inferlet_session_device_memory(session.get(), &grown_bytes)));
  EXPECT_EQ(grown_bytes - created_bytes, grows ? 16 * sizeof(float) : 0u) << "grown to the largest output";
  // No graph is captured for such a session: it says so once, when it is made.
  EXPECT_EQ(cudaemu_call_count("cudaStreamBeginCapture"), 0u);
  EXPECT_EQ(cudaemu_call_count("cudaGraphLaunch"), 0u);
  const std::vector<std::string> expected_warnings =
      kind.graphs ? std::vector<std::string>{"CUDA graphs are off for the session on profile 0: output(s) 'out0' "
                                             "have extents known only once the call has run, so every call runs "
                                             "without a graph"}
                  : std::vector<std::string>{};
  EXPECT_EQ(log.Texts(INFERLET_LOG_WARNING), expected_warnings);
}

INFERLET_EMULATOR_INSTANTIATE_TEST_SUITE_P(
    Kinds, DataDependentOnEmulator,
    ::testing::Values(Kind{INFERLET_MEMORY_HOST, false}, Kind{INFERLET_MEMORY_PINNED, false},
                      Kind{INFERLET_MEMORY_DEVICE, false}, Kind{INFERLET_MEMORY_HOST, true},
                      Kind{INFERLET_MEMORY_PINNED, true}, Kind{INFERLET_MEMORY_DEVICE, true}),
    KindName);

class DataDependentBoundsOnEmulator : public SessionsTest {
 protected:
  void SetUp() override {
    SessionsTest::SetUp();
    if (INFERLET_TRT_MAJOR < 10) GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " has no such engines";
  }
};

// Before a call: -1 where the extent waits for the values, the bound in bytes beside it; a buffer
// below the bound is refused before anything runs, whatever its memory kind, with the bytes it needs.
INFERLET_EMULATOR_TEST_F(DataDependentBoundsOnEmulator, BoundsAreSaidBeforeAndRequiredOfEveryBuffer) {
  EngineHandle engine = LoadEngine("data_dependent");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  std::vector<inferlet_tensor> inputs{{"in0", INFERLET_MEMORY_HOST, nullptr, 0, Shape({3, 4})}};
  std::vector<inferlet_tensor> outputs{{"out1", INFERLET_MEMORY_HOST, nullptr, 0, Shape({-7})},
                                       {"out0", INFERLET_MEMORY_HOST, nullptr, 0, Shape({-7})}};
  ASSERT_TRUE(Ok(inferlet_session_resolve_shapes(session.get(), inputs.data(), 1, outputs.data(), 2)));
  EXPECT_EQ(ShapeText(outputs[0].shape), "[3, 4]");
  EXPECT_EQ(ShapeText(outputs[1].shape), "[-1]");
  inferlet_output_bound bounds[2];
  for (inferlet_output_bound& bound : bounds) inferlet_output_bound_init(&bound);
  ASSERT_TRUE(
      Ok(inferlet_session_resolve_output_bounds(session.get(), inputs.data(), 1, outputs.data(), 2, bounds)));
  EXPECT_EQ(bounds[0].data_dependent, 0);
  EXPECT_EQ(bounds[0].max_bytes, 48u);
  EXPECT_EQ(bounds[1].data_dependent, 1);
  EXPECT_EQ(bounds[1].max_bytes, 48u);
  EXPECT_EQ(bounds[1].struct_size, sizeof(inferlet_output_bound));
  EXPECT_EQ(trt_standin_count(kEnqueueCall), 0);

  EXPECT_EQ(Take(inferlet_session_resolve_output_bounds(session.get(), inputs.data(), 1, outputs.data(), 2,
                                                        nullptr)),
            (Answer{INFERLET_INVALID_ARGUMENT, "bounds is null"}));
  bounds[0].struct_size = 4;
  EXPECT_EQ(Take(inferlet_session_resolve_output_bounds(session.get(), inputs.data(), 1, outputs.data(), 2,
                                                        bounds)),
            (Answer{INFERLET_INVALID_ARGUMENT, "bounds[0].struct_size 4 is below the " +
                                                   std::to_string(sizeof(inferlet_output_bound)) +
                                                   " bytes of its first version"}));

  for (inferlet_memory memory : {INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED, INFERLET_MEMORY_DEVICE}) {
    SCOPED_TRACE(MemoryName(memory));
    DataDependentCall call(memory, 3, 1, 1, /*out0_floats=*/11);
    const long enqueues = trt_standin_count(kEnqueueCall);
    EXPECT_EQ(call.Run(session.get()),
              (Answer{INFERLET_BUFFER_TOO_SMALL,
                      "output 'out0' has 44 bytes, at these input shapes it may take up "
                      "to 48 (its extents depend on the values the call computes)"}));
    EXPECT_EQ(trt_standin_count(kEnqueueCall), enqueues) << "refused before anything ran";
    EXPECT_EQ(ShapeText(call.tensors.output(0).shape), "[-7]");
  }
  // The engine says as much of a profile: -1 where the extent waits for the values, at every point.
  session.reset();
  for (inferlet_profile_point point : {INFERLET_PROFILE_MIN, INFERLET_PROFILE_MAX}) {
    inferlet_shape out0{}, out1{};
    ASSERT_TRUE(Ok(inferlet_engine_profile_resolved_shape(engine.get(), 0, 1, point, &out0)));
    ASSERT_TRUE(Ok(inferlet_engine_profile_resolved_shape(engine.get(), 0, 2, point, &out1)));
    EXPECT_EQ(ShapeText(out0), "[-1]");
    EXPECT_EQ(ShapeText(out1), point == INFERLET_PROFILE_MIN ? "[1, 4]" : "[4, 4]");
  }
}

// The session's memory for such an output is an allocation like any: its failure fails the call
// (INFERLET_OUT_OF_MEMORY), and the session serves the next call.
INFERLET_EMULATOR_TEST_F(DataDependentBoundsOnEmulator, AFailedGrowthFailsOnlyItsCall) {
  EngineHandle engine = LoadEngine("data_dependent");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  DataDependentCall call(INFERLET_MEMORY_PINNED, 2, 6, 3);
  cudaemu_fail_call("cudaMalloc", 1, cudaErrorMemoryAllocation);
  EXPECT_EQ(call.Run(session.get()).code, INFERLET_OUT_OF_MEMORY);
  ASSERT_EQ(call.Run(session.get()), Answer{});
  EXPECT_EQ(ShapeText(call.tensors.output(0).shape), "[6]");
  EXPECT_TRUE(Matches(call.tensors.Read(0), Positives(call.in0)));
}

class WrapperDataDependentOnEmulator : public WrapperTest {
 protected:
  void SetUp() override {
    WrapperTest::SetUp();
    if (INFERLET_TRT_MAJOR < 10) GTEST_SKIP() << "TensorRT " << INFERLET_TRT_MAJOR << " has no such engines";
  }
};

// The host sizes out0 from ResolveShapes' bound; Enqueue writes the shape TensorRT told, Wait the values.
INFERLET_EMULATOR_TEST_F(WrapperDataDependentOnEmulator, ResolveShapesBoundsAndCallsShapes) {
  inferlet::Engine engine = LoadWrapped("data_dependent");
  inferlet::Session session(engine, {});
  const Tensor in0 = Mixed(4, 9, 2);
  std::vector<inferlet::Input> inputs{{"in0", in0, {4, 4}}};
  std::vector<inferlet::Output> outputs(2);
  outputs[0].name = "out0";
  outputs[1].name = "out1";
  session.ResolveShapes(inputs, outputs);
  EXPECT_TRUE(outputs[0].data_dependent);
  EXPECT_EQ(outputs[0].max_bytes, 64u);
  EXPECT_EQ(outputs[0].shape.rank(), 1);
  EXPECT_EQ(outputs[0].shape[0], -1);
  EXPECT_FALSE(outputs[1].data_dependent);
  EXPECT_EQ(outputs[1].max_bytes, 64u);
  Tensor out0(outputs[0].max_bytes / sizeof(float)), out1(outputs[1].max_bytes / sizeof(float));
  std::vector<inferlet::Output> call{{"out0", out0}, {"out1", out1}};
  session.Enqueue(inputs, call);
  EXPECT_EQ(call[0].shape.rank(), 1);
  EXPECT_EQ(call[0].shape[0], 9);
  session.Wait();
  EXPECT_TRUE(Matches(Tensor(out0.begin(), out0.begin() + 9), Positives(in0)));
  EXPECT_TRUE(Matches(out1, Doubled(in0)));

  std::vector<inferlet::Output> small{{"out0", out0.data(), 60, inferlet::Memory::kHost}, {"out1", out1}};
  EXPECT_EQ(
      ThrownBy([&] { session.Run(inputs, small); }),
      (Thrown{inferlet::Code::kBufferTooSmall,
              "output 'out0' has 60 bytes, at these input shapes it may take up to 64 (its extents depend on "
              "the values the call computes)"}));
}

}  // namespace
}  // namespace inferlet_test
