// The one loop of a run on either interface (backend.h): the lanes' inputs planned and the references
// of --compare read before anything runs, warm-up calls, timed calls (every lane on a thread of its own
// on the sessions interface, from a common start), or one lane through every row of --shapes; the
// latencies, the phase times where there are any, the last call's outputs and the verdicts.
#ifndef INFERLET_APPS_RUN_LOOP_H_
#define INFERLET_APPS_RUN_LOOP_H_

#include <fstream>

#include "backend.h"
#include "options.h"
#include "report_types.h"

namespace inferlet_run {

// Fills the report from report.engine and report.config on; throws ToolError, with every lane
// released first.
void RunCalls(Backend& backend, const Options& options, std::ofstream& times, RunReport& report);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_RUN_LOOP_H_
