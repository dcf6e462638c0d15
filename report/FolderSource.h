#pragma once
// The records of a CSV records folder (records/RecordFolder.h) as a report's
// source: the day files of the period, the records still waiting in pending
// files, and the codes id-held.csv says are held. Only reads: a report
// stores nothing and takes no lock, so it never holds up a station.
#include <string>

#include "report/RecordSource.h"

namespace veldrix {

class FolderSource : public RecordSource {
public:
    // threads: how many read day files at once (at least 1).
    explicit FolderSource(std::string folder, unsigned threads = 2) : folder_(std::move(folder)), threads_(threads) {}
    bool Read(const ReportPeriod& period, ReportTally& tally, SourceSummary& summary) override;
    std::vector<HeldCode> Held() override;

private:
    std::string folder_;
    unsigned threads_;
};

}  // namespace veldrix
