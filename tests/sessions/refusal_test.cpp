// What a session refuses before anything runs: each bad call as a table of its code and message, with
// nothing copied, enqueued or computed and the outputs' shapes untouched (and the same answer from
// inferlet_session_resolve_shapes where it reads what is wrong), also right after good calls; then a
// session that is busy, or has no call to wait for.
#include <trt_standin.h>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

struct CallRefusal {
  const char* what;
  // Spoils a good call on smoke: inputs in0, in1 [2, 340], output out0, all host memory.
  std::function<void(std::vector<inferlet_tensor>& inputs, std::vector<inferlet_tensor>& outputs)> spoil;
  inferlet_code code;
  std::string message;
  // inferlet_session_resolve_shapes reads names and input shapes only, and refuses those the same way.
  bool resolve_refuses = true;
};

std::vector<CallRefusal> CallRefusals() {
  using Tensors = std::vector<inferlet_tensor>;
  return {
      {"an unknown input", [](Tensors& in, Tensors&) { in[1].name = "in9"; }, INFERLET_INVALID_ARGUMENT,
       "input 'in9' is not an input of the engine"},
      // Names match as whole strings: neither a prefix nor an extension of an engine's name will do.
      {"a name an engine's name begins with", [](Tensors& in, Tensors&) { in[1].name = "in"; },
       INFERLET_INVALID_ARGUMENT, "input 'in' is not an input of the engine"},
      {"a name that begins with an engine's name", [](Tensors& in, Tensors&) { in[1].name = "in10"; },
       INFERLET_INVALID_ARGUMENT, "input 'in10' is not an input of the engine"},
      {"an output among the inputs", [](Tensors& in, Tensors&) { in[1].name = "out0"; },
       INFERLET_INVALID_ARGUMENT, "input 'out0' is not an input of the engine"},
      {"an input among the outputs", [](Tensors&, Tensors& out) { out[0].name = "in0"; },
       INFERLET_INVALID_ARGUMENT, "output 'in0' is not an output of the engine"},
      {"an input twice", [](Tensors& in, Tensors&) { in[1].name = "in0"; }, INFERLET_INVALID_ARGUMENT,
       "input 'in0' is given twice"},
      {"an input missing", [](Tensors& in, Tensors&) { in.pop_back(); }, INFERLET_INVALID_ARGUMENT,
       "input 'in1' is missing"},
      {"the output missing", [](Tensors&, Tensors& out) { out.clear(); }, INFERLET_INVALID_ARGUMENT,
       "output 'out0' is missing"},
      {"no name", [](Tensors& in, Tensors&) { in[1].name = nullptr; }, INFERLET_INVALID_ARGUMENT,
       "input 1 has no name"},
      {"an output without a name", [](Tensors&, Tensors& out) { out[0].name = nullptr; },
       INFERLET_INVALID_ARGUMENT, "output 0 has no name"},
      {"an unknown memory kind",
       [](Tensors& in, Tensors&) { in[0].memory = static_cast<inferlet_memory>(7); },
       INFERLET_INVALID_ARGUMENT,
       "input 'in0' has memory kind 7, not INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED or "
       "INFERLET_MEMORY_DEVICE",
       false},
      {"no data", [](Tensors&, Tensors& out) { out[0].data = nullptr; }, INFERLET_INVALID_ARGUMENT,
       "output 'out0' has no data", false},
      {"rank 9", [](Tensors& in, Tensors&) { in[0].shape.rank = 9; }, INFERLET_INVALID_ARGUMENT,
       "input 'in0' has rank 9, not 0 to 8"},
      {"a batch past the profile",
       [](Tensors& in, Tensors&) {
         in[0].shape = Shape({11, 340});
       },
       INFERLET_SHAPE_OUT_OF_PROFILE,
       "input 'in0' shape [11, 340] is outside the range of profile 0: [1, 340] to [10, 340]"},
      {"an extent the engine fixes",
       [](Tensors& in, Tensors&) {
         in[1].shape = Shape({2, 339});
       },
       INFERLET_SHAPE_OUT_OF_PROFILE,
       "input 'in1' shape [2, 339] is outside the range of profile 0: [1, 340] to [10, 340]"},
      {"past an extent the engine fixes",
       [](Tensors& in, Tensors&) {
         in[1].shape = Shape({2, 341});
       },
       INFERLET_SHAPE_OUT_OF_PROFILE,
       "input 'in1' shape [2, 341] is outside the range of profile 0: [1, 340] to [10, 340]"},
      {"another rank", [](Tensors& in, Tensors&) { in[1].shape = Shape({680}); },
       INFERLET_SHAPE_OUT_OF_PROFILE,
       "input 'in1' shape [680] is outside the range of profile 0: [1, 340] to [10, 340]"},
      {"an input buffer too small", [](Tensors& in, Tensors&) { in[0].bytes = 2719; },
       INFERLET_BUFFER_TOO_SMALL, "input 'in0' has 2719 bytes, its shape [2, 340] takes 2720", false},
      {"an output buffer too small", [](Tensors&, Tensors& out) { out[0].bytes = 2703; },
       INFERLET_BUFFER_TOO_SMALL, "output 'out0' has 2703 bytes, its shape [2, 338] takes 2704", false},
  };
}

class SessionCallsOnEmulator : public SessionsTest {};

INFERLET_EMULATOR_TEST_F(SessionCallsOnEmulator, RefusedCallsSayWhyAndRunNothing) {
  EngineHandle engine = LoadEngine("smoke");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({2, 340}), Pattern(680, 1));
  tensors.Input("in1", INFERLET_MEMORY_HOST, Shape({2, 340}), Pattern(680, 2));
  tensors.Output("out0", INFERLET_MEMORY_HOST, 676);
  for (const CallRefusal& refusal : CallRefusals()) {
    SCOPED_TRACE(refusal.what);
    std::vector<inferlet_tensor> inputs(tensors.inputs(), tensors.inputs() + 2);
    std::vector<inferlet_tensor> outputs(tensors.outputs(), tensors.outputs() + 1);
    refusal.spoil(inputs, outputs);
    const size_t copies = cudaemu_call_count("cudaMemcpyAsync");
    const long enqueues = trt_standin_count(kEnqueueCall);
    EXPECT_EQ(Take(inferlet_session_run(session.get(), inputs.data(), inputs.size(), outputs.data(),
                                        outputs.size())),
              (Answer{refusal.code, refusal.message}));
    EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), copies);
    EXPECT_EQ(trt_standin_count(kEnqueueCall), enqueues);
    EXPECT_EQ(trt_standin_count("network_runs"), 0);
    if (!outputs.empty()) {
      EXPECT_EQ(ShapeText(outputs[0].shape), "[-7]");
    }
    if (refusal.resolve_refuses) {
      SCOPED_TRACE("inferlet_session_resolve_shapes");
      const long shape_calls = trt_standin_count(kSetDimensionsCall);
      EXPECT_EQ(Take(inferlet_session_resolve_shapes(session.get(), inputs.data(), inputs.size(),
                                                     outputs.data(), outputs.size())),
                (Answer{refusal.code, refusal.message}));
      EXPECT_EQ(trt_standin_count(kSetDimensionsCall), shape_calls) << "refused before TensorRT is asked";
      if (!outputs.empty()) {
        EXPECT_EQ(ShapeText(outputs[0].shape), "[-7]");
      }
    }
  }
  EXPECT_EQ(Take(inferlet_session_run(session.get(), nullptr, 2, tensors.outputs(), 1)),
            (Answer{INFERLET_INVALID_ARGUMENT, "inputs is null, input_count 2"}));
  EXPECT_EQ(Take(inferlet_session_run(nullptr, tensors.inputs(), 2, tensors.outputs(), 1)),
            (Answer{INFERLET_INVALID_ARGUMENT, "session is null"}));
  // Refusals leave the session ready for the next call.
  ASSERT_TRUE(Ok(inferlet_session_run(session.get(), tensors.inputs(), 2, tensors.outputs(), 1)));
  EXPECT_TRUE(Matches(tensors.Read(0), SmokeReference(Pattern(680, 1), Pattern(680, 2), 2)));
}

// The same refusals, each right after a good call: what a call found for its shapes and buffers is not
// taken for the next call's.
INFERLET_EMULATOR_TEST_F(SessionCallsOnEmulator, RefusedCallsAfterGoodCallsSayWhyAndRunNothing) {
  EngineHandle engine = LoadEngine("smoke");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({2, 340}), Pattern(680, 3));
  tensors.Input("in1", INFERLET_MEMORY_HOST, Shape({2, 340}), Pattern(680, 4));
  tensors.Output("out0", INFERLET_MEMORY_HOST, 676);
  for (const CallRefusal& refusal : CallRefusals()) {
    SCOPED_TRACE(refusal.what);
    ASSERT_TRUE(Ok(inferlet_session_run(session.get(), tensors.inputs(), 2, tensors.outputs(), 1)));
    EXPECT_TRUE(Matches(tensors.Read(0), SmokeReference(Pattern(680, 3), Pattern(680, 4), 2)));
    std::vector<inferlet_tensor> inputs(tensors.inputs(), tensors.inputs() + 2);
    std::vector<inferlet_tensor> outputs(tensors.outputs(), tensors.outputs() + 1);
    refusal.spoil(inputs, outputs);
    for (inferlet_tensor& output : outputs) output.shape = Shape({-7});
    const size_t copies = cudaemu_call_count("cudaMemcpyAsync");
    const long enqueues = trt_standin_count(kEnqueueCall);
    const long runs = trt_standin_count("network_runs");
    EXPECT_EQ(Take(inferlet_session_run(session.get(), inputs.data(), inputs.size(), outputs.data(),
                                        outputs.size())),
              (Answer{refusal.code, refusal.message}));
    EXPECT_EQ(cudaemu_call_count("cudaMemcpyAsync"), copies);
    EXPECT_EQ(trt_standin_count(kEnqueueCall), enqueues);
    EXPECT_EQ(trt_standin_count("network_runs"), runs);
    for (const inferlet_tensor& output : outputs) EXPECT_EQ(ShapeText(output.shape), "[-7]");
  }
}

TEST_F(SessionsTest, OneCallAtATimeAndWaitOnlyForOne) {
  EngineHandle engine = LoadEngine("static_batch");
  SessionHandle session = NewSession(engine.get());
  ASSERT_TRUE(session);
  CallTensors tensors;
  tensors.Input("in0", INFERLET_MEMORY_HOST, Shape({4, 8}), Pattern(32, 1));
  tensors.Output("out0", INFERLET_MEMORY_HOST, 32);
  const Answer busy{
      INFERLET_BUSY,
      "the session is running a call: wait for it before the next one; a session serves one call at a "
      "time, so threads that call at once need a session each (sessions of one engine run at once)"};
  const Answer idle{INFERLET_NOT_RUNNING, "the session has no call enqueued"};
  EXPECT_EQ(Take(inferlet_session_wait(session.get())), idle);
  ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), tensors.inputs(), 1, tensors.outputs(), 1)));
  EXPECT_EQ(Take(inferlet_session_enqueue(session.get(), tensors.inputs(), 1, tensors.outputs(), 1)), busy);
  EXPECT_EQ(Take(inferlet_session_run(session.get(), tensors.inputs(), 1, tensors.outputs(), 1)), busy);
  ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
  EXPECT_EQ(Take(inferlet_session_wait(session.get())), idle);
  EXPECT_TRUE(Matches(tensors.Read(0), ReluReference(Pattern(32, 1), 32)));
  // Released with a call still in flight: the release waits for it.
  ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), tensors.inputs(), 1, tensors.outputs(), 1)));
  session.reset();
}

}  // namespace
}  // namespace inferlet_test
