#include "records/RecordEngine.h"

#include <algorithm>

#include "code/Csv.h"
#include "seams/Files.h"

namespace veldrix {

bool RecordBackEnd::FromPending(std::vector<std::string>& fields, size_t columns) {
    if (fields.size() < std::max(columns, size_t(column::kIdCode + 1))) return false;
    // Written before records had a key: stored as it is, with none.
    if (fields.size() < size_t(column::kCount)) fields.resize(column::kCount);
    return true;
}

RecordEngine::RecordEngine(RecordBackEnd& backEnd, std::string header, std::string run,
                           std::vector<std::pair<std::string, std::string>> places)
    : backEnd_(backEnd),
      run_(std::move(run)),
      places_(std::move(places)),
      pending_(std::make_unique<PendingFile>(std::move(header), run_)) {}

RecordEngine::~RecordEngine() { pending_->Leave(); }

const QueuedRecord& RecordEngine::Add(const ProductionRecord& record, const std::vector<std::string>& extra) {
    QueuedRecord q;
    q.fields = RecordFields(record, RecordKey(run_, ++serial_));
    q.fields.insert(q.fields.end(), extra.begin(), extra.end());
    q.line = CsvRecord(q.fields);
    q.dayFile = DayFileName(record.time);
    q.day = int32_t(DaysFromCivil(record.time.year, record.time.month, record.time.day));
    q.holder = run_;
    if (record.result == RecordResult::Good && record.idCode) {
        q.goodId = *record.idCode;
        ++waitingGood_[*record.idCode];
    }
    queue_.push_back(std::move(q));
    return queue_.back();
}

size_t RecordEngine::Store() {
    size_t stored = 0;
    while (!queue_.empty()) {
        const QueuedRecord& q = queue_.front();
        if (backEnd_.StoreOne(q) == RecordBackEnd::Put::Failed) break;
        if (q.goodId && q.holder == run_) {
            auto waiting = waitingGood_.find(*q.goodId);
            if (waiting != waitingGood_.end() && --waiting->second <= 0) waitingGood_.erase(waiting);
        }
        backEnd_.Confirmed(q);
        queue_.pop_front();
        ++stored;
    }
    pending_->Stored(stored, queue_.size());
    return stored;
}

RecordKept RecordEngine::Keep() {
    if (queue_.empty()) return RecordKept::Stored;
    bool kept = pending_->Keep(queue_.size(), [this](size_t i) -> const std::string& { return queue_[i].line; },
                               places_);
    return kept ? RecordKept::Pending : RecordKept::Lost;
}

bool RecordEngine::Parse(std::vector<std::string> fields, size_t columns, const std::string& holder,
                         QueuedRecord& out) {
    if (!backEnd_.FromPending(fields, columns) || !IsResultWord(fields[column::kResult]) ||
        fields[column::kTime].size() < 10)
        return false;
    out.dayFile = fields[column::kTime].substr(0, 10) + ".csv";
    std::optional<int32_t> day = DayOfFileName(out.dayFile);
    if (!day) return false;
    out.day = *day;
    if (fields[column::kResult] == "good") out.goodId = IdCodeField(fields[column::kIdCode]);
    out.holder = holder;
    out.line = CsvRecord(fields);
    out.fields = std::move(fields);
    return true;
}

void RecordEngine::AdoptGoneRuns(const std::string& folder, const std::string& suffix) {
    for (const PendingFound& found : PendingFilesIn(folder, suffix)) {
        if (found.path == pending_->Path()) continue;
        FileLock gone;
        const bool goneRun = gone.TryLock(found.path);
        std::vector<std::vector<std::string>> rows;
        size_t columns = 0;
        if (!ReadPendingFile(found.path, rows, columns)) continue;
        std::vector<QueuedRecord> records;
        for (std::vector<std::string>& f : rows) {
            QueuedRecord q;
            if (Parse(std::move(f), columns, found.run, q)) records.push_back(std::move(q));
        }
        if (!goneRun) {
            // Its run lives, and may not have been able to say what it holds.
            for (const QueuedRecord& q : records)
                if (q.goodId) backEnd_.WaitingElsewhere(*q.goodId);
            continue;
        }
        const size_t count = records.size();
        for (QueuedRecord& q : records) queue_.push_back(std::move(q));
        Store();
        if (Keep() != RecordKept::Lost) {
            // Should it stay (someone holds it open), it says that nothing in it waits;
            // and its keys are stored, should the next start read it all the same.
            gone.Close();
            if (!RemoveFile(found.path)) NotePendingStored(found.path, count);
            continue;
        }
        // Neither stored nor kept by this run: they stay where they were, but for those stored.
        const size_t left = std::min(queue_.size(), count);
        queue_.erase(queue_.end() - std::ptrdiff_t(left), queue_.end());
        NotePendingStored(found.path, count - left);
    }
}

}  // namespace veldrix
