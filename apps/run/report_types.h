// What a run and `inferlet-run inspect` found, as the report (report.h) prints it.
#ifndef INFERLET_APPS_REPORT_TYPES_H_
#define INFERLET_APPS_REPORT_TYPES_H_

#include <string>
#include <vector>

#include "compare.h"
#include "engine_desc.h"
#include "latency.h"
#include "model_config.h"
#include "options.h"
#include "phases.h"
#include "tensor_data.h"

namespace inferlet_run {

struct OutputResult {
  std::string name;
  DataType dtype;
  bool typed = true;       // configured item size equals the data type's size
  std::vector<int> shape;  // of this call's output: batch first
  int bytes = 0;           // as the call reported it
  bool data_dependent = false;
  long long bound_bytes = -1;  // a data-dependent output's buffer: the library's bound at the inputs
  Checksum checksum;
  std::string saved_to;  // .npy path when --save-outputs was given
};

// One session of a run with --api sessions, driven by a thread of its own.
struct SessionReport {
  int profile = 0;
  int batch = 0;
  long long device_bytes = -1;  // inferlet_session_device_memory
  LatencySummary latency;
};

// One row of --shapes: the inputs' shapes, its timed calls and its last call's outputs.
struct ShapeRowReport {
  std::vector<std::vector<int>> shapes;  // per input of the profile
  int batch = 0;
  LatencySummary latency;
  PhaseSummary phases;  // --api sessions
  std::vector<OutputResult> outputs;
};

struct RunReport {
  std::string engine_path;
  EngineDesc engine;
  std::string library_path;
  int trt_major = 0;
  ModelConfig config;
  int profile = 0;
  int batch = 0;
  int device = 0;
  bool cuda_graph = false;
  std::vector<std::string> input_sources;  // per input of the profile: "random (seed N)", "zeros" or a file
  std::vector<OutputResult> outputs;
  int warmup_calls = 0;
  int min_iterations = 0;     // --iterations
  double min_duration_s = 0;  // --duration
  LatencySummary latency;
  std::string times_file;  // --export-times
  // --api sessions: each session, the phases of every timed call, the engine's own device memory.
  Api api = Api::kLegacy;
  std::vector<SessionReport> sessions;
  PhaseSummary phases;
  long long engine_bytes = -1, context_bytes = -1;  // inferlet_engine_device_memory
  std::vector<ShapeRowReport> rows;                 // --shapes, instead of outputs and latency
  CompareReport compare;                            // --compare
};

struct InspectReport {
  std::string engine_path;
  std::string reader_path;  // the sessions library that read the engine
  EngineDesc engine;
};

}  // namespace inferlet_run

#endif  // INFERLET_APPS_REPORT_TYPES_H_
