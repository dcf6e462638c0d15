#pragma once
// The figures of a production report, as the page and the JSON show them.
#include <cstdint>
#include <string>
#include <vector>

#include "report/RecordSource.h"

namespace veldrix {

// Records by their result. Chips counted are good + bad; link and stopped
// are the runs the counting rule leaves uncounted.
struct ResultCounts {
    uint64_t good = 0, bad = 0, link = 0, stopped = 0;
    uint64_t Records() const { return good + bad + link + stopped; }
    uint64_t Counted() const { return good + bad; }
    // Good of counted, 0..1; 0 when none was counted.
    double GoodShare() const { return Counted() ? double(good) / double(Counted()) : 0.0; }
    void Add(const ResultCounts& o) {
        good += o.good;
        bad += o.bad;
        link += o.link;
        stopped += o.stopped;
    }
};

// A row of a table by day, hour, port, station, chip or code file.
struct ReportGroup {
    std::string name;      // "2025-03-03", "2025-03-03 08", "COM3", ...
    std::string checksum;  // code files: the code's checksum
    ResultCounts counts;
};

// A kind of failure: its result and its status text with any address cut off.
struct FailureKind {
    std::string result;  // bad, link, stopped
    std::string text;
    uint64_t count = 0;
};

struct CycleTime {
    std::string chip;
    uint64_t chips = 0;  // with a duration
    uint64_t medianMs = 0, p95Ms = 0;
};

struct IdSpan {
    uint32_t first = 0, last = 0;
    uint64_t Size() const { return uint64_t(last) - first + 1; }
};

struct ReportFigures {
    ReportPeriod period;               // as asked
    std::string firstDate, lastDate;   // of the records found
    SourceSummary source;
    ResultCounts total;
    ResultCounts offlineFiles;  // the offline files made, apart from the chips
    std::vector<ReportGroup> days, hours;  // in time order
    std::vector<ReportGroup> ports, stations, chips, codeFiles;  // most records first
    std::vector<FailureKind> failures;     // most common first
    std::vector<CycleTime> cycles;         // by chip, most chips first
    uint64_t activeHours = 0;              // hours in which a chip was counted
    double chipsPerHour = 0;               // counted chips over those hours
    ReportGroup busiestHour;
    // ID codes on good chips.
    uint64_t idCodes = 0;    // distinct codes
    uint64_t idRepeats = 0;  // good records with a code an earlier good record had (rework)
    std::vector<IdSpan> idRanges, idGaps;
    std::vector<HeldCode> held;  // handed out, never confirmed by a good chip
};

}  // namespace veldrix
