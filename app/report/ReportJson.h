#pragma once
// The commissioning report as JSON: the same data as the HTML and the PDF.

#include <nlohmann/json.hpp>

#include "CommissioningReport.h"

// {"meter", "connection", "settings", "limits_file", "date", "firmware"
// (null when not read), "cycles", "cycles_failed", "passed", "summary",
// "program", "rows": [{"obis", "description", "min", "max", "lowest",
// "highest", "last", "result", "note"}]}. Limits and values seen are numbers
// (null where there is none); "last" is the value text as the grid shows it.
nlohmann::json ReportJson(const TCommissioningReport& Report);
