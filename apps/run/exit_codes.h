// Exit status of inferlet-run, one per kind of failure, so that scripts can tell them apart.
#ifndef INFERLET_APPS_EXIT_CODES_H_
#define INFERLET_APPS_EXIT_CODES_H_

#include <string>

namespace inferlet_run {

enum ExitCode : int {
  kExitOk = 0,
  kExitRejected = 1,  // the library refused the configuration or a call
  kExitUsage = 2,     // a bad flag, value or combination of options
  kExitInput = 3,     // an engine or .npy file that is missing, unreadable or not understood
  kExitLibrary = 4,   // the deliverable or the engine inspector cannot be loaded
  kExitOutput = 5,    // outputs cannot be saved
};

// Failure with a message for the user and the exit status that goes with it.
struct ToolError {
  ExitCode code;
  std::string message;
};

}  // namespace inferlet_run

#endif  // INFERLET_APPS_EXIT_CODES_H_
