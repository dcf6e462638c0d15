#include "platform/odbc/OdbcRecords.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "code/Csv.h"
#include "records/Record.h"

namespace veldrix {

const char* const kOdbcRecordsTable = "veldrix_records";
const char* const kOdbcIdTable = "veldrix_id_codes";

namespace {

// Plain types only, so that PostgreSQL, SQL Server, MySQL/MariaDB and SQLite all take them.
constexpr char kCreateRecords[] =
    "CREATE TABLE veldrix_records (record_key VARCHAR(80) NOT NULL, end_time VARCHAR(32) NOT NULL, "
    "result VARCHAR(8) NOT NULL, status VARCHAR(400), chip VARCHAR(64), code_file VARCHAR(1000), "
    "checksum VARCHAR(8), range_start VARCHAR(8), range_end VARCHAR(8), id_code BIGINT, id_address VARCHAR(8), "
    "success_count BIGINT, failure_count BIGINT, duration_ms BIGINT, port VARCHAR(64), station VARCHAR(64), "
    "program_version VARCHAR(32), kind VARCHAR(16), CONSTRAINT veldrix_records_key UNIQUE (record_key))";
constexpr char kCreateIds[] =
    "CREATE TABLE veldrix_id_codes (id_code BIGINT NOT NULL, id_address VARCHAR(8), state VARCHAR(8) NOT NULL, "
    "station VARCHAR(64) NOT NULL, holder VARCHAR(80) NOT NULL, at_time VARCHAR(32) NOT NULL, "
    "CONSTRAINT veldrix_id_codes_code UNIQUE (id_code))";
constexpr char kInsertRecord[] =
    "INSERT INTO veldrix_records (end_time, result, status, chip, code_file, checksum, range_start, range_end, "
    "id_code, id_address, success_count, failure_count, duration_ms, port, record_key, kind, station, "
    "program_version) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// The byte lengths of the records' text columns, in the order of the insert; 0: a number.
constexpr size_t kWidths[] = {32, 8, 400, 64, 1000, 8, 8, 8, 0, 8, 0, 0, 0, 64, 80, 16, 64, 32};
constexpr size_t kFieldCount = sizeof kWidths / sizeof kWidths[0];
constexpr size_t kStation = column::kCount, kVersion = column::kCount + 1;
// A pending file of a version before records had a kind: the key came last.
constexpr size_t kOldKey = column::kCountWithoutKey + 2, kOldCount = kOldKey + 1;

int64_t UnixMsNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string NowText() { return IsoTime(LocalTimeAt(UnixMsNow(), 0)); }

// At most width bytes, not cutting a character.
std::string Fit(const std::string& text, size_t width) {
    if (text.size() <= width) return text;
    size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

odbc::Value Number(const std::string& text) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return {};
    return int64_t(std::stoll(text));
}

std::string Hex64(uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Header() { return std::string(kRecordHeader) + ",工位,程序版本"; }

}  // namespace

OdbcRecords::OdbcRecords(OdbcPlace place) : place_(std::move(place)), db_(place_.connection) {
    run_ = NewRunName();
    // The data source by its name, never by its connection string.
    uint64_t key = 14695981039346656037ULL;
    for (unsigned char c : place_.name) key = (key ^ c) * 1099511628211ULL;
    suffix_ = ".odbc-" + Hex64(key) + ".csv";
    engine_ = std::make_unique<RecordEngine>(static_cast<RecordBackEnd&>(*this), Header(), run_,
                                             std::vector<std::pair<std::string, std::string>>{
                                                 {place_.pendingFolder, suffix_}});
}

OdbcRecords::~OdbcRecords() {
    std::lock_guard lock(mutex_);
    if (!StoreQueue()) engine_->Keep();
    for (uint32_t code : std::vector<uint32_t>(givenBack_)) GiveBackNow(code);
    engine_.reset();
}

std::string OdbcRecords::Open() {
    std::lock_guard lock(mutex_);
    bool ready = Ready();
    engine_->AdoptGoneRuns(place_.pendingFolder, suffix_);
    if (!StoreQueue()) engine_->Keep();
    return ready ? std::string() : db_.Last().message;
}

void OdbcRecords::Lost() {
    db_.Rollback();
    db_.Disconnect();
}

bool OdbcRecords::Ready() {
    if (db_.Connected() && tablesMade_) return true;
    if (!db_.Connect()) return false;
    if (!tablesMade_ && !MakeTables()) {
        Lost();
        return false;
    }
    return true;
}

bool OdbcRecords::MakeTables() {
    for (auto [name, create] : {std::pair(kOdbcRecordsTable, kCreateRecords), std::pair(kOdbcIdTable, kCreateIds)}) {
        bool exists = false;
        if (!db_.TableExists(name, exists)) return false;
        if (exists) continue;
        if (db_.Run(create) && db_.Commit()) continue;
        // Another station may have made it meanwhile.
        db_.Rollback();
        if (!db_.TableExists(name, exists) || !exists) return false;
    }
    // A table made before records had a kind gets the column.
    if (db_.Run("SELECT kind FROM veldrix_records WHERE 1 = 0")) {
        std::vector<std::optional<std::string>> row;
        while (db_.Fetch(row)) {
        }
    } else {
        db_.Rollback();
        if (!db_.Run("ALTER TABLE veldrix_records ADD kind VARCHAR(16)") || !db_.Commit()) return false;
    }
    // Ends the reading transaction: on some servers (SQLite) it keeps others from writing.
    db_.Rollback();
    tablesMade_ = true;
    return true;
}

RecordKept OdbcRecords::Kept() { return engine_->Keep(); }

RecordKept OdbcRecords::Append(const ProductionRecord& record) {
    std::lock_guard lock(mutex_);
    engine_->Add(record, {place_.station, place_.version});
    StoreQueue();
    return Kept();
}

RecordKept OdbcRecords::FlushPending() {
    std::lock_guard lock(mutex_);
    StoreQueue();
    return Kept();
}

bool OdbcRecords::StoreQueue() {
    engine_->Store();
    if (engine_->Empty())
        for (size_t i = givenBack_.size(); i-- > 0;)
            if (GiveBackNow(givenBack_[i])) givenBack_.erase(givenBack_.begin() + std::ptrdiff_t(i));
    return engine_->Empty();
}

void OdbcRecords::Confirmed(const QueuedRecord& q) {
    if (!q.goodId) return;
    mine_.erase(*q.goodId);
    reused_.erase(*q.goodId);
}

bool OdbcRecords::FromPending(std::vector<std::string>& f, size_t columns) {
    if (columns == kOldCount && f.size() >= kOldCount) {
        std::vector<std::string> fields(f.begin(), f.begin() + column::kCountWithoutKey);
        fields.push_back(f[kOldKey]);
        fields.emplace_back();  // of no kind then
        fields.push_back(f[column::kCountWithoutKey]);
        fields.push_back(f[column::kCountWithoutKey + 1]);
        f = std::move(fields);
        return true;
    }
    return f.size() > kVersion && f.size() >= columns;
}

// One record in one transaction, with the confirmation of its good chip's code.
RecordBackEnd::Put OdbcRecords::StoreOne(const QueuedRecord& w) {
    if (!Ready()) return Put::Failed;
    std::vector<odbc::Value> values;
    for (size_t i = 0; i < kFieldCount; ++i) {
        const std::string field = i < w.fields.size() ? w.fields[i] : std::string();
        if (kWidths[i] == 0) values.push_back(Number(field));
        else values.push_back(Fit(field, kWidths[i]));
    }
    if (!db_.Run(kInsertRecord, values)) {
        // Its key is there: an earlier commit went through unanswered.
        if (db_.Last().Constraint()) {
            db_.Rollback();
            return Put::Already;
        }
        Lost();
        return Put::Failed;
    }
    if (w.goodId) {
        auto reused = reused_.find(*w.goodId);
        std::string time = reused != reused_.end() ? reused->second.time : w.fields[column::kTime];
        std::vector<odbc::Value> confirm = {Fit(w.fields[column::kIdAddress], 8), Fit(w.fields[kStation], 64),
                                            Fit(w.holder, 80), time,
                                            int64_t(*w.goodId)};
        if (!db_.Run("UPDATE veldrix_id_codes SET state = 'good', id_address = ?, station = ?, holder = ?, "
                     "at_time = ? WHERE id_code = ?",
                     confirm)) {
            Lost();
            return Put::Failed;
        }
        // Not taken through this store (a code the store never saw): it is on a good chip now all the same.
        if (db_.RowsChanged() == 0 &&
            !db_.Run("INSERT INTO veldrix_id_codes (id_address, station, holder, at_time, id_code, state) "
                     "VALUES (?, ?, ?, ?, ?, 'good')",
                     confirm)) {
            Lost();
            return Put::Failed;
        }
    }
    if (!db_.Commit()) {
        Lost();
        return Put::Failed;
    }
    return Put::Stored;
}

IdGrant OdbcRecords::Unreachable() {
    IdGrant grant;
    grant.answer = IdGrant::Answer::Unreachable;
    grant.problem = db_.Last().message;
    return grant;
}

std::optional<std::string> OdbcRecords::IdServerProblem() {
    std::lock_guard lock(mutex_);
    // A connection may have gone stale while idle (the server restarted): ask
    // the server itself, and connect once more when it does not answer.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!StoreQueue() || !Ready()) return db_.Last().message;
        if (db_.Run("SELECT id_code FROM veldrix_id_codes WHERE id_code = ?", {int64_t(-1)})) {
            std::vector<std::optional<std::string>> row;
            while (db_.Fetch(row)) {
            }
            return std::nullopt;
        }
        Lost();
    }
    return db_.Last().message;
}

IdGrant OdbcRecords::TakeIdCode(uint32_t idCode, bool reuse) {
    std::lock_guard lock(mutex_);
    // The confirmations waiting come first: they may be of this very code.
    if (!StoreQueue() || !Ready()) return Unreachable();
    if (mine_.count(idCode)) return {IdGrant::Answer::HeldElsewhere, {}, {}};
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (db_.Run("INSERT INTO veldrix_id_codes (id_code, state, station, holder, at_time) "
                    "VALUES (?, 'taken', ?, ?, ?)",
                    {int64_t(idCode), Fit(place_.station, 64), run_, NowText()})) {
            if (!db_.Commit()) break;
            mine_.insert(idCode);
            return {};
        }
        if (!db_.Last().Constraint()) break;
        db_.Rollback();
        if (!db_.Run("SELECT state, at_time, station, holder FROM veldrix_id_codes WHERE id_code = ?",
                     {int64_t(idCode)}))
            break;
        std::vector<std::optional<std::string>> row;
        bool found = db_.Fetch(row);
        db_.Rollback();
        if (!found) {
            if (!db_.Last().state.empty()) break;
            continue;  // given back meanwhile: ask again
        }
        std::string state = row[0].value_or(""), time = row[1].value_or("");
        // Taken by this run, the answer to its commit lost on the way: it is this chip's.
        if (state == "taken" && row[3].value_or("") == run_) {
            mine_.insert(idCode);
            return {};
        }
        if (state != "good") return {IdGrant::Answer::HeldElsewhere, {}, {}};
        if (!reuse) return {IdGrant::Answer::OnGoodChip, time.substr(0, 10), {}};
        // A deliberate rework: this run holds it, and gives the good chip's row back should it fail.
        if (!db_.Run("UPDATE veldrix_id_codes SET state = 'taken', station = ?, holder = ?, at_time = ? "
                     "WHERE id_code = ? AND state = 'good'",
                     {Fit(place_.station, 64), run_, NowText(), int64_t(idCode)}))
            break;
        int64_t changed = db_.RowsChanged();
        if (changed != 1) {
            db_.Rollback();
            return {IdGrant::Answer::HeldElsewhere, {}, {}};
        }
        if (!db_.Commit()) break;
        mine_.insert(idCode);
        reused_[idCode] = {time, row[2].value_or(""), row[3].value_or("")};
        return {};
    }
    IdGrant unreachable = Unreachable();
    Lost();
    return unreachable;
}

bool OdbcRecords::GiveBackNow(uint32_t idCode) {
    if (!Ready()) return false;
    auto reused = reused_.find(idCode);
    bool ran = reused != reused_.end()
                   ? db_.Run("UPDATE veldrix_id_codes SET state = 'good', station = ?, holder = ?, at_time = ? "
                             "WHERE id_code = ? AND holder = ?",
                             {reused->second.station, reused->second.holder, reused->second.time, int64_t(idCode), run_})
                   : db_.Run("DELETE FROM veldrix_id_codes WHERE id_code = ? AND holder = ? AND state = 'taken'",
                             {int64_t(idCode), run_});
    if (!ran || !db_.Commit()) {
        Lost();
        return false;
    }
    mine_.erase(idCode);
    if (reused != reused_.end()) reused_.erase(reused);
    return true;
}

void OdbcRecords::GiveBackIdCode(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    // A good chip's code whose record waits stays held.
    if (!mine_.count(idCode) || engine_->WaitingGood(idCode)) return;
    // After the records before it: should the server be away, it stays taken until it answers.
    if (!StoreQueue() || !GiveBackNow(idCode)) givenBack_.push_back(idCode);
}

std::optional<std::string> OdbcRecords::IdCodeOnGoodChip(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    if (!Ready() || !db_.Run("SELECT state, at_time FROM veldrix_id_codes WHERE id_code = ?", {int64_t(idCode)})) {
        Lost();
        return std::nullopt;
    }
    std::vector<std::optional<std::string>> row;
    bool found = db_.Fetch(row);
    db_.Rollback();
    if (found && row[0].value_or("") == "good") return row[1].value_or("").substr(0, 10);
    return std::nullopt;
}

std::string OdbcRecords::Location() { return place_.name; }

}  // namespace veldrix
