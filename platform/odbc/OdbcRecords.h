#pragma once
// Production records and the ID authority of a line of stations, on a
// database server reached through ODBC. Two tables, made on first use when
// missing: the records (the folder's columns, then the station and the
// program version) and the ID codes (one row a code, "taken" by a run or
// "good" once a good chip's record confirmed it, unique on the code: two
// stations can never both hold one, whatever their clocks do). Every value
// goes in as a bound parameter.
//
// While the server cannot be reached no code is handed out (the answer says
// why), and records wait in memory and in a pending file beside the settings
// (records/PendingFile.h), stored in order at the next chance; a later start
// stores those of runs that are gone. Each record carries a key of its run,
// so one whose commit went unanswered is never stored twice.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "records/RecordEngine.h"
#include "platform/odbc/Odbc.h"
#include "seams/ProductionRecords.h"

namespace veldrix {

extern const char* const kOdbcRecordsTable;
extern const char* const kOdbcIdTable;

struct OdbcPlace {
    std::string connection;     // the connection string: a secret, never shown
    std::string name;           // the data source as texts name it (its DSN, or the file the string came from)
    std::string pendingFolder;  // where records wait while the server cannot take them
    std::string station;        // this computer's name
    std::string version;        // the program's version
};

class OdbcRecords : public ProductionRecords, private RecordBackEnd {
public:
    explicit OdbcRecords(OdbcPlace place);
    // Stores what is pending if it can; the rest waits in the pending file.
    ~OdbcRecords() override;
    OdbcRecords(const OdbcRecords&) = delete;
    OdbcRecords& operator=(const OdbcRecords&) = delete;

    // Connects, makes the tables when missing and stores the pending records
    // of runs that are gone: empty when the server answered, else why not.
    std::string Open();

    RecordKept Append(const ProductionRecord& record) override;
    RecordKept FlushPending() override;
    IdGrant TakeIdCode(uint32_t idCode, bool reuse) override;
    void GiveBackIdCode(uint32_t idCode) override;
    std::optional<std::string> IdCodeOnGoodChip(uint32_t idCode) override;
    std::optional<std::string> IdServerProblem() override;
    std::string Location() override;  // the data source's name
    bool OnServer() override { return true; }
    const std::string& RunName() const { return run_; }

private:
    struct Reused {
        std::string time, station, holder;  // the good chip's row before the rework took the code
    };
    // All below with mutex_ held.
    bool Ready();  // connected, with the tables there
    void Lost();   // the connection is of no use now: the next call connects again
    bool MakeTables();
    bool StoreQueue();  // true when none waits
    Put StoreOne(const QueuedRecord& record) override;
    void Confirmed(const QueuedRecord& record) override;
    bool FromPending(std::vector<std::string>& fields, size_t columns) override;
    bool GiveBackNow(uint32_t idCode);
    RecordKept Kept();
    IdGrant Unreachable();

    std::mutex mutex_;
    const OdbcPlace place_;
    std::string run_;
    std::string suffix_;  // of this data source's pending files
    odbc::Connection db_;
    bool tablesMade_ = false;
    std::set<uint32_t> mine_;              // codes this run holds
    std::map<uint32_t, Reused> reused_;     // of mine_, those a good chip had before
    std::vector<uint32_t> givenBack_;      // to free once the server answers
    std::unique_ptr<RecordEngine> engine_;
};

}  // namespace veldrix
