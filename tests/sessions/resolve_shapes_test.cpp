// inferlet_session_resolve_shapes: the output shapes a call would resolve, known before the call and
// with nothing run; its refusals of its own (a call's bad names and shapes are refusal_test's table);
// and calls after it, with and without graphs, still computing what
// they should.
#include <cuda_runtime_api.h>
#include <trt_standin.h>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

struct NamedShape {
  const char* name;
  inferlet_shape shape;
};

struct Resolution {
  const char* engine;
  int profile;
  std::vector<NamedShape> inputs;
  std::vector<NamedShape> outputs;  // as TensorRT resolves them
};

std::vector<Resolution> Resolutions() {
  return {
      {"smoke", 0, {{"in0", Shape({3, 340})}, {"in1", Shape({3, 340})}}, {{"out0", Shape({3, 338})}}},
      {"two_profiles",
       1,
       {{"in0", Shape({13, 4, 8})}, {"in1", Shape({13, 4, 8})}},
       {{"out0", Shape({13, 4, 8})}}},
      {"mixed_rank",
       0,
       {{"in0", Shape({5, 8})}, {"in1", Shape({5, 4, 8})}},
       {{"out1", Shape({5, 4, 8})}, {"out0", Shape({5, 8})}}},  // any order, as for a call
      {"mlp", 0, {{"x", Shape({7, 16})}}, {{"y", Shape({7, 4})}}},
      {"static_batch", 0, {{"in0", Shape({4, 8})}}, {{"out0", Shape({4, 8})}}},
      {"varying_width", 1, {{"signal", Shape({5, 100})}}, {{"smoothed", Shape({5, 98})}}},
  };
}

// Only names and input shapes are read: no data, no sizes, a memory kind no call would take.
void Describe(const Resolution& resolution, std::vector<inferlet_tensor>* inputs,
              std::vector<inferlet_tensor>* outputs) {
  const inferlet_memory unknown = static_cast<inferlet_memory>(7);
  for (const NamedShape& input : resolution.inputs)
    inputs->push_back({input.name, unknown, nullptr, 0, input.shape});
  for (const NamedShape& output : resolution.outputs)
    outputs->push_back({output.name, unknown, nullptr, 0, Shape({-7})});
}

class SessionResolveShapesOnEmulator : public SessionsTest {};

INFERLET_EMULATOR_TEST_F(SessionResolveShapesOnEmulator, AnswersTheCallsOutputShapesAndRunsNothing) {
  for (const Resolution& resolution : Resolutions()) {
    SCOPED_TRACE(resolution.engine);
    EngineHandle engine = LoadEngine(resolution.engine);
    SessionHandle session =
        NewSession(engine.get(), [&](inferlet_session_options& o) { o.profile = resolution.profile; });
    ASSERT_TRUE(session);
    std::vector<inferlet_tensor> inputs, outputs;
    Describe(resolution, &inputs, &outputs);
    const size_t copies = cudaemu_call_count("cudaMemcpyAsync");
    const size_t work = cudaemu_work_executed();
    const long enqueues = trt_standin_count(kEnqueueCall);
    ASSERT_TRUE(Ok(inferlet_session_resolve_shapes(session.get(), inputs.data(), inputs.size(),
                                                   outputs.data(), outputs.size())));
    for (size_t j = 0; j < outputs.size(); ++j) {
      EXPECT_EQ(ShapeText(outputs[j].shape), ShapeText(resolution.outputs[j].shape)) << outputs[j].name;
    }
    EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), copies);
    EXPECT_EQ(cudaemu_work_executed(), work);
    EXPECT_EQ(trt_standin_count(kEnqueueCall), enqueues);
    EXPECT_EQ(trt_standin_count("network_runs"), 0);
  }
}

INFERLET_EMULATOR_TEST_F(SessionResolveShapesOnEmulator, RefusesNullsTensorRTsAnswerAndWhileACallRuns) {
  EngineHandle engine = LoadEngine("smoke");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  Resolution good{
      "smoke", 0, {{"in0", Shape({2, 340})}, {"in1", Shape({2, 340})}}, {{"out0", Shape({2, 338})}}};
  std::vector<inferlet_tensor> good_inputs, good_outputs;
  Describe(good, &good_inputs, &good_outputs);
  EXPECT_EQ(Take(inferlet_session_resolve_shapes(nullptr, good_inputs.data(), 2, good_outputs.data(), 1)),
            (Answer{INFERLET_INVALID_ARGUMENT, "session is null"}));
  EXPECT_EQ(Take(inferlet_session_resolve_shapes(session.get(), nullptr, 2, good_outputs.data(), 1)),
            (Answer{INFERLET_INVALID_ARGUMENT, "inputs is null, input_count 2"}));
  EXPECT_EQ(Take(inferlet_session_resolve_shapes(session.get(), good_inputs.data(), 2, nullptr, 1)),
            (Answer{INFERLET_INVALID_ARGUMENT, "outputs is null, output_count 1"}));

  // TensorRT's refusal of a shape is its answer, the outputs untouched.
  trt_standin_fail(kSetDimensionsCall, 1);
  EXPECT_EQ(
      Take(inferlet_session_resolve_shapes(session.get(), good_inputs.data(), 2, good_outputs.data(), 1)),
      (Answer{INFERLET_TENSORRT_ERROR, "TensorRT refused shape [2, 340] of input 'in0' (TensorRT: " +
                                           InjectedDimensionsFailureLine(0, "in0") + ")"}));
  EXPECT_EQ(ShapeText(good_outputs[0].shape), "[-7]");

  // A call in flight keeps its own shapes: resolving is refused until it is waited for.
  CallTensors tensors;
  tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({2, 340}), Pattern(680, 1));
  tensors.Input("in1", INFERLET_MEMORY_HOST, Shape({2, 340}), Pattern(680, 2));
  tensors.Output("out0", INFERLET_MEMORY_HOST, 676);
  ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), tensors.inputs(), 2, tensors.outputs(), 1)));
  std::vector<inferlet_tensor> other_inputs = good_inputs, other_outputs = good_outputs;
  other_inputs[0].shape = other_inputs[1].shape = Shape({9, 340});
  EXPECT_EQ(
      Take(inferlet_session_resolve_shapes(session.get(), other_inputs.data(), 2, other_outputs.data(), 1)),
      (Answer{
          INFERLET_BUSY,
          "the session is running a call: wait for it before the next one; a session serves one call at a "
          "time, so threads that call at once need a session each (sessions of one engine run at once)"}));
  ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
  EXPECT_EQ(ShapeText(tensors.output(0).shape), "[2, 338]");
  EXPECT_TRUE(Matches(tensors.Read(0), SmokeReference(Pattern(680, 1), Pattern(680, 2), 2)));
  ASSERT_TRUE(
      Ok(inferlet_session_resolve_shapes(session.get(), other_inputs.data(), 2, other_outputs.data(), 1)));
  EXPECT_EQ(ShapeText(other_outputs[0].shape), "[9, 338]");
}

// Resolving sets shapes on the session's context; the calls around it, a graph's replay among them,
// still compute their own.
INFERLET_EMULATOR_TEST_F(SessionResolveShapesOnEmulator, CallsAroundItKeepTheirShapesWithAndWithoutGraphs) {
  for (const bool graphs : {false, true}) {
    SCOPED_TRACE(graphs ? "with graphs" : "without graphs");
    EngineHandle engine = LoadEngine("varying_width");
    SessionHandle session =
        NewSession(engine.get(), [&](inferlet_session_options& o) { o.cuda_graphs = graphs; });
    ASSERT_TRUE(session);
    CallTensors tensors;
    tensors.Input("signal", INFERLET_MEMORY_HOST, Shape({3, 20}), Pattern(60, 4));
    tensors.Output("smoothed", INFERLET_MEMORY_HOST, 54);
    Resolution other{"varying_width", 0, {{"signal", Shape({4, 32})}}, {{"smoothed", Shape({4, 30})}}};
    std::vector<inferlet_tensor> inputs, outputs;
    Describe(other, &inputs, &outputs);
    const size_t launches = cudaemu_call_count("cudaGraphLaunch");
    for (int call = 0; call < 3; ++call) {
      ASSERT_TRUE(Ok(inferlet_session_run(session.get(), tensors.inputs(), 1, tensors.outputs(), 1)));
      EXPECT_EQ(ShapeText(tensors.output(0).shape), "[3, 18]");
      EXPECT_TRUE(Matches(tensors.Read(0), SmoothedReference(Pattern(60, 4), 3, 20)));
      ASSERT_TRUE(Ok(inferlet_session_resolve_shapes(session.get(), inputs.data(), 1, outputs.data(), 1)));
      EXPECT_EQ(ShapeText(outputs[0].shape), "[4, 30]");
    }
    // The second and third calls are replays of the graph the first one captured.
    EXPECT_EQ(cudaemu_call_count("cudaGraphLaunch") - launches, graphs ? 2u : 0u);
  }
}

}  // namespace
}  // namespace inferlet_test
