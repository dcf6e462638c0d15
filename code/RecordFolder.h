#pragma once
// Production records in a folder of CSV files, one a local day
// ("YYYY-MM-DD.csv": UTF-8 with a byte-order mark so that spreadsheets show
// the texts, a header line, RFC 4180), and the ID authority of every program
// and PC that shares the folder.
//
// Everything that changes the folder happens under a lock on "veldrix.lock"
// in it. The codes handed out and not yet confirmed or given back are kept in
// "id-held.csv" (code, holder, time, "held" or "free"), a file that only
// grows until it is written anew with the codes held: a hand-out is on the
// disk before it returns, a release need not be (lost, the code stays held).
// A run that dies keeps its codes held, as a chip may carry them. The lock
// file's first bytes tell which files changed lately, so a store catches up
// on other writers' records by reading only the new bytes of those files.
//
// A record that cannot be stored now waits in memory and in a pending file of
// its run ("pending-<run>-<n>.csv" in the folder; in the fallback folder,
// which others may share, "pending-<run>-<n>.<folder key>.csv"), locked while
// the run lives; the next chance stores it in order, and a later start stores
// those of runs that are gone.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "code/PendingFile.h"
#include "seams/Files.h"
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
// "2025-03-03" of a day since 1970
std::string DateText(int64_t days);
// The record's fields in column order, as written.
std::vector<std::string> RecordFields(const ProductionRecord& record);

class RecordFolder : public ProductionRecords {
public:
    // fallbackFolder takes the pending file while folder cannot (the programs
    // pass the folder beside their settings); none when empty.
    explicit RecordFolder(std::string folder, std::string fallbackFolder = "");
    // Stores what is pending if it can; what cannot wait in the pending file
    // for the next start.
    ~RecordFolder() override;
    RecordFolder(const RecordFolder&) = delete;
    RecordFolder& operator=(const RecordFolder&) = delete;

    struct LoadSummary {
        size_t files = 0, records = 0, goodIdCodes = 0;
    };
    // Reads every day's file (a folder that does not exist yet holds none),
    // then stores the pending records of runs that are gone.
    LoadSummary Load();

    RecordKept Append(const ProductionRecord& record) override;
    RecordKept FlushPending() override;
    IdGrant TakeIdCode(uint32_t idCode, bool reuse) override;
    void GiveBackIdCode(uint32_t idCode) override;
    std::optional<std::string> IdCodeOnGoodChip(uint32_t idCode) override;
    std::string Location() override;
    const std::string& Folder() const { return folder_; }
    // This run among those sharing the folder: the holder of its codes, the
    // name of its pending file.
    const std::string& RunName() const { return run_; }

private:
    // A record on its way to its day file.
    struct Waiting {
        std::string line;     // with its line end
        size_t fields = 0;    // in line
        std::string dayFile;  // its name
        int32_t day = 0;
        std::optional<uint32_t> goodId;
        std::string holder;  // the run whose hold on goodId the record releases
    };
    // How far a day file was read.
    struct DayFile {
        uint64_t offset = 0;  // up to the last whole record
        size_t columns = 0;   // named by its header line; 0 while unread
    };
    struct Holding {
        std::string holder, time;
    };
    // Which changes of the folder this store has caught up with.
    struct Seen {
        std::string epoch;
        uint64_t seq = 0;
        std::vector<std::pair<uint64_t, std::string>> changes;  // the latest: sequence, file
    };
    class Session;

    // All below with mutex_ held.
    bool BeginSession();  // false when the folder cannot be locked
    void EndSession();
    void CatchUp();
    bool ReadDay(const std::string& name, int32_t day, size_t* records);
    void ReadHeld();
    void NoteGood(int32_t day, uint32_t idCode);
    void MergeGood(int32_t day, std::vector<uint32_t>& ids);
    std::optional<int32_t> GoodDay(uint32_t idCode) const;
    void HoldMine(uint32_t idCode);
    void ReleaseMine(uint32_t idCode);
    void NoteHeld(uint32_t idCode, const std::string& holder, const std::string& time, bool held);
    void WriteHeld();

    void StoreQueue();
    bool Store(const Waiting& record);
    bool KeepPending();  // every waiting record in a pending file
    void AdoptGoneRuns();
    // The records a pending file still holds, after those it says are stored.
    bool ReadPending(const std::string& path, const std::string& holder, std::vector<Waiting>& records);
    void AdoptPending(const std::string& path, const std::string& holder, FileLock& gone);

    std::mutex mutex_;
    const std::string folder_, fallback_;
    const std::string lockPath_, heldPath_;
    std::string run_;
    std::string fallbackSuffix_;  // ".<folder key>.csv"
    std::mt19937_64 random_;
    std::string lastFile_;

    // Days (since 1970) in order, each with its good chips' ID codes sorted.
    std::map<int32_t, std::vector<uint32_t>> idsByDay_;
    std::unordered_map<std::string, DayFile> days_;

    std::map<uint32_t, std::string> mine_;  // codes this run holds, with the time it took them
    std::map<uint32_t, Holding> others_;  // held by other runs, as id-held.csv last said
    std::map<uint32_t, int> waitingGood_;  // this run's good records not stored yet, by code
    std::set<uint32_t> waitingElsewhere_;  // good records of live runs' pending files, seen at the start
    std::string heldLines_;                // changes of the held codes not in the file yet
    bool heldTaken_ = false;               // among them a code handed out: flushed to the disk
    bool heldAgain_ = false;               // this run's codes are to be written again
    bool heldStale_ = true;                // the file could not be read since it last changed

    FileLock folderLock_;
    bool locked_ = false;
    Seen seen_;
    bool seenValid_ = false;
    std::vector<std::string> changed_;  // files changed in this session

    std::deque<Waiting> queue_;  // records not stored yet, in order
    std::unique_ptr<PendingFile> pending_;
};

}  // namespace veldrix
