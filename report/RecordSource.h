#pragma once
// Where a report's records come from: a source hands every record of the
// period to a tally, and names the ID codes handed out and not confirmed.
// The CSV folder is one source (report/FolderSource.h); a database of a
// line's stations is another.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veldrix {

class ReportTally;

// Local dates "YYYY-MM-DD", both ends within; empty for open.
struct ReportPeriod {
    std::string from, to;
    bool Holds(std::string_view date) const {
        return (from.empty() || date >= std::string_view(from)) && (to.empty() || date <= std::string_view(to));
    }
};

// One record as stored, its texts as they stand; valid during the call.
struct ReportRow {
    std::string_view time;      // ISO 8601 with its offset: "2025-03-03T08:00:05+08:00"
    std::string_view result;    // good, bad, link, stopped
    std::string_view status;    // the status line's last text
    std::string_view chip;
    std::string_view codeFile;
    std::string_view checksum;  // "FF00H", or empty
    std::string_view idCode;    // decimal, or empty
    std::string_view duration;  // milliseconds
    std::string_view port;
    std::string_view station;   // empty where the records carry none
    std::string_view kind;      // "chip", "offline-file"; empty in records made before they had one
};

// A code handed out and not confirmed by a good chip's record, nor given back.
struct HeldCode {
    uint32_t code = 0;
    std::string holder, time;
};

// What a source read, beside the records themselves.
struct SourceSummary {
    size_t files = 0;          // day files read
    std::string database;      // the database read instead, as texts may name it
    size_t pendingFiles = 0;   // records waiting for their day file, read too
    size_t pendingRecords = 0;
    size_t skipped = 0;        // lines that are no whole record (torn, too few columns)
    bool hasStation = false;   // some records name their station
};

class RecordSource {
public:
    virtual ~RecordSource() = default;
    // Every record of the period into tally; false when the records cannot be read at all.
    virtual bool Read(const ReportPeriod& period, ReportTally& tally, SourceSummary& summary) = 0;
    // The codes held now.
    virtual std::vector<HeldCode> Held() = 0;
};

}  // namespace veldrix
