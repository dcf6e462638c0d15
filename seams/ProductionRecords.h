#pragma once
// Where production records go, and the one authority over ID codes: one
// record for every chip the automatic sequence tried and every offline file
// made; every ID code handed out, confirmed by a good chip's record or given
// back. The first store is a folder of CSV files, one a day
// (records/RecordFolder.h), shared between programs and PCs through a lock on a
// file in the folder; platform/odbc/OdbcRecords.h keeps both on a database
// server for a line of stations; records/MemoryRecords.h keeps codes for a run
// that keeps no records. Called from worker threads (several units of one process share a
// store); an implementation guards its own state.
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

// What a record is of: a chip the sequence tried, or an offline file made.
enum class RecordKind { Chip, OfflineFile };

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
    RecordKind kind = RecordKind::Chip;
};

// What became of a record handed to the store.
enum class RecordKept {
    Stored,   // in the records for good (on the disk, or committed)
    Pending,  // not storable now: kept in memory and in a pending file, stored in order at the next chance
    Lost,     // not storable now and no pending file could be written either: kept in memory only
};

// The answer to a request for an ID code.
struct IdGrant {
    enum class Answer {
        Granted,        // held for the asker until a good record confirms it or it is given back
        OnGoodChip,     // a good chip carries it (date says since when); not granted
        HeldElsewhere,  // another run (unit, program or PC) holds it now; not granted
        Unreachable,    // the store that hands out codes cannot be reached now; not granted
    };
    Answer answer = Answer::Granted;
    std::string date;     // OnGoodChip: the local date ("YYYY-MM-DD") a good chip first got it
    std::string problem;  // Unreachable: why, in the store's words (never a secret of the connection)
};

class ProductionRecords {
public:
    virtual ~ProductionRecords() = default;
    // Stores the record (for good, on the disk, before it returns) after any
    // records still pending, in order. A good record with an ID code confirms
    // the code: it is then on a good chip, also while the record is pending.
    virtual RecordKept Append(const ProductionRecord& record) = 0;
    // Stores the pending records, in order: Stored when none is left, Pending
    // when those left are in a pending file, Lost when some are in memory only.
    virtual RecordKept FlushPending() = 0;

    // Asks for idCode for the chip about to get it. Never granted while
    // another run holds it; a code on a good chip only with reuse (the
    // operator chose to write it again).
    virtual IdGrant TakeIdCode(uint32_t idCode, bool reuse) = 0;
    // The chip that held idCode ended without a good record: the code is free
    // for the next chip.
    virtual void GiveBackIdCode(uint32_t idCode) = 0;
    // The local date ("YYYY-MM-DD") on which a good chip first got this ID
    // code, or nothing when no good chip has it.
    virtual std::optional<std::string> IdCodeOnGoodChip(uint32_t idCode) = 0;
    // Why no ID code could be handed out now (a server that does not answer,
    // in its driver's words without secrets); nothing when codes can be had.
    // Stores on this PC always can.
    virtual std::optional<std::string> IdServerProblem() { return std::nullopt; }

    // Where the records go, to name in a warning: the file of the last append,
    // or the database's data source name.
    virtual std::string Location() = 0;
    // The records go to a database server, not to files (the warnings differ).
    virtual bool OnServer() { return false; }
};

}  // namespace veldrix
