// The two forms of inferlet-run's summary: a text report and one JSON object.
#ifndef INFERLET_APPS_REPORT_H_
#define INFERLET_APPS_REPORT_H_

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "runner.h"

namespace inferlet_run {

std::string FormatReport(const RunReport& report);
nlohmann::json ReportJson(const RunReport& report);
std::string HexFnv(uint64_t fnv1a);  // "0x" and 16 hex digits

}  // namespace inferlet_run

#endif  // INFERLET_APPS_REPORT_H_
