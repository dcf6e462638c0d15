#pragma once
// Where production records go: one record for every automatic sequence and
// every offline file made, and the ID codes already written to good chips.
// The first store is a folder of CSV files, one a day (code/RecordFolder.h);
// a store several stations share would answer the same two questions.
// Called from the worker thread; an implementation guards its own state.
#include <cstdint>
#include <optional>
#include <string>

#include "seams/Clock.h"

namespace veldrix {

enum class RecordResult {
    Good,     // the sequence counted the chip good, or the offline file was written
    Bad,      // it failed and the chip (or the file) is to blame
    Stopped,  // it ended before anything reached the unit
    Link,     // it failed where the link, not the chip, is to blame
};

struct ProductionRecord {
    LocalTime time;  // when it ended; the day's file follows its date
    RecordResult result = RecordResult::Stopped;
    std::string status;  // the status line's last text
    std::string chip;
    std::string codeFile;
    std::optional<uint16_t> checksum;  // of the code, when the window shows one
    uint32_t rangeStart = 0, rangeEnd = 0;
    std::optional<uint32_t> idCode;  // written into the chip
    std::optional<uint32_t> idAddress;
    uint32_t successCount = 0, failureCount = 0;
    uint64_t durationMs = 0;
    std::string port;
};

class ProductionRecords {
public:
    virtual ~ProductionRecords() = default;
    // Stores the record for good (on the disk, or committed) before it
    // returns; false when it could not.
    virtual bool Append(const ProductionRecord& record) = 0;
    // The local date ("YYYY-MM-DD") on which a good chip first got this ID
    // code, or nothing when no good chip has it.
    virtual std::optional<std::string> IdCodeOnGoodChip(uint32_t idCode) = 0;
    // Where the records go, to name in a warning: the file of the last append.
    virtual std::string Location() = 0;
};

}  // namespace veldrix
