#include "platform/odbc/OdbcSource.h"

#include "records/RecordFolder.h"
#include "platform/odbc/OdbcReader.h"
#include "report/ReportTally.h"

namespace veldrix {

namespace {
constexpr size_t kStation = column::kCount;  // the columns after the folder's
}  // namespace

bool OdbcSource::Read(const ReportPeriod& period, ReportTally& tally, SourceSummary& summary) {
    summary.database = name_;
    bool ok = ReadOdbcRecords(
        connection_,
        [&](const std::vector<std::string>& f) {
            ReportRow row{f[column::kTime],   f[column::kResult],   f[column::kStatus],   f[column::kChip],
                          f[column::kCodeFile], f[column::kChecksum], f[column::kIdCode], f[column::kDuration],
                          f[column::kPort],   f[kStation],          f[column::kKind]};
            if (!row.station.empty()) summary.hasStation = true;
            if (!tally.Add(row)) ++summary.skipped;
        },
        problem_, period.from, period.to);
    return ok;
}

std::vector<HeldCode> OdbcSource::Held() {
    std::vector<OdbcIdCode> codes;
    std::vector<HeldCode> held;
    if (!ReadOdbcIdCodes(connection_, codes, problem_)) return held;
    for (const OdbcIdCode& c : codes)
        if (c.state == "taken") held.push_back({c.code, c.station.empty() ? c.holder : c.station + " " + c.holder, c.time});
    return held;
}

}  // namespace veldrix
