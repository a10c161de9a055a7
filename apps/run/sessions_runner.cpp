#include "sessions_runner.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "input_plan.h"
#include "run_files.h"
#include "run_outputs.h"
#include "session_calls.h"
#include "session_profiles.h"
#include "shape_sweep.h"
#include "timed_calls.h"

namespace inferlet_run {

namespace {

// The sessions' threads start timing together, once every one of them has warmed up.
class StartGate {
 public:
  explicit StartGate(size_t threads) : waiting_(threads) {}
  Clock::time_point Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (--waiting_ == 0) {
      start_ = Clock::now();
      released_.notify_all();
    } else {
      released_.wait(lock, [&] { return waiting_ == 0; });
    }
    return start_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  size_t waiting_;
  Clock::time_point start_;
};

struct SessionOutcome {
  TimedCalls timed;
  std::vector<inferlet_phase_times> phases;
  std::exception_ptr error;
};

CallFn CallsOf(SessionCalls& session) {
  return [&session](const char* phase, size_t n) { session.Call(phase, n); };
}

std::vector<std::vector<int>> CallShapes(const ProfileConfig& profile, int batch) {
  std::vector<std::vector<int>> shapes;
  for (const TensorConfig& t : profile.inputs) {
    shapes.push_back(t.shape);
    if (!shapes.back().empty()) shapes.back()[0] = batch;
  }
  return shapes;
}

// Warm-up calls, the gate, then timed calls with the phase times of each; a failure stops the others.
void DriveSession(SessionCalls& session, const Options& o, StartGate& gate, std::atomic<bool>& stop,
                  ProgressLine* progress, SessionOutcome& outcome) {
  try {
    WarmUpCalls(CallsOf(session), o.warmup);
  } catch (...) {
    outcome.error = std::current_exception();
    stop = true;
  }
  const Clock::time_point start = gate.Arrive();
  if (outcome.error || stop) return;
  try {
    outcome.timed = TimeCalls(
        CallsOf(session), {o.iterations, o.duration_s}, start, progress,
        [&] { outcome.phases.push_back(session.PhaseTimes()); }, &stop);
  } catch (...) {
    outcome.error = std::current_exception();
    stop = true;
  }
}

std::vector<SessionOutcome> DriveSessions(std::vector<std::unique_ptr<SessionCalls>>& sessions,
                                          const Options& o) {
  std::vector<SessionOutcome> outcomes(sessions.size());
  StartGate gate(sessions.size());
  std::atomic<bool> stop{false};
  ProgressLine progress;
  std::vector<std::thread> threads;
  for (size_t i = 0; i < sessions.size(); ++i)
    threads.emplace_back(DriveSession, std::ref(*sessions[i]), std::cref(o), std::ref(gate), std::ref(stop),
                         i == 0 ? &progress : nullptr, std::ref(outcomes[i]));
  for (std::thread& t : threads) t.join();
  for (const SessionOutcome& outcome : outcomes)
    if (outcome.error) std::rethrow_exception(outcome.error);
  return outcomes;
}

// Per session and in total; the total's rate counts every session's calls over the longest session.
void Summaries(const std::vector<std::unique_ptr<SessionCalls>>& sessions,
               std::vector<SessionOutcome>& outcomes, const Options& o, RunReport& report) {
  std::vector<double> all_us;
  std::vector<inferlet_phase_times> all_phases;
  double wall_s = 0, samples = 0;
  for (size_t i = 0; i < sessions.size(); ++i) {
    TimedCalls& t = outcomes[i].timed;
    all_us.insert(all_us.end(), t.latencies_us.begin(), t.latencies_us.end());
    all_phases.insert(all_phases.end(), outcomes[i].phases.begin(), outcomes[i].phases.end());
    wall_s = std::max(wall_s, t.wall_s);
    samples += static_cast<double>(t.latencies_us.size()) * sessions[i]->batch();
    SessionReport s;
    s.profile = sessions[i]->profile();
    s.batch = sessions[i]->batch();
    s.device_bytes = sessions[i]->DeviceBytes();
    s.latency = Summarize(t.latencies_us, t.wall_s, s.batch, o.percentiles);
    report.sessions.push_back(std::move(s));
  }
  report.latency = Summarize(std::move(all_us), wall_s, report.batch, o.percentiles);
  if (wall_s > 0) report.latency.samples_per_s = samples / wall_s;
  report.phases = SummarizePhases(all_phases);
}

void CollectSessionOutputs(const SessionCalls& session, const Options& o,
                           const std::vector<Reference>& references, RunReport& report) {
  const ProfileConfig& profile = report.config.profiles[report.profile];
  std::vector<const void*> data;
  for (size_t j = 0; j < profile.outputs.size(); ++j) {
    report.outputs.push_back(
        CollectOutput(profile.outputs[j], session.Output(j), session.OutputBytes(j), session.OutputShape(j)));
    data.push_back(session.Output(j));
  }
  FinishOutputs(o, profile, data, references, report);
}

// --shapes: one session, each row with inputs of its own.
void RunRows(SessionCalls& session, const Options& o, const std::vector<ShapeRow>& rows, RunReport& report) {
  const ProfileConfig& profile = report.config.profiles[report.profile];
  for (const ShapeRow& row : rows) {
    ShapeRowReport result;
    result.shapes = row.inputs;
    const InputPlan inputs = PlanShapedInputs(o, profile, row.inputs);
    result.batch = inputs.batch;
    session.SetInputs(inputs, row.inputs);
    WarmUpCalls(CallsOf(session), o.warmup);
    std::vector<inferlet_phase_times> phases;
    TimedCalls t = TimeCalls(CallsOf(session), {o.iterations, o.duration_s}, Clock::now(), nullptr,
                             [&] { phases.push_back(session.PhaseTimes()); });
    result.latency = Summarize(std::move(t.latencies_us), t.wall_s, result.batch, o.percentiles);
    result.phases = SummarizePhases(phases);
    for (size_t j = 0; j < profile.outputs.size(); ++j)
      result.outputs.push_back(CollectOutput(profile.outputs[j], session.Output(j), session.OutputBytes(j),
                                             session.OutputShape(j)));
    report.rows.push_back(std::move(result));
  }
}

}  // namespace

void RunSessions(const inferlet_loader::SessionsLibrary& lib, const std::string& engine_bytes,
                 const Options& o, std::ofstream& times, RunReport& report) {
  const std::vector<int> profiles = SessionProfiles(o, report.engine);
  report.profile = profiles[0];
  const ProfileConfig& first = report.config.profiles[report.profile];
  std::vector<ShapeRow> rows;
  if (!o.shape_sweep.empty()) rows = PlanShapeRows(o.shape_sweep, first, report.profile);
  const std::vector<Reference> references = PrepareComparison(o, first);
  std::vector<InputPlan> inputs;
  for (int p : profiles) {
    Options own = o;  // its messages name the session's profile
    own.profile = p;
    inputs.push_back(PlanInputs(own, report.config.profiles[p]));
  }
  report.batch = inputs[0].batch;
  report.input_sources = inputs[0].sources;

  SessionsLog log(lib);
  SessionsEngine engine(lib, engine_bytes, o.device);
  std::vector<std::unique_ptr<SessionCalls>> sessions;
  for (size_t i = 0; i < profiles.size(); ++i) {
    const ProfileConfig& config = report.config.profiles[profiles[i]];
    sessions.push_back(
        std::make_unique<SessionCalls>(lib, engine, static_cast<int>(i), profiles[i], config, o.cuda_graph));
    sessions.back()->SetInputs(inputs[i], CallShapes(config, inputs[i].batch));
  }
  engine.DeviceMemory(&report.engine_bytes, &report.context_bytes);
  if (!rows.empty()) {
    RunRows(*sessions[0], o, rows, report);
    report.sessions.push_back({profiles[0], 0, sessions[0]->DeviceBytes(), {}});
    return;
  }
  std::vector<SessionOutcome> outcomes = DriveSessions(sessions, o);
  Summaries(sessions, outcomes, o, report);
  if (times.is_open()) {
    std::vector<std::vector<double>> starts, latencies;
    for (const SessionOutcome& outcome : outcomes) {
      starts.push_back(outcome.timed.starts_us);
      latencies.push_back(outcome.timed.latencies_us);
    }
    WriteSessionTimes(times, o.export_times, starts, latencies);
  }
  CollectSessionOutputs(*sessions[0], o, references, report);
}

}  // namespace inferlet_run
