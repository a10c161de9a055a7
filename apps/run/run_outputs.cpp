#include "run_outputs.h"

#include "run_files.h"

namespace inferlet_run {

OutputResult CollectOutput(const TensorConfig& t, const void* data, int bytes, std::vector<int> shape,
                           long long bound_bytes) {
  OutputResult r;
  r.name = t.name;
  r.dtype = t.dtype;
  r.typed = t.ItemMatchesDType();
  r.bytes = bytes;
  r.shape = std::move(shape);
  r.data_dependent = t.data_dependent;
  r.bound_bytes = bound_bytes;
  r.checksum = ComputeChecksum(data, bytes > 0 ? static_cast<size_t>(bytes) : 0, t.dtype, r.typed);
  return r;
}

std::vector<Reference> PrepareComparison(const Options& o, const ProfileConfig& profile) {
  if (o.compare.empty()) return {};
  return ReadReferences(o.compare, profile);
}

void FinishOutputs(const Options& o, const ProfileConfig& profile, const std::vector<const void*>& data,
                   const std::vector<Reference>& references, RunReport& report) {
  for (size_t j = 0; j < profile.outputs.size(); ++j)
    if (!o.save_outputs.empty()) SaveOutput(o.save_outputs, report.outputs[j], data[j], profile.outputs[j]);
  if (o.compare.empty()) return;
  report.compare.dir = o.compare;
  report.compare.rtol = o.rtol;
  report.compare.atol = o.atol;
  for (size_t j = 0; j < references.size(); ++j)
    report.compare.outputs.push_back(CompareOutput(
        references[j], OutputArray(report.outputs[j], data[j], profile.outputs[j]), o.rtol, o.atol));
}

}  // namespace inferlet_run
