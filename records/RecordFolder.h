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

#include "records/Record.h"
#include "records/RecordEngine.h"
#include "seams/Files.h"
#include "seams/ProductionRecords.h"

namespace veldrix {

// How long a store waits for the folder's lock before it answers that the
// folder cannot be reached.
constexpr uint64_t kFolderLockWaitMs = 10000;

class RecordFolder : public ProductionRecords, private RecordBackEnd {
public:
    // fallbackFolder takes the pending file while folder cannot (the programs
    // pass the folder beside their settings); none when empty. clock: what
    // the wait for the lock sleeps on (the system's when none).
    explicit RecordFolder(std::string folder, std::string fallbackFolder = "", Clock* clock = nullptr);
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
    // Granted only once the hold is in id-held.csv and flushed, under the
    // lock, by a store that has read all that others wrote; else Unreachable.
    IdGrant TakeIdCode(uint32_t idCode, bool reuse) override;
    void GiveBackIdCode(uint32_t idCode) override;
    std::optional<std::string> IdCodeOnGoodChip(uint32_t idCode) override;
    // Why the folder cannot hand out codes now (its lock, a file that cannot
    // be read), in the program's words; nothing when it can.
    std::optional<std::string> IdServerProblem() override;
    std::string Location() override;
    const std::string& Folder() const { return folder_; }
    // This run among those sharing the folder: the holder of its codes, the
    // name of its pending file.
    const std::string& RunName() const { return run_; }

private:
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

    Put StoreOne(const QueuedRecord& record) override;
    void Confirmed(const QueuedRecord& record) override;
    void WaitingElsewhere(uint32_t idCode) override { waitingElsewhere_.insert(idCode); }

    // All below with mutex_ held.
    bool TakeLock();  // within kFolderLockWaitMs; false with problem_ said
    bool BeginSession();  // false when the folder cannot be locked
    void EndSession();
    bool CatchUp();  // false when something others wrote could not be read
    bool ReadDay(const std::string& name, int32_t day, size_t* records);
    bool ReadHeld();
    void NoteGood(int32_t day, uint32_t idCode);
    void MergeGood(int32_t day, std::vector<uint32_t>& ids);
    std::optional<int32_t> GoodDay(uint32_t idCode) const;
    bool KeyStored(const std::string& key) const;
    void HoldMine(uint32_t idCode);
    void ReleaseMine(uint32_t idCode);
    void NoteHeld(uint32_t idCode, const std::string& holder, const std::string& time, bool held);
    bool WriteHeld();  // true when the changes of the held codes are all on the disk
    void StoreQueue();
    void AdoptGoneRuns();
    std::optional<std::string> Problem();  // with a session begun

    std::mutex mutex_;
    const std::string folder_, fallback_;
    const std::string lockPath_, heldPath_;
    Clock* clock_;
    std::string run_;
    std::string fallbackSuffix_;  // ".<folder key>.csv"
    std::mt19937_64 random_;
    std::string lastFile_;

    // Days (since 1970) in order, each with its good chips' ID codes sorted.
    std::map<int32_t, std::vector<uint32_t>> idsByDay_;
    std::unordered_map<std::string, DayFile> days_;
    // Per run, the highest record number stored: a run stores its records in order.
    std::unordered_map<std::string, uint64_t> storedUpTo_;

    std::map<uint32_t, std::string> mine_;  // codes this run holds, with the time it took them
    std::map<uint32_t, Holding> others_;  // held by other runs, as id-held.csv last said
    std::set<uint32_t> waitingElsewhere_;  // good records of live runs' pending files, seen at the start
    std::string heldLines_;                // changes of the held codes not in the file yet
    bool heldTaken_ = false;               // among them a code handed out: flushed to the disk
    bool heldAgain_ = false;               // this run's codes are to be written again
    bool heldStale_ = true;                // the file could not be read since it last changed

    FileLock folderLock_;
    bool locked_ = false;
    bool blind_ = false;   // this session could not read all that others wrote
    std::string problem_;  // why the last session could not begin
    Seen seen_;
    bool seenValid_ = false;
    std::vector<std::string> changed_;  // files changed in this session

    std::unique_ptr<RecordEngine> engine_;
};

}  // namespace veldrix
