// Command line of inferlet-run.
#ifndef INFERLET_APPS_OPTIONS_H_
#define INFERLET_APPS_OPTIONS_H_

#include <string>
#include <vector>

#include "tensor_data.h"

namespace inferlet_run {

// Timed calls go on until both --iterations calls and --duration seconds are done (as trtexec).
constexpr double kDefaultDurationS = 3.0;

// The TensorRT majors a deliverable can be built for (the build's list), in the order an engine of
// unknown major is tried.
constexpr int kTrtMajors[] = {INFERLET_TRT_MAJORS};

// The majors in ascending order as a message names them: "a, b or c".
std::string TrtMajorsInWords();

// Which interface runs the engine: a deliverable's kestrel_trt_* functions, or a sessions library.
enum class Api { kLegacy, kSessions };

// --compare's tolerances: numpy's allclose rule |a - b| <= atol + rtol * |b| with its defaults.
constexpr double kDefaultRtol = 1e-5;
constexpr double kDefaultAtol = 1e-8;

struct Options {
  std::string engine;
  int trt = 0;                       // one of kTrtMajors; 0 when not given: the engine decides
  std::string lib;                   // deliverable to load instead of the build's libinferlet<trt>.so
  std::vector<std::string> plugins;  // --plugins: libraries of TensorRT plugins the engine needs
  int profile = 0;
  int batch = 0;  // 0: the largest batch the profile is configured for
  int device = 0;
  bool cuda_graph = false;
  bool allow_host_code = false;  // --allow-host-code (--api sessions): a version-compatible engine loads
  int iterations = 100;
  int warmup = 5;
  double duration_s = kDefaultDurationS;
  std::vector<double> percentiles;  // reported besides the fixed set
  FillMode fill = FillMode::kRandom;
  unsigned seed = 1;
  std::vector<std::string> inputs;      // NAME=FILE.npy
  std::string save_outputs;             // directory for <output>.npy
  std::string export_times;             // file for one JSON record per timed call
  std::vector<std::string> shapes;      // [P:]NAME=DxD...
  std::vector<std::string> item_sizes;  // [P:]NAME=BYTES
  bool json = false;
  bool quiet = false;  // hold back the library's own lines (shown after a failure)
  Api api = Api::kLegacy;
  int sessions = 1;                   // --api sessions: sessions of the engine, one thread each
  std::vector<int> session_profiles;  // --profiles, one per session; empty: from --profile on
  std::string compare;                // directory of <output>.npy references
  double rtol = kDefaultRtol;
  double atol = kDefaultAtol;
  std::vector<std::string> shape_sweep;  // --shapes NAME=DxD,DxD...: one report row per shape
};

// Parses argv into options. Returns -1 when the run should go on, or 0 after --help. Throws ToolError
// (kExitUsage) for a bad command line, with a message naming the flag and what it takes.
int ParseCommandLine(int argc, const char* const* argv, Options* options);

// Options of `inferlet-run inspect`.
struct InspectOptions {
  std::string engine;
  int trt = 0;                       // 0: try each major of kTrtMajors
  std::vector<std::string> plugins;  // --plugins, as for a run with --api sessions
  bool json = false;
  bool allow_host_code = false;  // --allow-host-code: a version-compatible engine may be read
};

// Parses `inferlet-run inspect ...` (argv[0] is "inspect"); the same contract as ParseCommandLine.
int ParseInspectCommandLine(int argc, const char* const* argv, InspectOptions* options);

// Whether the command line asks for JSON, judged from the words alone: a failure to parse it is then
// still reported as a JSON object.
bool WantsJson(int argc, const char* const* argv);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_OPTIONS_H_
