#pragma once
// A production report: the figures of a period from a source of records,
// as one JSON object or as a page that opens offline in any browser.
#include <string>

#include <nlohmann/json.hpp>

#include "report/RecordSource.h"
#include "report/ReportFigures.h"

namespace veldrix {

// Reads the period's records from source; false when they cannot be read at all.
bool BuildReport(RecordSource& source, const ReportPeriod& period, ReportFigures& figures);

// The figures as one object (README "Production report").
nlohmann::ordered_json ReportJson(const ReportFigures& figures);

// The page: tables, charts drawn by the Chart.js inside it, every text from
// the records escaped. made: when the report was made, as shown on it.
std::string ReportHtml(const ReportFigures& figures, const std::string& made);

// "85.71%" of a yield 0..1.
std::string PercentText(double fraction);

}  // namespace veldrix
