#include "options.h"

#include <CLI/CLI.hpp>
#include <map>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

constexpr const char* kDescription =
    "Runs a serialized TensorRT engine through an inferlet deliverable (libinferlet8.so or\n"
    "libinferlet7.so, loaded with dlopen and driven through its kestrel_trt_* functions) and times\n"
    "the inference calls. The model configuration is read from the engine: every profile, its\n"
    "inputs and outputs at their largest dimensions, element sizes from their data types.";

constexpr const char* kFooter =
    "Tensor overrides take [PROFILE:]NAME=VALUE; without a profile they apply to every profile.\n"
    "Exit status: 0 success, 1 the library refused the configuration or a call, 2 bad command\n"
    "line, 3 unreadable engine or .npy file, 4 a library that cannot be loaded, 5 outputs that\n"
    "cannot be saved.";

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, Options* o) {
  CLI::App app(kDescription, "inferlet-run");
  app.footer(kFooter);
  app.get_formatter()->column_width(34);

  app.add_option("--engine", o->engine, "Serialized TensorRT engine file")->required()->option_text("FILE");
  app.add_option("--trt", o->trt, "TensorRT major of the deliverable: loads libinferlet<N>.so (default 8)")
      ->check(CLI::IsMember({7, 8}))
      ->option_text("7|8");
  app.add_option("--lib", o->lib, "Deliverable to load instead (its TensorRT major is detected)")
      ->option_text("PATH");
  app.add_option("--inspector", o->inspector, "Engine inspector library to use instead of the build's")
      ->option_text("PATH");
  app.add_option("--profile", o->profile, "Optimization profile the calls use")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--batch", o->batch, "Samples per call (default: the profile's largest batch)")
      ->check(CLI::PositiveNumber);
  app.add_option("--device", o->device, "CUDA device ordinal")->capture_default_str();
  app.add_flag("--cuda-graph", o->cuda_graph, "Capture each call's work into a CUDA graph");
  app.add_option("--iterations", o->iterations, "Timed calls (at least)")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  app.add_option("--warmup", o->warmup, "Untimed calls before timing")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();
  app.add_option("--duration", o->duration_s, "Keep calling for at least this many seconds")
      ->check(CLI::NonNegativeNumber)
      ->option_text("SECONDS");
  const std::map<std::string, FillMode> fills{{"zeros", FillMode::kZeros}, {"random", FillMode::kRandom}};
  app.add_option("--fill", o->fill, "Inputs not loaded from files: zeros or random (default)")
      ->transform(CLI::CheckedTransformer(fills))
      ->option_text("zeros|random");
  app.add_option("--seed", o->seed, "Seed of the random inputs")->capture_default_str();
  app.add_option("--input", o->inputs, "Load an input from a .npy file (repeatable)")
      ->option_text("NAME=FILE.npy")
      ->allow_extra_args(false);
  app.add_option("--save-outputs", o->save_outputs, "Write each output of the last call to DIR/<name>.npy")
      ->option_text("DIR");
  app.add_option("--shape", o->shapes, "Configured (largest) dimensions of a tensor (repeatable)")
      ->option_text("[P:]NAME=DxD..")
      ->allow_extra_args(false);
  app.add_option("--item-size", o->item_sizes, "Configured element size of a tensor (repeatable)")
      ->option_text("[P:]NAME=BYTES")
      ->allow_extra_args(false);
  app.add_flag("--json", o->json, "Print one JSON summary on stdout (library output goes to stderr)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  return -1;
}

}  // namespace inferlet_run
