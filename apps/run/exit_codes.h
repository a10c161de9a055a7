// Exit status of inferlet-run, one per kind of failure, so that scripts can tell them apart.
#ifndef INFERLET_APPS_EXIT_CODES_H_
#define INFERLET_APPS_EXIT_CODES_H_

#include <string>
#include <utility>

namespace inferlet_run {

enum ExitCode : int {
  kExitOk = 0,
  kExitRejected = 1,  // the library refused the configuration or a call
  kExitUsage = 2,     // a bad flag, value or combination of options
  kExitInput = 3,     // an engine or .npy file that is missing, unreadable or not understood
  kExitLibrary = 4,   // the deliverable or a sessions library cannot be loaded
  kExitOutput = 5,    // outputs or the --export-times file cannot be written
  kExitMismatch = 6,  // with --compare, an output out of tolerance (after the report)
};

// One word per status, as the JSON error object names it: "ok", "rejected", "usage", "input",
// "library", "output", "mismatch".
inline const char* ExitKind(int code) {
  switch (code) {
    case kExitOk:
      return "ok";
    case kExitRejected:
      return "rejected";
    case kExitUsage:
      return "usage";
    case kExitInput:
      return "input";
    case kExitLibrary:
      return "library";
    case kExitOutput:
      return "output";
    case kExitMismatch:
      return "mismatch";
  }
  return "unknown";
}

// Failure with a message for the user and the exit status that goes with it.
struct ToolError {
  ToolError(ExitCode c, std::string m) : code(c), message(std::move(m)) {}
  ExitCode code;
  std::string message;
  std::string library_log;  // the library's own lines held back by --quiet, shown with the error
};

}  // namespace inferlet_run

#endif  // INFERLET_APPS_EXIT_CODES_H_
