// The files a run writes: each output of the last call to --save-outputs DIR, one record per timed
// call to --export-times FILE. Both are made ready before anything runs, so that a run is not spent
// only to fail at the end.
#ifndef INFERLET_APPS_RUN_FILES_H_
#define INFERLET_APPS_RUN_FILES_H_

#include <fstream>
#include <string>
#include <vector>

#include "model_config.h"
#include "npy.h"
#include "report_types.h"

namespace inferlet_run {

// Makes DIR with its parents; throws ToolError (output) when it is not a directory or cannot be
// made or written into.
void PrepareOutputDir(const std::string& dir);
// Opens (truncates) the --export-times file; throws ToolError (output) when it cannot be written.
std::ofstream OpenTimesFile(const std::string& path);

// "[", one {"call", "start_us", "latency_us"} object a line, "]"; throws ToolError (output).
void WriteTimes(std::ofstream& out, const std::string& path, const std::vector<double>& starts_us,
                const std::vector<double>& latencies_us);

// The same for the sessions of --api sessions: {"session", "call", "start_us", "latency_us"}, session
// by session; start_us counts from the start they share.
void WriteSessionTimes(std::ofstream& out, const std::string& path,
                       const std::vector<std::vector<double>>& starts_us,
                       const std::vector<std::vector<double>>& latencies_us);

// DIR/<output>.npy ('/' in the name becomes '_'), of the output's data type when its item size is
// that type's and it holds whole samples, else bytes; sets r.saved_to. Throws ToolError (output).
void SaveOutput(const std::string& dir, OutputResult& r, const void* data, const TensorConfig& t);

// The file of an output in such a directory, and the array written there.
std::string OutputFile(const std::string& dir, const std::string& output);
NpyArray OutputArray(const OutputResult& r, const void* data, const TensorConfig& t);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_RUN_FILES_H_
