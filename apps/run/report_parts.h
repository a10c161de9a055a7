// The pieces of the report that the sections of report.cpp and report_sessions.cpp share, and the
// sections that only some runs have: --api sessions, --compare, --shapes.
#ifndef INFERLET_APPS_REPORT_PARTS_H_
#define INFERLET_APPS_REPORT_PARTS_H_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

#include "report_types.h"

namespace inferlet_run {

std::string Bytes(long long bytes);  // "12 bytes", or "unknown" for -1
// The width of the data-type column: 7, or the longest type name of the engine ("float8_e4m3fn").
size_t TypeWidth(const EngineDesc& engine);
void AppendOutput(std::string& out, const OutputResult& output, size_t name_width, size_t type_width);
nlohmann::json OutputJson(const OutputResult& output);
nlohmann::json LatencyJson(const LatencySummary& latency);
nlohmann::json ThroughputJson(const LatencySummary& latency);

// Text sections.
void AppendSessionsMemory(std::string& out, const RunReport& report);
void AppendPhases(std::string& out, const PhaseSummary& phases);
void AppendSessions(std::string& out, const RunReport& report);
void AppendCompare(std::string& out, const RunReport& report);
void AppendRows(std::string& out, const RunReport& report, size_t name_width);

// JSON: "run"'s api, sessions and profiles, "device_memory", "sessions" and "phases" of --api
// sessions; "compare"; "rows".
void AddSessionsJson(nlohmann::json& report_json, const RunReport& report);
nlohmann::json CompareJson(const CompareReport& compare);
nlohmann::json RowsJson(const RunReport& report);

}  // namespace inferlet_run

#endif  // INFERLET_APPS_REPORT_PARTS_H_
