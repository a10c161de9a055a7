// One run of inferlet-run: choose and load the libraries, derive the configuration, create a handle,
// call it, time the calls and collect what the report shows; and `inferlet-run inspect`.
#ifndef INFERLET_APPS_RUNNER_H_
#define INFERLET_APPS_RUNNER_H_

#include <string>
#include <vector>

#include "engine_desc.h"
#include "latency.h"
#include "model_config.h"
#include "options.h"
#include "tensor_data.h"

namespace inferlet_run {

struct OutputResult {
  std::string name;
  DType dtype = DType::kFloat;
  bool typed = true;       // configured item size equals the data type's size
  std::vector<int> shape;  // of this call's output: batch first
  int bytes = 0;           // as kestrel_trt_process reported it
  Checksum checksum;
  std::string saved_to;  // .npy path when --save-outputs was given
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
};

// Throws ToolError for every failure; the handle, if one was made, is deleted first. With --quiet
// the library's lines held back until then travel in the error's library_log.
RunReport Run(const Options& options);

struct InspectReport {
  std::string engine_path;
  std::string inspector_path;
  EngineDesc engine;
};

// `inferlet-run inspect`: reads the engine with an inspector only. Throws ToolError.
InspectReport Inspect(const InspectOptions& options);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_RUNNER_H_
