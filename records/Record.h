#pragma once
// A production record as the stores write it: its fields in column order,
// its key (the run and its record number: a store skips a key it has stored
// already) and its kind (a chip, or an offline file).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "seams/ProductionRecords.h"

namespace veldrix {

// Column positions of a record.
namespace column {
constexpr int kTime = 0, kResult = 1, kStatus = 2, kChip = 3, kCodeFile = 4, kChecksum = 5, kStart = 6, kEnd = 7,
              kIdCode = 8, kIdAddress = 9, kSuccess = 10, kFailure = 11, kDuration = 12, kPort = 13, kKey = 14,
              kKind = 15;
constexpr int kCount = 16;
// Files written before records had a key end here.
constexpr int kCountWithoutKey = 14;
}  // namespace column

extern const char* const kRecordHeader;  // the header line, without its line end
const char* ResultWord(RecordResult result);
bool IsResultWord(std::string_view word);
const char* KindWord(RecordKind kind);  // "chip", "offline-file"
// "2025-03-03T08:00:00+08:00"
std::string IsoTime(const LocalTime& time);
// "2025-03-03.csv"
std::string DayFileName(const LocalTime& time);
// The day (since 1970) of a file named "YYYY-MM-DD.csv"; other files are not ours.
std::optional<int32_t> DayOfFileName(const std::string& name);
// "2025-03-03" of a day since 1970
std::string DateText(int64_t days);
// The record's fields in column order, as written, with its key.
std::vector<std::string> RecordFields(const ProductionRecord& record, const std::string& key = "");
// An ID code as a record's field holds it (decimal), or nothing.
std::optional<uint32_t> IdCodeField(std::string_view text);

// "<run>-<number>", the number in ten digits, so that a run's keys sort in order.
std::string RecordKey(const std::string& run, uint64_t number);
// The run and the number of a key; false when it is not one.
bool SplitRecordKey(std::string_view key, std::string& run, uint64_t& number);

// A run among those sharing a store: host and process, when it started, and
// a few random letters for two stores of one process.
std::string NewRunName();

}  // namespace veldrix
