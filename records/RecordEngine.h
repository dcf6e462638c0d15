#pragma once
// What every store of production records shares, whatever keeps them: the
// queue of records not stored yet, in order; their pending file; taking
// over the pending files of runs that are gone; and storing each record
// once, by its key. A back end (the folder, the database) only stores one
// record and says whether its key is stored already.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "records/PendingFile.h"
#include "records/Record.h"
#include "seams/ProductionRecords.h"

namespace veldrix {

// A record on its way to its store.
struct QueuedRecord {
    std::vector<std::string> fields;  // in column order, then the back end's own columns
    std::string line;                 // as the pending file keeps it, with its line end
    std::string dayFile;              // "YYYY-MM-DD.csv"
    int32_t day = 0;                  // since 1970
    std::optional<uint32_t> goodId;   // a good chip's code: storing the record confirms it
    std::string holder;               // the run whose hold on goodId the record confirms
    const std::string& Key() const { return fields[column::kKey]; }
};

class RecordBackEnd {
public:
    virtual ~RecordBackEnd() = default;
    enum class Put {
        Stored,   // for good now, with its code confirmed
        Already,  // its key was stored before (a retry, a crash before the pending file said so)
        Failed,   // not now
    };
    virtual Put StoreOne(const QueuedRecord& record) = 0;
    // The record is stored: the hold on its good chip's code ends.
    virtual void Confirmed(const QueuedRecord& record) = 0;
    // A live run's pending file holds a good record of this code.
    virtual void WaitingElsewhere(uint32_t /*idCode*/) {}
    // A pending file's row in this store's columns (an older version's file);
    // false to leave it out.
    virtual bool FromPending(std::vector<std::string>& fields, size_t columns);
};

class RecordEngine {
public:
    // places: where the pending file may go (folder, file name ending), the first that works.
    RecordEngine(RecordBackEnd& backEnd, std::string header, std::string run,
                 std::vector<std::pair<std::string, std::string>> places);
    // What is left waits in the pending file, unlocked, for the next start.
    ~RecordEngine();
    RecordEngine(const RecordEngine&) = delete;
    RecordEngine& operator=(const RecordEngine&) = delete;

    // The record, with the next key of this run, at the end of the queue;
    // extra: the back end's own columns after the common ones.
    const QueuedRecord& Add(const ProductionRecord& record, const std::vector<std::string>& extra = {});
    // Stores the queue in order up to the first record that cannot be; the
    // pending file follows. The number stored.
    size_t Store();
    // Stored when none waits; Pending when all that wait are in the pending file; else Lost.
    RecordKept Keep();
    bool Empty() const { return queue_.empty(); }
    const std::deque<QueuedRecord>& Queue() const { return queue_; }
    // A good record of this run with this code is not stored yet.
    bool WaitingGood(uint32_t idCode) const { return waitingGood_.count(idCode) != 0; }
    // The pending files of gone runs (their lock is free) in folder whose
    // names end in suffix: stored now, or kept in this run's. Those of live
    // runs tell the back end which good codes wait.
    void AdoptGoneRuns(const std::string& folder, const std::string& suffix);
    const std::string& Run() const { return run_; }
    const std::string& PendingPath() const { return pending_->Path(); }

private:
    bool Parse(std::vector<std::string> fields, size_t columns, const std::string& holder, QueuedRecord& out);

    RecordBackEnd& backEnd_;
    const std::string run_;
    const std::vector<std::pair<std::string, std::string>> places_;
    uint64_t serial_ = 0;
    std::deque<QueuedRecord> queue_;
    std::map<uint32_t, int> waitingGood_;  // this run's good records not stored yet, by code
    std::unique_ptr<PendingFile> pending_;
};

}  // namespace veldrix
