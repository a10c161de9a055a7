// One run of inferlet-run -- choose and load the libraries, derive the configuration, run the calls on
// either interface (run_loop.h) and collect what the report shows -- and `inferlet-run inspect`.
#ifndef INFERLET_APPS_RUNNER_H_
#define INFERLET_APPS_RUNNER_H_

#include "options.h"
#include "report_types.h"

namespace inferlet_run {

// Throws ToolError for every failure; the library's objects, if any were made, are released first.
// With --quiet the library's lines held back until then travel in the error's library_log.
RunReport Run(const Options& options);

// `inferlet-run inspect`: reads the engine with a sessions library only. Throws ToolError.
InspectReport Inspect(const InspectOptions& options);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_RUNNER_H_
