// The event of a call: recorded after the whole call's work, so that the host may synchronize on it or
// make a stream of its own wait for it before the session's wait, with graphs as without.
#include "session_support.h"

namespace inferlet_test {
namespace {

TEST_F(SessionsTest, TheEventStandsForTheWholeCall) {
  EngineHandle engine = LoadEngine("mixed_rank");
  for (const int graphs : {0, 1}) {
    SCOPED_TRACE(graphs ? "with graphs" : "without graphs");
    SessionHandle session =
        NewSession(engine.get(), [&](inferlet_session_options& o) { o.cuda_graphs = graphs; });
    ASSERT_TRUE(session);
    cudaStream_t own = nullptr;
    ASSERT_EQ(cudaStreamCreateWithFlags(&own, cudaStreamNonBlocking), cudaSuccess);
    void* event = nullptr;
    EXPECT_EQ(Take(inferlet_session_event(session.get(), &event)),
              (Answer{INFERLET_NOT_RUNNING, "the session has no call enqueued"}));
    for (int k = 0; k < 2; ++k) {  // with graphs: captured, then launched
      CallTensors call;
      call.Input("in0", INFERLET_MEMORY_HOST, Shape({6, 8}), Pattern(48, k));
      call.Input("in1", INFERLET_MEMORY_DEVICE, Shape({6, 4, 8}), Pattern(192, k + 1));
      call.Output("out0", INFERLET_MEMORY_PINNED, 48);
      call.Output("out1", INFERLET_MEMORY_DEVICE, 192);
      ASSERT_TRUE(Ok(inferlet_session_enqueue(session.get(), call.inputs(), 2, call.outputs(), 2)));
      ASSERT_TRUE(Ok(inferlet_session_event(session.get(), &event)));
      // The host's stream takes the device output once the call's work is done.
      Tensor copied(192);
      void* pinned = nullptr;
      ASSERT_EQ(cudaMallocHost(&pinned, 192 * sizeof(float)), cudaSuccess);
      ASSERT_EQ(cudaStreamWaitEvent(own, static_cast<cudaEvent_t>(event), 0), cudaSuccess);
      ASSERT_EQ(
          cudaMemcpyAsync(pinned, call.output(1).data, 192 * sizeof(float), cudaMemcpyDeviceToHost, own),
          cudaSuccess);
      ASSERT_EQ(cudaStreamSynchronize(own), cudaSuccess);
      copied.assign(static_cast<float*>(pinned), static_cast<float*>(pinned) + 192);
      EXPECT_TRUE(Matches(copied, HalfReference(Pattern(192, k + 1), 192)));
      ASSERT_EQ(cudaFreeHost(pinned), cudaSuccess);
      // Synchronized on, it leaves pinned outputs complete.
      ASSERT_EQ(cudaEventSynchronize(static_cast<cudaEvent_t>(event)), cudaSuccess);
      EXPECT_TRUE(Matches(call.Read(0), ReluReference(Pattern(48, k), 48)));
      ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
      EXPECT_EQ(Take(inferlet_session_event(session.get(), &event)).code, INFERLET_NOT_RUNNING);
    }
    ASSERT_EQ(cudaStreamDestroy(own), cudaSuccess);
  }
}

}  // namespace
}  // namespace inferlet_test
