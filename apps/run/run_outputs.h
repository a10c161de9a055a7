// The last call's outputs as a run reports them, whichever interface made them: checksums, the
// --save-outputs files and the --compare verdicts.
#ifndef INFERLET_APPS_RUN_OUTPUTS_H_
#define INFERLET_APPS_RUN_OUTPUTS_H_

#include <vector>

#include "compare.h"
#include "options.h"
#include "report_types.h"

namespace inferlet_run {

// The output of a call as shaped `shape` (batch first), `bytes` of data, in a buffer of bound_bytes
// where it is data-dependent.
OutputResult CollectOutput(const TensorConfig& t, const void* data, int bytes, std::vector<int> shape,
                           long long bound_bytes = -1);

// The references of --compare, read before anything runs; none without it.
std::vector<Reference> PrepareComparison(const Options& o, const ProfileConfig& profile);

// report.outputs (one per output of the profile, data[j] its bytes) saved with --save-outputs and
// compared with --compare. Throws ToolError; an output out of tolerance is only recorded.
void FinishOutputs(const Options& o, const ProfileConfig& profile, const std::vector<const void*>& data,
                   const std::vector<Reference>& references, RunReport& report);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_RUN_OUTPUTS_H_
