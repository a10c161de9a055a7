// Command line of inferlet-run.
#ifndef INFERLET_APPS_OPTIONS_H_
#define INFERLET_APPS_OPTIONS_H_

#include <string>
#include <vector>

#include "tensor_data.h"

namespace inferlet_run {

struct Options {
  std::string engine;
  int trt = 0;            // 7 or 8; 0 when not given
  std::string lib;        // deliverable to load instead of the build's libinferlet<trt>.so
  std::string inspector;  // engine inspector to load instead of libinferlet_inspect<trt>.so
  int profile = 0;
  int batch = 0;  // 0: the largest batch the profile is configured for
  int device = 0;
  bool cuda_graph = false;
  int iterations = 100;
  int warmup = 5;
  double duration_s = 0;
  FillMode fill = FillMode::kRandom;
  unsigned seed = 1;
  std::vector<std::string> inputs;      // NAME=FILE.npy
  std::string save_outputs;             // directory for <output>.npy
  std::vector<std::string> shapes;      // [P:]NAME=DxD...
  std::vector<std::string> item_sizes;  // [P:]NAME=BYTES
  bool json = false;
};

// Parses argv into options. Returns -1 when the run should go on, otherwise the exit status to end
// with: 0 after --help, the usage status after a bad command line (CLI11 has printed why).
int ParseCommandLine(int argc, const char* const* argv, Options* options);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_OPTIONS_H_
