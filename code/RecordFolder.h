#pragma once
// Production records in a folder of CSV files, one a local day
// ("YYYY-MM-DD.csv": UTF-8 with a byte-order mark so that spreadsheets show
// the texts, a header line, RFC 4180). The ID codes of good chips are read
// from every day's file once, when the folder is loaded, and kept in memory
// with the day they were first recorded.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "seams/ProductionRecords.h"

namespace veldrix {

// Column positions of a record.
namespace column {
constexpr int kTime = 0, kResult = 1, kStatus = 2, kChip = 3, kCodeFile = 4, kChecksum = 5, kStart = 6, kEnd = 7,
              kIdCode = 8, kIdAddress = 9, kSuccess = 10, kFailure = 11, kDuration = 12, kPort = 13;
constexpr int kCount = 14;
}  // namespace column

extern const char* const kRecordHeader;  // the header line, without its line end
const char* ResultWord(RecordResult result);
// "2025-03-03T08:00:00+08:00"
std::string IsoTime(const LocalTime& time);
// "2025-03-03.csv"
std::string DayFileName(const LocalTime& time);
// The record's fields in column order, as written.
std::vector<std::string> RecordFields(const ProductionRecord& record);

class RecordFolder : public ProductionRecords {
public:
    explicit RecordFolder(std::string folder) : folder_(std::move(folder)) {}

    struct LoadSummary {
        size_t files = 0, records = 0, goodIdCodes = 0;
    };
    // Reads every day's file; a folder that does not exist yet holds none.
    LoadSummary Load();

    RecordKept Append(const ProductionRecord& record) override;
    bool FlushPending() override { return true; }
    IdGrant TakeIdCode(uint32_t idCode, bool reuse) override;
    void GiveBackIdCode(uint32_t idCode) override;
    std::optional<std::string> IdCodeOnGoodChip(uint32_t idCode) override;
    std::string Location() override;
    const std::string& Folder() const { return folder_; }

private:
    void NoteGood(int32_t day, uint32_t idCode);  // with mutex_ held

    std::mutex mutex_;
    const std::string folder_;
    std::string lastFile_;
    // Days (since 1970) in order, each with its good chips' ID codes sorted.
    std::map<int32_t, std::vector<uint32_t>> idsByDay_;
    std::set<uint32_t> held_;  // ID codes handed out and not yet confirmed or given back
};

}  // namespace veldrix
