#include "report/Report.h"

#include <cstdio>

#include "report/ReportTally.h"

namespace veldrix {

bool BuildReport(RecordSource& source, const ReportPeriod& period, ReportFigures& figures) {
    ReportTally tally;
    SourceSummary summary;
    if (!source.Read(period, tally, summary)) return false;
    figures = std::move(tally).Figures(period, summary, source.Held());
    return true;
}

std::string PercentText(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", fraction * 100);
    return text;
}

}  // namespace veldrix
