#include "options.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "exit_codes.h"

namespace inferlet_run {

namespace {

// Majors joined by separator, the last two by last_separator.
std::string Join(const std::vector<int>& majors, const char* separator, const char* last_separator) {
  std::string text;
  for (size_t i = 0; i < majors.size(); ++i) {
    if (i > 0) text += i + 1 == majors.size() ? last_separator : separator;
    text += std::to_string(majors[i]);
  }
  return text;
}

std::vector<int> MajorsTried() { return std::vector<int>(std::begin(kTrtMajors), std::end(kTrtMajors)); }

std::vector<int> MajorsAscending() {
  std::vector<int> majors = MajorsTried();
  std::sort(majors.begin(), majors.end());
  return majors;
}

std::string MajorChoices() { return Join(MajorsAscending(), "|", "|"); }

std::string Description() {
  return fmt::format(
      "Runs a serialized TensorRT engine through an inferlet deliverable (libinferlet<N>.so for\n"
      "TensorRT {}, loaded with dlopen and driven through its kestrel_trt_* functions) and\n"
      "times the inference calls. The model configuration is read from the engine: every profile, its\n"
      "inputs and outputs at their largest dimensions, element sizes from their data types.\n"
      "With --api sessions the sessions library (libinferlet_sessions<N>.so) runs it instead: any\n"
      "number of sessions, one thread each, with the host-to-device, compute and device-to-host time\n"
      "of every call.\n"
      "`inferlet-run inspect ENGINE` lists an engine's bindings and profiles without running it.",
      TrtMajorsInWords());
}

std::string Footer() {
  return fmt::format(
             "Without --trt and --lib the engine picks the TensorRT major: the sessions library of each "
             "major\n"
             "present ({}, in that order) tries to read it, and the first that does decides which\n"
             "libinferlet<N>.so runs it. When none reads it, the error says so in one line:\n"
             "\"cannot read engine file 'F': no TensorRT major of this build ({}) reads it: REASON\"\n"
             "(when the majors give different reasons, \"...reads it; TensorRT 8: REASON; TensorRT 7: "
             "...\").\n",
             Join(MajorsTried(), ", ", ", "), Join(MajorsTried(), ", ", ", ")) +
         std::string(
             "--plugins LIB: with --api sessions (and for inspect) each major tried loads LIB into its\n"
             "TensorRT first (inferlet_plugin_library_load: IPluginRegistry::loadLibrary from TensorRT 10 "
             "on,\n"
             "so LIB exports getCreators; dlopen on 7 and 8, where LIB registers its creators when it is\n"
             "loaded); a major that does not take LIB does not read the engine. With --api legacy the tool\n"
             "loads LIB itself, dlopen with RTLD_GLOBAL, before the deliverable makes its handle, as a host\n"
             "of kestrel_trt_* does: LIB registers its creators when it is loaded, on every major.\n") +
         std::string(
             "Tensor overrides take [PROFILE:]NAME=VALUE; without a profile they apply to every profile.\n"
             "Timed calls go on until both --iterations calls and --duration seconds are done; latencies "
             "are\n"
             "in microseconds, in the text report and in the JSON (keys ending in _us).\n"
             ".npy inputs: C order, little endian, shaped [batch, configured dims after the batch...], of "
             "the\n"
             "input's data type: float32 (<f4), float16 (<f2), int8 (|i1), int32 (<i4), int64 (<i8),\n"
             "bool (|b1) or uint8 (|u1); bfloat16 (<V2), float8_e4m3fn and float8_e8m0fnu (<V1) as their\n"
             "raw bytes, as np.save writes ml_dtypes' types. For an input whose --item-size differs from "
             "its\n"
             "data type, any of these, taken as bytes. The 4-bit types (kINT4, kFP4) are refused.\n"
             "--compare DIR checks the last call's outputs against DIR/<name>.npy (same dtype and shape):\n"
             "every element within |a - b| <= atol + rtol * |b| (numpy's allclose; b the reference).\n"
             "Exit status: 0 success, 1 the library refused the configuration or a call, 2 bad command\n"
             "line, 3 unreadable engine or .npy file, 4 a library that cannot be loaded, 5 outputs that\n"
             "cannot be saved, 6 an output out of tolerance with --compare (the report is printed first).\n"
             "With --json a failure, too, prints one JSON object on stdout:\n"
             "{\"error\": MESSAGE, \"exit_status\": N, \"kind\": "
             "\"rejected|usage|input|library|output|mismatch\"}.");
}

}  // namespace

std::string TrtMajorsInWords() { return Join(MajorsAscending(), ", ", " or "); }

namespace {

[[noreturn]] void Usage(const std::string& message) { throw ToolError{kExitUsage, message}; }

// --inspector named a library of its own that read engines; the sessions library of each major does
// that now. Hidden from the help, and refused in words that say so rather than as an unknown option.
void RetiredInspectorOption(CLI::App& app) {
  app.add_option_function<std::string>(
         "--inspector",
         [](const std::string&) {
           Usage(
               "--inspector is gone: the sessions library of each major (libinferlet_sessions<N>.so) "
               "reads the engine; --trt picks the major");
         })
      ->group("");
}

// --trt takes one of the TensorRT majors a deliverable is built for.
int TrtMajor(const std::string& text) {
  for (int major : kTrtMajors)
    if (text == std::to_string(major)) return major;
  Usage(fmt::format("--trt must be {}, not '{}'", TrtMajorsInWords(), text));
}

// A whole number in [min, max]; `bounded` says whether max is a limit of the option (named in the
// message) or only of its type.
long long WholeNumber(const char* flag, const std::string& text, long long min, long long max,
                      bool bounded = false) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(begin, &end, 10);
  if (text.empty() || end == begin || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0])))
    Usage(fmt::format("{} takes a whole number, not '{}'", flag, text));
  if (errno == ERANGE || value < min || value > max) {
    if (bounded) Usage(fmt::format("{} must be between {} and {}", flag, min, max));
    const bool too_big = errno == ERANGE ? text[0] != '-' : value > max;
    if (too_big) Usage(fmt::format("{} must be at most {}", flag, max));
    Usage(fmt::format("{} must be at least {}", flag, min));
  }
  return value;
}

double RealNumber(const char* flag, const std::string& text, double min, double max, const char* words) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(begin, &end);
  if (text.empty() || end == begin || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0])) ||
      !std::isfinite(value))
    Usage(fmt::format("{} takes a number, not '{}'", flag, text));
  if (value < min || value > max) Usage(fmt::format("{} must be {}", flag, words));
  return value;
}

// "0,2,1": one profile per session.
std::vector<int> ProfileList(const std::string& text) {
  std::vector<int> profiles;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const bool digits = !item.empty() && item.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || item.size() > 9)
      Usage(fmt::format("--profiles takes profile numbers separated by commas, such as 0,1, not '{}'", text));
    profiles.push_back(std::stoi(item));
    if (comma == std::string::npos) return profiles;
    start = comma + 1;
  }
}

// Numeric options are taken as text and converted here, so that a bad value is answered in words
// ("--batch must be at least 1") rather than with CLI11's bounds.
struct NumberTexts {
  std::string trt, profile, batch, device, iterations, warmup, duration, seed, fill;
  std::vector<std::string> percentiles;
  std::string api, sessions, profiles, rtol, atol;
};

void ConvertNumbers(const CLI::App& app, const NumberTexts& t, Options* o) {
  auto given = [&](const char* flag) { return app.count(flag) > 0; };
  if (given("--trt")) o->trt = TrtMajor(t.trt);
  if (given("--profile")) o->profile = static_cast<int>(WholeNumber("--profile", t.profile, 0, INT_MAX));
  if (given("--batch")) o->batch = static_cast<int>(WholeNumber("--batch", t.batch, 1, INT_MAX));
  if (given("--device")) o->device = static_cast<int>(WholeNumber("--device", t.device, 0, INT_MAX));
  if (given("--iterations"))
    o->iterations = static_cast<int>(WholeNumber("--iterations", t.iterations, 1, INT_MAX));
  if (given("--warmup")) o->warmup = static_cast<int>(WholeNumber("--warmup", t.warmup, 0, INT_MAX));
  if (given("--duration")) o->duration_s = RealNumber("--duration", t.duration, 0, HUGE_VAL, "at least 0");
  if (given("--seed")) o->seed = static_cast<unsigned>(WholeNumber("--seed", t.seed, 0, UINT32_MAX, true));
  for (const std::string& p : t.percentiles)
    o->percentiles.push_back(RealNumber("--percentile", p, 0, 100, "between 0 and 100"));
  if (given("--fill")) {
    if (t.fill == "zeros")
      o->fill = FillMode::kZeros;
    else if (t.fill == "random")
      o->fill = FillMode::kRandom;
    else
      Usage(fmt::format("--fill must be zeros or random, not '{}'", t.fill));
  }
  if (given("--api")) {
    if (t.api == "legacy")
      o->api = Api::kLegacy;
    else if (t.api == "sessions")
      o->api = Api::kSessions;
    else
      Usage(fmt::format("--api must be legacy or sessions, not '{}'", t.api));
  }
  if (given("--sessions")) o->sessions = static_cast<int>(WholeNumber("--sessions", t.sessions, 1, INT_MAX));
  if (given("--profiles")) o->session_profiles = ProfileList(t.profiles);
  if (given("--rtol")) o->rtol = RealNumber("--rtol", t.rtol, 0, HUGE_VAL, "at least 0");
  if (given("--atol")) o->atol = RealNumber("--atol", t.atol, 0, HUGE_VAL, "at least 0");
}

// The usage line names both commands.
class UsageFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage: inferlet-run ENGINE [OPTIONS]   (or --engine ENGINE)\n"
           "       inferlet-run inspect ENGINE [OPTIONS]\n"
           "       inferlet-run --version\n";
  }
};

// The words CLI11 left over (it is told to allow them, so that the first can be named).
void RejectLeftovers(const CLI::App& app) {
  for (const std::string& word : app.remaining()) {
    if (word.size() > 1 && word[0] == '-') Usage(fmt::format("unknown option '{}'", word));
    Usage(fmt::format("unexpected argument '{}'", word));
  }
}

// The engine as a word of its own (`inferlet-run E`, as for inspect) or with --engine, once.
void ChooseEngine(const std::string& positional, Options* o) {
  if (!positional.empty() && !o->engine.empty())
    Usage(fmt::format("unexpected argument '{}' (the engine is given with --engine)", positional));
  if (!positional.empty()) o->engine = positional;
  if (o->engine.empty()) Usage("--engine is required");
}

// CLI11's own errors (a missing value, a missing engine) become usage errors; --help and --version
// are printed and end the program successfully.
int Parse(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ArgumentMismatch& e) {
    // CLI11 says "--batch: 1 required TEXT missing": the numbers are taken as text here.
    const std::string what = e.what();
    const size_t colon = what.find(": ");
    if (what.find(" required ") != std::string::npos && colon != std::string::npos)
      Usage(what.substr(0, colon) + " needs a value");
    Usage(what);
  } catch (const CLI::ParseError& e) {
    Usage(e.what());
  }
  return -1;
}

// The options in the order --help lists them: what runs, how it is timed, what data goes in and out.
void AddRunOptions(CLI::App& app, Options* o, NumberTexts& t) {
  app.add_option("--engine", o->engine, "Serialized TensorRT engine file (or give it as the first word)")
      ->option_text("FILE");
  app.add_option("--trt", t.trt,
                 "TensorRT major of the deliverable: loads libinferlet<N>.so (default: the engine's, "
                 "below)")
      ->option_text(MajorChoices());
  app.add_option("--lib", o->lib, "Deliverable to load instead (its TensorRT major is detected)")
      ->option_text("PATH");
  app.add_option("--plugins", o->plugins,
                 "A library of TensorRT plugins the engine's layers need, loaded before the engine "
                 "(repeatable; below)")
      ->option_text("LIB")
      ->allow_extra_args(false);
  RetiredInspectorOption(app);
  app.add_option("--profile", t.profile, "Optimization profile the calls use (default 0)")->option_text("P");
  app.add_option("--batch", t.batch, "Samples per call, at least 1 (default: the profile's largest batch)")
      ->option_text("N");
  app.add_option("--device", t.device, "CUDA device ordinal (default 0)")->option_text("N");
  app.add_flag("--cuda-graph", o->cuda_graph, "Capture each call's work into a CUDA graph");
}

void AddTimingOptions(CLI::App& app, Options* o, NumberTexts& t) {
  app.add_option("--iterations", t.iterations,
                 fmt::format("Timed calls, at least this many (default {})", o->iterations))
      ->option_text("N");
  app.add_option("--duration", t.duration,
                 fmt::format("Timed calls for at least this many seconds (default {:g}; 0: only "
                             "--iterations counts)",
                             kDefaultDurationS))
      ->option_text("SECONDS");
  app.add_option("--warmup", t.warmup, fmt::format("Untimed calls before timing (default {})", o->warmup))
      ->option_text("N");
  app.add_option("--percentile", t.percentiles,
                 "Also report this latency percentile, 0 to 100 (repeatable; min, mean, median, p90, p99 "
                 "and max always)")
      ->option_text("P")
      ->allow_extra_args(false);
  app.add_option("--export-times", o->export_times,
                 "Write one JSON record per timed call (call, start_us, latency_us) to FILE")
      ->option_text("FILE");
}

void AddDataOptions(CLI::App& app, Options* o, NumberTexts& t) {
  app.add_option("--fill", t.fill, "Inputs not loaded from files: zeros or random (default)")
      ->option_text("zeros|random");
  app.add_option("--seed", t.seed,
                 "Seed of the random inputs (default 1); each input's data depends on the seed and its "
                 "name only")
      ->option_text("N");
  app.add_option("--input", o->inputs, "Load an input from a .npy file (repeatable; element types below)")
      ->option_text("NAME=FILE.npy")
      ->allow_extra_args(false);
  app.add_option("--save-outputs", o->save_outputs,
                 "Write each output of the last call to DIR/<name>.npy (DIR is created)")
      ->option_text("DIR");
  app.add_option("--shape", o->shapes, "Configured (largest) dimensions of a tensor (repeatable)")
      ->option_text("[P:]NAME=DxD..")
      ->allow_extra_args(false);
  app.add_option("--item-size", o->item_sizes, "Configured element size of a tensor (repeatable)")
      ->option_text("[P:]NAME=BYTES")
      ->allow_extra_args(false);
  app.add_flag("--json", o->json, "Print one JSON object on stdout (library output goes to stderr)");
  app.add_flag("--quiet", o->quiet, "Hold back the library's own lines; they are shown after a failure");
}

// What --api sessions adds, and what checks the outputs or sweeps the shapes on either interface.
void AddSessionsOptions(CLI::App& app, Options* o, NumberTexts& t) {
  app.add_option("--api", t.api,
                 "The interface that runs the engine: a deliverable's kestrel_trt_* (default) or the "
                 "sessions library")
      ->option_text("legacy|sessions");
  app.add_flag("--allow-host-code", o->allow_host_code,
               "--api sessions: let a version-compatible engine (TensorRT 10 and later) load; it holds host "
               "code that runs in this process, so only for engines from a trusted source");
  app.add_option("--sessions", t.sessions,
                 "--api sessions: sessions of the engine, one thread each (default 1); each on a profile "
                 "of its own where the engine has dynamic shapes")
      ->option_text("N");
  app.add_option("--profiles", t.profiles,
                 "--api sessions: each session's profile (default: --profile, the next, ...; a static "
                 "engine: --profile for all)")
      ->option_text("P,P..");
  app.add_option("--compare", o->compare,
                 "Check the last call's outputs against DIR/<name>.npy; exit status 6 when one is out of "
                 "tolerance")
      ->option_text("DIR");
  app.add_option("--rtol", t.rtol, fmt::format("--compare's relative tolerance (default {:g})", kDefaultRtol))
      ->option_text("R");
  app.add_option("--atol", t.atol, fmt::format("--compare's absolute tolerance (default {:g})", kDefaultAtol))
      ->option_text("A");
  app.add_option("--shapes", o->shape_sweep,
                 "Input shapes to sweep, one report row each (repeatable per input, the same count each; "
                 "other inputs take the row's batch)")
      ->option_text("NAME=DxD,DxD..")
      ->allow_extra_args(false);
}

// Options that only make sense together, or not at all.
void CheckCombinations(const CLI::App& app, Options* o) {
  auto given = [&](const char* flag) { return app.count(flag) > 0; };
  const bool sessions = o->api == Api::kSessions;
  for (const char* flag : {"--sessions", "--profiles"})
    if (given(flag) && !sessions) Usage(fmt::format("{} needs --api sessions", flag));
  if (given("--allow-host-code") && !sessions)
    Usage(
        "--allow-host-code needs --api sessions: the legacy kestrel_trt_* interface cannot load an engine "
        "that holds host code");
  if (sessions && given("--item-size"))
    Usage("--item-size configures kestrel_trt_new: the sessions library takes each tensor's own");
  for (const char* flag : {"--rtol", "--atol"})
    if (given(flag) && o->compare.empty()) Usage(fmt::format("{} needs --compare", flag));
  if (given("--profiles")) {
    if (given("--profile")) Usage("give --profile or --profiles, not both");
    const int listed = static_cast<int>(o->session_profiles.size());
    if (given("--sessions") && listed != o->sessions)
      Usage(fmt::format("--profiles lists {} profile(s) for --sessions {}", listed, o->sessions));
    o->sessions = listed;
  }
  if (o->shape_sweep.empty()) return;
  const std::pair<const char*, bool> excluded[] = {{"--input", !o->inputs.empty()},
                                                   {"--batch", given("--batch")},
                                                   {"--compare", !o->compare.empty()},
                                                   {"--save-outputs", !o->save_outputs.empty()},
                                                   {"--export-times", !o->export_times.empty()}};
  for (const auto& [flag, present] : excluded)
    if (present)
      Usage(fmt::format("--shapes makes up every row's inputs and reports rows: it cannot go with {}", flag));
  if (o->sessions > 1)
    Usage(
        fmt::format("--shapes runs one session for every row: it cannot go with --sessions {}", o->sessions));
}

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, Options* o) {
  CLI::App app(Description(), "inferlet-run");
  app.footer(Footer());
  app.formatter(std::make_shared<UsageFormatter>());
  app.get_formatter()->column_width(34);
  app.allow_extras();
  app.set_version_flag("--version", "inferlet-run " INFERLET_VERSION);
  NumberTexts t;
  std::string positional_engine;
  app.add_option("ENGINE", positional_engine, "Serialized TensorRT engine file")->type_name("FILE");
  AddRunOptions(app, o, t);
  AddTimingOptions(app, o, t);
  AddDataOptions(app, o, t);
  AddSessionsOptions(app, o, t);
  const int parsed = Parse(app, argc, argv);
  if (parsed >= 0) return parsed;
  RejectLeftovers(app);
  ChooseEngine(positional_engine, o);
  ConvertNumbers(app, t, o);
  CheckCombinations(app, o);
  return -1;
}

int ParseInspectCommandLine(int argc, const char* const* argv, InspectOptions* o) {
  CLI::App app(
      "Lists what a serialized TensorRT engine declares: its bindings (name, input or output, data type,\n"
      "dimensions) and, per optimization profile, each binding's min, opt and max dimensions. Only the\n"
      "sessions library of the engine's major reads it; no deliverable, no session, no inference call.",
      "inferlet-run inspect");
  app.formatter(std::make_shared<UsageFormatter>());
  app.allow_extras();
  app.footer(
      fmt::format(
          "Without --trt the engine is tried with the sessions library of each major present, TensorRT {}\n"
          "and {} in that order; the first that reads it lists it, and when none does the error says so\n"
          "in one line, with each major's reason (one, when they agree). --plugins LIB is loaded into\n"
          "each major tried before it reads the engine, as for a run with --api sessions.\n",
          Join(std::vector<int>(std::begin(kTrtMajors), std::end(kTrtMajors) - 1), ", ", ", "),
          kTrtMajors[std::size(kTrtMajors) - 1]) +
      "Exit status: 0 success, 2 bad command line, 3 an engine file that is missing, unreadable or\n"
      "not understood, 4 a sessions library that cannot be loaded. With --json a failure prints\n"
      "{\"error\": MESSAGE, \"exit_status\": N, \"kind\": ...} on stdout.");
  app.get_formatter()->column_width(34);
  std::string trt;
  app.add_option("ENGINE", o->engine, "Serialized TensorRT engine file")->required()->type_name("FILE");
  app.add_option("--trt", trt, "TensorRT major whose sessions library reads the engine")
      ->option_text(MajorChoices());
  app.add_option("--plugins", o->plugins,
                 "A library of TensorRT plugins the engine's layers need, loaded before the engine is read "
                 "(repeatable)")
      ->option_text("LIB")
      ->allow_extra_args(false);
  RetiredInspectorOption(app);
  app.add_flag("--allow-host-code", o->allow_host_code,
               "Let a version-compatible engine (TensorRT 10 and later) load: it holds host code that runs "
               "in this process, so only for engines from a trusted source");
  app.add_flag("--json", o->json, "Print one JSON object on stdout");
  const int parsed = Parse(app, argc, argv);
  if (parsed >= 0) return parsed;
  RejectLeftovers(app);
  if (app.count("--trt")) o->trt = TrtMajor(trt);
  return -1;
}

bool WantsJson(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--json") == 0) return true;
  }
  return false;
}

}  // namespace inferlet_run
