#include "run_loop.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "run_files.h"
#include "run_outputs.h"
#include "shape_values.h"
#include "timed_calls.h"

namespace inferlet_run {

namespace {

using Lanes = std::vector<std::unique_ptr<Lane>>;

// The lanes' threads start timing together, once every one of them has warmed up.
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

struct LaneOutcome {
  TimedCalls timed;
  std::vector<inferlet_phase_times> phases;
  std::exception_ptr error;
};

CallFn CallsOf(Lane& lane) {
  return [&lane](const char* phase, size_t n) { lane.Call(phase, n); };
}

// After each timed call: its phase times, where the interface has them.
std::function<void()> PhasesOf(Lane& lane, bool phase_timed, std::vector<inferlet_phase_times>& phases) {
  if (!phase_timed) return nullptr;
  return [&lane, &phases] { phases.push_back(lane.PhaseTimes()); };
}

// Warm-up calls, the gate, then timed calls; a failure stops the others.
void DriveLane(Lane& lane, bool phase_timed, const Options& o, StartGate& gate, std::atomic<bool>& stop,
               ProgressLine* progress, LaneOutcome& outcome) {
  try {
    WarmUpCalls(CallsOf(lane), o.warmup);
  } catch (...) {
    outcome.error = std::current_exception();
    stop = true;
  }
  const Clock::time_point start = gate.Arrive();
  if (outcome.error || stop) return;
  try {
    outcome.timed = TimeCalls(CallsOf(lane), {o.iterations, o.duration_s}, start, progress,
                              PhasesOf(lane, phase_timed, outcome.phases), &stop);
  } catch (...) {
    outcome.error = std::current_exception();
    stop = true;
  }
}

// Sessions each on a thread of their own; a handle on this one, where the library was initialized.
std::vector<LaneOutcome> DriveLanes(Lanes& lanes, bool threads, const Options& o) {
  std::vector<LaneOutcome> outcomes(lanes.size());
  StartGate gate(lanes.size());
  std::atomic<bool> stop{false};
  ProgressLine progress;
  if (!threads) {
    DriveLane(*lanes[0], false, o, gate, stop, &progress, outcomes[0]);
  } else {
    std::vector<std::thread> running;
    for (size_t i = 0; i < lanes.size(); ++i)
      running.emplace_back(DriveLane, std::ref(*lanes[i]), true, std::cref(o), std::ref(gate), std::ref(stop),
                           i == 0 ? &progress : nullptr, std::ref(outcomes[i]));
    for (std::thread& t : running) t.join();
  }
  for (const LaneOutcome& outcome : outcomes)
    if (outcome.error) std::rethrow_exception(outcome.error);
  return outcomes;
}

// The latencies; on the sessions interface per session and in total, the total's rate counting every
// session's calls over the longest session, and the phases of every timed call.
void Summaries(const Lanes& lanes, const std::vector<LaneOutcome>& outcomes, bool sessions, const Options& o,
               RunReport& report) {
  if (!sessions) {
    const TimedCalls& t = outcomes[0].timed;
    report.latency = Summarize(t.latencies_us, t.wall_s, report.batch, o.percentiles);
    return;
  }
  std::vector<double> all_us;
  std::vector<inferlet_phase_times> all_phases;
  double wall_s = 0, samples = 0;
  for (size_t i = 0; i < lanes.size(); ++i) {
    const TimedCalls& t = outcomes[i].timed;
    all_us.insert(all_us.end(), t.latencies_us.begin(), t.latencies_us.end());
    all_phases.insert(all_phases.end(), outcomes[i].phases.begin(), outcomes[i].phases.end());
    wall_s = std::max(wall_s, t.wall_s);
    samples += static_cast<double>(t.latencies_us.size()) * lanes[i]->batch();
    report.sessions.push_back({lanes[i]->profile(), lanes[i]->batch(), lanes[i]->DeviceBytes(),
                               Summarize(t.latencies_us, t.wall_s, lanes[i]->batch(), o.percentiles)});
  }
  report.latency = Summarize(std::move(all_us), wall_s, report.batch, o.percentiles);
  if (wall_s > 0) report.latency.samples_per_s = samples / wall_s;
  report.phases = SummarizePhases(all_phases);
}

void ExportTimes(const std::vector<LaneOutcome>& outcomes, bool sessions, const Options& o,
                 std::ofstream& times) {
  if (!times.is_open()) return;
  if (!sessions)
    return WriteTimes(times, o.export_times, outcomes[0].timed.starts_us, outcomes[0].timed.latencies_us);
  std::vector<std::vector<double>> starts, latencies;
  for (const LaneOutcome& outcome : outcomes) {
    starts.push_back(outcome.timed.starts_us);
    latencies.push_back(outcome.timed.latencies_us);
  }
  WriteSessionTimes(times, o.export_times, starts, latencies);
}

std::vector<OutputResult> LaneOutputs(const Lane& lane, const ProfileConfig& profile) {
  std::vector<OutputResult> outputs;
  for (size_t j = 0; j < profile.outputs.size(); ++j)
    outputs.push_back(CollectOutput(profile.outputs[j], lane.Output(j), lane.OutputBytes(j),
                                    lane.OutputShape(j), lane.OutputBound(j)));
  return outputs;
}

// The last call's outputs: checksums, and the --save-outputs files and --compare verdicts.
void CollectOutputs(const Lane& lane, const Options& o, const std::vector<Reference>& references,
                    RunReport& report) {
  const ProfileConfig& profile = report.config.profiles[static_cast<size_t>(report.profile)];
  report.outputs = LaneOutputs(lane, profile);
  std::vector<const void*> data;
  for (size_t j = 0; j < profile.outputs.size(); ++j) data.push_back(lane.Output(j));
  FinishOutputs(o, profile, data, references, report);
}

// --shapes: one lane, each row with inputs of its own.
void RunRows(Lane& lane, bool phase_timed, const Options& o, const std::vector<ShapeRow>& rows,
             RunReport& report) {
  const ProfileConfig& profile = report.config.profiles[static_cast<size_t>(report.profile)];
  for (const ShapeRow& row : rows) {
    ShapeRowReport result;
    result.shapes = row.inputs;
    const InputPlan inputs = PlanShapedInputs(o, profile, row.inputs);
    result.batch = inputs.batch;
    std::vector<std::vector<int>> shapes = row.inputs;
    for (size_t i = 0; i < shapes.size(); ++i)
      if (profile.inputs[i].shape_tensor) shapes[i] = inputs.own_shapes[i];
    lane.SetInputs(inputs, shapes);
    WarmUpCalls(CallsOf(lane), o.warmup);
    std::vector<inferlet_phase_times> phases;
    TimedCalls t = TimeCalls(CallsOf(lane), {o.iterations, o.duration_s}, Clock::now(), nullptr,
                             PhasesOf(lane, phase_timed, phases));
    result.latency = Summarize(std::move(t.latencies_us), t.wall_s, result.batch, o.percentiles);
    result.phases = SummarizePhases(phases);
    result.outputs = LaneOutputs(lane, profile);
    report.rows.push_back(std::move(result));
  }
}

// Each lane's inputs, planned on its own profile (whose number its messages name).
std::vector<InputPlan> PlanLaneInputs(const Options& o, const std::vector<int>& profiles,
                                      const RunReport& report) {
  std::vector<InputPlan> inputs;
  for (int p : profiles) {
    Options own = o;
    own.profile = p;
    inputs.push_back(PlanInputs(own, report.config.profiles[static_cast<size_t>(p)]));
  }
  return inputs;
}

}  // namespace

void RunCalls(Backend& backend, const Options& o, std::ofstream& times, RunReport& report) {
  const std::vector<int> profiles = backend.LaneProfiles(o, report.engine);
  report.profile = profiles[0];
  const ProfileConfig& first = report.config.profiles[static_cast<size_t>(report.profile)];
  std::vector<ShapeRow> rows;
  if (!o.shape_sweep.empty()) {
    rows = PlanShapeRows(o.shape_sweep, first, report.profile);
    backend.CheckRows(rows, first);   // refused before anything runs
    for (const ShapeRow& row : rows)  // a row at no point of the profile, refused before any runs
      for (size_t i = 0; i < first.inputs.size(); ++i)
        if (first.inputs[i].shape_tensor) ProfileShapeValues(first, i, row.inputs, report.profile);
  }
  const std::vector<Reference> references = PrepareComparison(o, first);
  const std::vector<InputPlan> inputs = PlanLaneInputs(o, profiles, report);
  report.batch = inputs[0].batch;
  report.input_sources = inputs[0].sources;

  Lanes lanes = backend.Start(profiles, inputs);
  backend.RecordDeviceMemory(report);
  const bool sessions = backend.Sessions();
  if (!rows.empty()) {
    RunRows(*lanes[0], sessions, o, rows, report);
    if (sessions) report.sessions.push_back({profiles[0], 0, lanes[0]->DeviceBytes(), {}});
    return;
  }
  std::vector<LaneOutcome> outcomes = DriveLanes(lanes, sessions, o);
  Summaries(lanes, outcomes, sessions, o, report);
  ExportTimes(outcomes, sessions, o, times);
  CollectOutputs(*lanes[0], o, references, report);
}

}  // namespace inferlet_run
