// The two forms of inferlet-run's summary: a text report and one JSON object.
#ifndef INFERLET_APPS_REPORT_H_
#define INFERLET_APPS_REPORT_H_

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "exit_codes.h"
#include "report_types.h"

namespace inferlet_run {

std::string FormatReport(const RunReport& report);
nlohmann::json ReportJson(const RunReport& report);

// `inferlet-run inspect`: the engine part of the report, alone.
std::string FormatInspect(const InspectReport& report);
nlohmann::json InspectJson(const InspectReport& report);

// A failure as --json reports it: {"error": MESSAGE, "exit_status": N, "kind": WORD}, and
// "library_log" with the library's lines that --quiet held back, when there are any.
nlohmann::json ErrorJson(const ToolError& error);
std::string HexFnv(uint64_t fnv1a);  // "0x" and 16 hex digits

}  // namespace inferlet_run

#endif  // INFERLET_APPS_REPORT_H_
