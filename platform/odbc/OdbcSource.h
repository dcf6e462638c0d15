#pragma once
// The records of a database store (platform/odbc/OdbcRecords.h) as a
// report's source: the records of the period, and the codes taken and never
// confirmed. Only reads.
#include <string>

#include "report/RecordSource.h"

namespace veldrix {

class OdbcSource : public RecordSource {
public:
    // name: the data source as texts may show it (never the connection string).
    OdbcSource(std::string connection, std::string name)
        : connection_(std::move(connection)), name_(std::move(name)) {}
    bool Read(const ReportPeriod& period, ReportTally& tally, SourceSummary& summary) override;
    std::vector<HeldCode> Held() override;
    // Why the last read failed, in the driver's words without secrets.
    const std::string& Problem() const { return problem_; }

private:
    std::string connection_, name_;
    std::string problem_;
};

}  // namespace veldrix
