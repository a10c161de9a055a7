// Phase times (options.phase_timing): off, a session makes and records no timing event; on, each call's
// stream is marked between its uploads, TensorRT's work and its downloads (around the launch of a
// replayed graph), and the durations of the last completed call are non-negative and lie within it.
#include <chrono>

#include "emulator_support.h"
#include "session_support.h"

namespace inferlet_test {
namespace {

SessionHandle TimedSession(inferlet_engine* engine, int phase_timing, int graphs) {
  return NewSession(engine, [&](inferlet_session_options& o) {
    o.phase_timing = phase_timing;
    o.cuda_graphs = graphs;
  });
}

// A smoke call of three rows, inputs and output in the memory kind given.
struct SmokeCall {
  explicit SmokeCall(inferlet_memory memory, int seed = 1) {
    tensors.Input("in0", memory, Shape({3, 340}), Pattern(3 * 340, seed));
    tensors.Input("in1", memory, Shape({3, 340}), Pattern(3 * 340, seed + 1));
    tensors.Output("out0", memory, 3 * 338);
  }
  inferlet_status* Run(inferlet_session* session) {
    return inferlet_session_run(session, tensors.inputs(), 2, tensors.outputs(), 1);
  }
  CallTensors tensors;
};

Answer PhaseTimes(inferlet_session* session, inferlet_phase_times* times) {
  return Take(inferlet_session_phase_times(session, times));
}

class SessionPhaseTimesOnEmulator : public SessionsTest {};

// Timing events made, and per call records and elapsed-time queries, as the emulated device counts
// them: the session's own event is made and recorded in every case.
INFERLET_EMULATOR_TEST_F(SessionPhaseTimesOnEmulator, EventsMadeAndRecordedOnlyWhenAskedFor) {
  struct Case {
    int phase_timing, graphs;
    size_t events, first_records, later_records, first_elapsed, later_elapsed;
  };
  const Case cases[] = {
      {0, 0, 1, 1, 1, 0, 0},
      {0, 1, 1, 1, 1, 0, 0},
      {1, 0, 5, 5, 5, 3, 3},
      {1, 1, 5, 5, 3, 3, 1},  // the first call runs plain (and is captured), the second replays
  };
  EngineHandle engine = LoadEngine("smoke");
  for (const Case& c : cases) {
    SCOPED_TRACE("phase_timing " + std::to_string(c.phase_timing) + ", graphs " + std::to_string(c.graphs));
    const size_t made =
        cudaemu_call_count("cudaEventCreateWithFlags") + cudaemu_call_count("cudaEventCreate");
    SessionHandle session = TimedSession(engine.get(), c.phase_timing, c.graphs);
    ASSERT_TRUE(session);
    EXPECT_EQ(cudaemu_live_events(), c.events);
    EXPECT_EQ(cudaemu_call_count("cudaEventCreateWithFlags") + cudaemu_call_count("cudaEventCreate") - made,
              c.events);
    SmokeCall call(INFERLET_MEMORY_HOST);
    for (int k = 0; k < 2; ++k) {
      const size_t records = cudaemu_call_count("cudaEventRecord");
      const size_t elapsed = cudaemu_call_count("cudaEventElapsedTime");
      ASSERT_TRUE(Ok(call.Run(session.get())));
      EXPECT_EQ(cudaemu_call_count("cudaEventRecord") - records, k == 0 ? c.first_records : c.later_records);
      EXPECT_EQ(cudaemu_call_count("cudaEventElapsedTime") - elapsed,
                k == 0 ? c.first_elapsed : c.later_elapsed);
    }
    session.reset();
    EXPECT_EQ(cudaemu_live_events(), 0u);
  }
}

// The marks lie between the phases: the uploads, TensorRT's work (its launch, with the copies the
// stand-in makes of its own), the downloads, then the session's own event.
INFERLET_EMULATOR_TEST_F(SessionPhaseTimesOnEmulator, MarksLieBetweenThePhases) {
  EngineHandle engine = LoadEngine("smoke");
  SessionHandle session = TimedSession(engine.get(), 1, 0);
  ASSERT_TRUE(session);
  SmokeCall call(INFERLET_MEMORY_HOST);
  cudaemu_trace_clear();
  ASSERT_TRUE(
      Ok(inferlet_session_enqueue(session.get(), call.tensors.inputs(), 2, call.tensors.outputs(), 1)));
  void* event = nullptr;
  ASSERT_TRUE(Ok(inferlet_session_event(session.get(), &event)));
  ASSERT_TRUE(Ok(inferlet_session_wait(session.get())));
  // The stream's work between one record and the next: "H2D", "D2H", "D2D" copies and "host function"s.
  std::vector<std::vector<std::string>> between(1);
  std::vector<uintptr_t> recorded;
  for (const cudaemu_trace_entry& e : TraceEntries()) {
    const std::string api = e.api;
    if (api == "cudaEventRecord") {
      recorded.push_back(e.args[0]);
      between.emplace_back();
    } else if (api == "cudaMemcpyAsync") {
      const auto kind = static_cast<cudaMemcpyKind>(e.args[3]);
      between.back().push_back(kind == cudaMemcpyHostToDevice   ? "H2D"
                               : kind == cudaMemcpyDeviceToHost ? "D2H"
                                                                : "D2D");
    } else if (api == "cudaLaunchHostFunc") {
      between.back().push_back("host function");
    }
  }
  ASSERT_EQ(recorded.size(), 5u);
  using ::testing::Contains;
  using ::testing::ElementsAre;
  using ::testing::IsEmpty;
  EXPECT_THAT(between[0], IsEmpty());
  EXPECT_THAT(between[1], ElementsAre("H2D", "H2D"));
  EXPECT_THAT(between[2], Contains("host function"));
  EXPECT_THAT(between[3], ElementsAre("D2H"));
  EXPECT_THAT(between[4], IsEmpty());
  EXPECT_EQ(recorded[4], reinterpret_cast<uintptr_t>(event)) << "the session's event comes last";
  for (size_t i = 0; i < 4; ++i)
    for (size_t j = i + 1; j < 5; ++j) EXPECT_NE(recorded[i], recorded[j]) << i << " " << j;
  const std::vector<cudaemu_trace_entry> elapsed = TraceOf("cudaEventElapsedTime");
  ASSERT_EQ(elapsed.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {  // each phase from one mark to the next
    EXPECT_EQ(elapsed[k].args[0], recorded[k]) << k;
    EXPECT_EQ(elapsed[k].args[1], recorded[k + 1]) << k;
  }
}

class SessionPhaseTimes : public SessionsTest {};

// On any device: each phase is non-negative and together they lie within the host's time of the call.
// A replayed graph is one launch, timed as compute with the copies zero.
TEST_F(SessionPhaseTimes, NonNegativeAndWithinTheCall) {
  EngineHandle engine = LoadEngine("smoke");
  for (const inferlet_memory memory :
       {INFERLET_MEMORY_HOST, INFERLET_MEMORY_PINNED, INFERLET_MEMORY_DEVICE}) {
    for (const int graphs : {0, 1}) {
      SCOPED_TRACE(std::string(MemoryName(memory)) + (graphs ? ", graphs" : ""));
      SessionHandle session = TimedSession(engine.get(), 1, graphs);
      ASSERT_TRUE(session);
      SmokeCall call(memory);
      for (int k = 0; k < 3; ++k) {
        const auto before = std::chrono::steady_clock::now();
        ASSERT_TRUE(Ok(call.Run(session.get())));
        const double call_ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before).count();
        inferlet_phase_times t;
        ASSERT_TRUE(Ok(inferlet_session_phase_times(session.get(), &t)));
        const bool replay = graphs && k > 0;
        EXPECT_EQ(t.graph_replay, replay ? 1 : 0) << k;
        EXPECT_GE(t.host_to_device_ms, 0.0f);
        EXPECT_GE(t.compute_ms, 0.0f);
        EXPECT_GE(t.device_to_host_ms, 0.0f);
        if (replay) {
          EXPECT_EQ(t.host_to_device_ms, 0.0f);
          EXPECT_EQ(t.device_to_host_ms, 0.0f);
        }
        EXPECT_LE(double(t.host_to_device_ms) + t.compute_ms + t.device_to_host_ms, call_ms + 1e-3) << k;
        EXPECT_TRUE(Matches(call.tensors.Read(0), SmokeReference(Pattern(1020, 1), Pattern(1020, 2), 3)));
      }
    }
  }
}

TEST_F(SessionPhaseTimes, RefusalsAndTheTimesOfTheLastCompletedCall) {
  EngineHandle engine = LoadEngine("smoke");
  inferlet_phase_times t{};
  SmokeCall call(INFERLET_MEMORY_HOST);
  {
    SessionHandle untimed = TimedSession(engine.get(), 0, 0);
    ASSERT_TRUE(untimed);
    ASSERT_TRUE(Ok(call.Run(untimed.get())));
    EXPECT_EQ(PhaseTimes(untimed.get(), &t),
              (Answer{INFERLET_INVALID_ARGUMENT,
                      "the session does not time its calls' phases: it was made without "
                      "inferlet_session_options.phase_timing"}));
  }
  SessionHandle timed = TimedSession(engine.get(), 1, 0);
  ASSERT_TRUE(timed);
  EXPECT_EQ(Take(inferlet_session_phase_times(nullptr, &t)),
            (Answer{INFERLET_INVALID_ARGUMENT, "session is null"}));
  EXPECT_EQ(Take(inferlet_session_phase_times(timed.get(), nullptr)),
            (Answer{INFERLET_INVALID_ARGUMENT, "times is null"}));
  const Answer no_call{INFERLET_NOT_RUNNING, "the session has completed no call yet"};
  EXPECT_EQ(PhaseTimes(timed.get(), &t), no_call);

  // A refused call completes nothing; an enqueued one only once it is waited for.
  SmokeCall outside(INFERLET_MEMORY_HOST);
  outside.tensors.inputs()[0].shape = Shape({11, 340});
  EXPECT_EQ(Take(outside.Run(timed.get())).code, INFERLET_SHAPE_OUT_OF_PROFILE);
  EXPECT_EQ(PhaseTimes(timed.get(), &t), no_call);
  ASSERT_TRUE(Ok(call.Run(timed.get())));
  inferlet_phase_times first{};
  ASSERT_TRUE(Ok(inferlet_session_phase_times(timed.get(), &first)));
  ASSERT_TRUE(Ok(inferlet_session_enqueue(timed.get(), call.tensors.inputs(), 2, call.tensors.outputs(), 1)));
  ASSERT_TRUE(Ok(inferlet_session_phase_times(timed.get(), &t)));
  EXPECT_EQ(t.host_to_device_ms, first.host_to_device_ms) << "still the first call's";
  EXPECT_EQ(t.compute_ms, first.compute_ms);
  EXPECT_EQ(t.device_to_host_ms, first.device_to_host_ms);
  ASSERT_TRUE(Ok(inferlet_session_wait(timed.get())));
  EXPECT_EQ(Take(outside.Run(timed.get())).code, INFERLET_SHAPE_OUT_OF_PROFILE);
  ASSERT_TRUE(Ok(inferlet_session_phase_times(timed.get(), &t)))
      << "a refusal keeps the last completed call's";
}

}  // namespace
}  // namespace inferlet_test
