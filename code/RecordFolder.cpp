#include "code/RecordFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "code/Csv.h"
#include "code/Fields.h"
#include "code/PendingFile.h"
#include "seams/Files.h"
#include "seams/Platform.h"

namespace veldrix {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kScanPiece = 64 * 1024;
constexpr char kLockName[] = "veldrix.lock";
constexpr char kHeldName[] = "id-held.csv";
constexpr char kHeldHeader[] = "ID码,占用者,时间,状态";
// Past this the held codes' file is written anew with only the codes held.
constexpr uint64_t kHeldRewriteAt = 64 * 1024;
// The lock file's head: its format line, epoch, sequence and latest changes.
constexpr char kHeadFormat[] = "veldrix-lock 1";
constexpr size_t kHeadSize = 4096;
constexpr size_t kChangesKept = 64;

std::string HexField(uint32_t value) { return Hex(value, 4) + "H"; }

// The day of a file named "YYYY-MM-DD.csv"; other files are not ours.
std::optional<int32_t> DayOfFileName(const std::string& name) {
    if (name.size() != 14 || name.compare(10, 4, ".csv") != 0 || name[4] != '-' || name[7] != '-') return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (name[size_t(i)] < '0' || name[size_t(i)] > '9') return std::nullopt;
    int year = std::stoi(name.substr(0, 4)), month = std::stoi(name.substr(5, 2)), day = std::stoi(name.substr(8, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    return int32_t(DaysFromCivil(year, month, day));
}


std::optional<uint32_t> IdCodeField(std::string_view text) {
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + uint32_t(c - '0');
    }
    return value;
}

bool IsResultWord(std::string_view word) {
    return word == "good" || word == "bad" || word == "stopped" || word == "link";
}

// What must come before the next record so that it starts on a line of its
// own: nothing after a whole record; after a torn one, a closing quote when
// it broke off inside a quoted field, and a line end.
bool Mending(AppendFile& file, std::string& out) {
    std::string tail;
    if (!file.ReadAt(file.Size() - std::min<uint64_t>(file.Size(), 2), 2, tail)) return false;
    if (tail == "\r\n") return true;
    // Only a power cut (or someone else's hand) leaves this: count the quotes.
    size_t quotes = 0;
    std::string piece;
    for (uint64_t at = 0; at < file.Size(); at += kScanPiece) {
        if (!file.ReadAt(at, kScanPiece, piece)) return false;
        quotes += size_t(std::count(piece.begin(), piece.end(), '"'));
    }
    if (quotes % 2)
        out += "\"\r\n";
    else if (tail.empty() || tail.back() != '\n')
        out += "\r\n";
    return true;
}

}  // namespace

const char* const kRecordHeader =
    "时间,结果,状态,芯片型号,代码文件,检查和,起始地址,终止地址,ID码,ID码地址,成功计数,失败计数,耗时(毫秒),端口";

const char* ResultWord(RecordResult result) {
    switch (result) {
    case RecordResult::Good: return "good";
    case RecordResult::Bad: return "bad";
    case RecordResult::Stopped: return "stopped";
    case RecordResult::Link: return "link";
    }
    return "";
}

std::string IsoTime(const LocalTime& t) {
    int offset = t.offsetMinutes < 0 ? -t.offsetMinutes : t.offsetMinutes;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, t.offsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return text;
}

std::string DateText(int64_t days) {
    int year, month, day;
    CivilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

std::string DayFileName(const LocalTime& t) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d.csv", t.year, t.month, t.day);
    return text;
}

std::vector<std::string> RecordFields(const ProductionRecord& r) {
    return {IsoTime(r.time),
            ResultWord(r.result),
            r.status,
            r.chip,
            r.codeFile,
            r.checksum ? HexField(*r.checksum) : "",
            HexField(r.rangeStart),
            HexField(r.rangeEnd),
            r.idCode ? std::to_string(*r.idCode) : "",
            r.idAddress ? HexField(*r.idAddress) : "",
            std::to_string(r.successCount),
            std::to_string(r.failureCount),
            std::to_string(r.durationMs),
            r.port};
}


namespace {

std::string Hex64(uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

int64_t UnixMsNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// When a code was taken, for whoever looks into the held codes' file.
std::string NowText() { return IsoTime(LocalTimeAt(UnixMsNow(), 0)); }

// The records folder as named to this program, in a fallback folder's file names.
uint64_t FolderKey(const std::string& folder) {
    uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : folder) hash = (hash ^ c) * 1099511628211ULL;
    return hash;
}

// The columns the header line of a day file names; a file whose first line
// is not whole yet is taken for ours.
size_t HeaderColumns(AppendFile& file) {
    std::string head;
    size_t columns = column::kCount;
    if (!file.ReadAt(0, 4096, head)) return columns;
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        columns = f.size();
        return false;
    });
    reader.Feed(head);
    return columns;
}

bool ParseHead(std::string_view text, std::string& epoch, uint64_t& seq,
               std::vector<std::pair<uint64_t, std::string>>& changes) {
    epoch.clear();
    seq = 0;
    changes.clear();
    size_t at = 0;
    auto line = [&](std::string_view& out) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) return false;
        out = text.substr(at, end - at);
        at = end + 1;
        return true;
    };
    auto number = [](std::string_view digits, uint64_t& value) {
        value = 0;
        if (digits.empty() || digits.size() > 19) return false;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + uint64_t(c - '0');
        }
        return true;
    };
    std::string_view l;
    if (!line(l) || l != kHeadFormat) return false;
    if (!line(l) || l.substr(0, 6) != "epoch " || l.size() == 6) return false;
    epoch = std::string(l.substr(6));
    if (!line(l) || l.substr(0, 4) != "seq " || !number(l.substr(4), seq)) return false;
    while (line(l)) {
        if (l == "end") return true;
        size_t space = l.find(' ');
        uint64_t n;
        if (space == std::string_view::npos || !number(l.substr(0, space), n)) break;
        changes.emplace_back(n, std::string(l.substr(space + 1)));
    }
    epoch.clear();
    seq = 0;
    changes.clear();
    return false;
}

std::string HeadText(const std::string& epoch, uint64_t seq,
                     const std::vector<std::pair<uint64_t, std::string>>& changes) {
    std::string text = std::string(kHeadFormat) + "\nepoch " + epoch + "\nseq " + std::to_string(seq) + "\n";
    for (const auto& [n, name] : changes) text += std::to_string(n) + " " + name + "\n";
    return text + "end\n";
}

}  // namespace

// The folder's lock for one call, and catching up with what others did
// before it; the held codes and the changes made are written at its end.
class RecordFolder::Session {
public:
    explicit Session(RecordFolder& folder) : folder_(folder) { folder_.BeginSession(); }
    ~Session() { folder_.EndSession(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    RecordFolder& folder_;
};

RecordFolder::RecordFolder(std::string folder, std::string fallbackFolder)
    : folder_(std::move(folder)),
      fallback_(fallbackFolder == folder_ ? std::string() : std::move(fallbackFolder)),
      lockPath_(JoinPath(folder_, kLockName)),
      heldPath_(JoinPath(folder_, kHeldName)),
      random_((uint64_t(std::random_device{}()) << 32) ^ std::random_device{}() ^ uint64_t(UnixMsNow())) {
    LocalTime now = LocalTimeAt(UnixMsNow(), 0);
    char start[32];
    std::snprintf(start, sizeof start, "%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day, now.hour, now.minute,
                  now.second);
    // Host and process, when it started, and a few random letters for two stores of one process.
    run_ = ProcessName() + "-" + start + "-" + Hex64(random_()).substr(0, 6);
    fallbackSuffix_ = "." + Hex64(FolderKey(folder_)) + ".csv";
    pending_ = std::make_unique<PendingFile>(kRecordHeader, run_);
}

RecordFolder::~RecordFolder() {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
        Session session(*this);
        StoreQueue();
        KeepPending();
    }
    // What is left waits in the pending file, unlocked, for the next start.
    pending_->Leave();
}

bool RecordFolder::BeginSession() {
    changed_.clear();
    // The lock file is kept open: the folder is made only when it cannot be.
    locked_ = folderLock_.Lock(lockPath_) || (MakeFolders(folder_) && folderLock_.Lock(lockPath_));
    if (locked_) CatchUp();
    return locked_;
}

void RecordFolder::EndSession() {
    if (!locked_) return;
    WriteHeld();
    if (!changed_.empty()) {
        if (seen_.epoch.empty()) {  // a new lock file, or one a crash left unreadable
            seen_ = Seen{};
            seen_.epoch = Hex64(random_());
        }
        std::sort(changed_.begin(), changed_.end());
        changed_.erase(std::unique(changed_.begin(), changed_.end()), changed_.end());
        for (const std::string& name : changed_) seen_.changes.emplace_back(++seen_.seq, name);
        if (seen_.changes.size() > kChangesKept)
            seen_.changes.erase(seen_.changes.begin(), seen_.changes.end() - kChangesKept);
        folderLock_.WriteHead(HeadText(seen_.epoch, seen_.seq, seen_.changes));
        changed_.clear();
    }
    folderLock_.Unlock();
    locked_ = false;
}

void RecordFolder::CatchUp() {
    std::string text;
    Seen head;
    if (!folderLock_.ReadHead(kHeadSize, text) || !ParseHead(text, head.epoch, head.seq, head.changes)) head = Seen{};
    if (seenValid_ && head.epoch == seen_.epoch && head.seq == seen_.seq) return;
    // The changes since this store last looked are all still listed: read only those files.
    bool listed = seenValid_ && !head.epoch.empty() && head.epoch == seen_.epoch && head.seq > seen_.seq &&
                  !head.changes.empty() && head.changes.front().first <= seen_.seq + 1;
    if (listed) {
        std::set<std::string> names;
        for (const auto& [n, name] : head.changes)
            if (n > seen_.seq) names.insert(name);
        for (const std::string& name : names) {
            if (name == kHeldName) {
                ReadHeld();
            } else if (std::optional<int32_t> day = DayOfFileName(name)) {
                ReadDay(name, *day, nullptr);
            }
        }
    } else {
        // A lock file made anew may mean a folder made anew: this run's codes go into it again.
        if (seenValid_ && head.epoch != seen_.epoch && !mine_.empty()) heldAgain_ = true;
        std::vector<FileEntry> files;
        if (ListFileSizes(folder_, files)) {
            for (const FileEntry& file : files) {
                std::optional<int32_t> day = DayOfFileName(file.name);
                if (!day) continue;
                DayFile& known = days_[file.name];
                if (file.size < known.offset) known = DayFile{};  // replaced: read it again
                if (file.size > known.offset || known.columns == 0) ReadDay(file.name, *day, nullptr);
            }
        }
        ReadHeld();
    }
    seen_ = std::move(head);
    seenValid_ = true;
}

// Reads a day file from where this store left it, up to its last whole
// record. A record counts with at least as many fields as the file's header
// names: what a power cut tore off never counts, even once the next record
// mended its end. A later version's extra columns are read past.
bool RecordFolder::ReadDay(const std::string& name, int32_t day, size_t* records) {
    DayFile& known = days_[name];
    const uint64_t from = known.offset;
    bool header = from == 0;
    size_t need = std::max(known.columns, size_t(column::kIdCode + 1));
    std::vector<uint32_t> ids;
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        if (header) {
            header = false;
            known.columns = f.size();
            need = std::max(known.columns, size_t(column::kIdCode + 1));
        }
        if (f.size() < need || !IsResultWord(f[column::kResult])) return true;
        if (records) ++*records;
        if (f[column::kResult] == "good")
            if (auto id = IdCodeField(f[column::kIdCode])) ids.push_back(*id);
        return true;
    });
    uint64_t fed = 0;
    bool read = ReadFilePieces(
        JoinPath(folder_, name),
        [&](std::string_view piece) {
            fed += piece.size();
            return reader.Feed(piece);
        },
        from);
    if (!read) return false;
    known.offset = from + fed - reader.Waiting();
    if (!ids.empty()) MergeGood(day, ids);
    return true;
}

void RecordFolder::ReadHeld() {
    std::string text;
    // Unreadable now: what it last said still holds, and it is not written anew from that.
    heldStale_ = !ReadFileBytes(heldPath_, text);
    if (heldStale_) return;
    others_.clear();
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        std::optional<uint32_t> code = f.size() >= 4 ? IdCodeField(f[0]) : std::nullopt;
        // This run's own codes are as it knows them.
        if (!code || f[1] == run_) return true;
        auto at = others_.find(*code);
        if (f[3] == "held") {
            others_[*code] = {std::string(f[1]), std::string(f[2])};
        } else if (f[3] == "free" && at != others_.end() && at->second.holder == f[1]) {
            others_.erase(at);
        }
        return true;
    });
    reader.Feed(text);
}

void RecordFolder::WriteHeld() {
    if (heldLines_.empty() && !heldAgain_) return;
    std::string lines = heldLines_;
    // Said again when the file may have lost them (a folder made anew, a write that failed).
    if (heldAgain_)
        for (const auto& [code, time] : mine_) lines += CsvRecord({std::to_string(code), run_, time, "held"});
    std::string header = kByteOrderMark;
    header += kHeldHeader;
    header += "\r\n";
    AppendFile file;
    std::string out;
    bool appendable = file.Open(heldPath_) && (file.Size() == 0 ? (out = header, true) : Mending(file, out));
    // Long, it is written anew, but only from a reading this session can trust:
    // a hold left out would be a code handed out twice.
    if (appendable && (file.Size() < kHeldRewriteAt || heldStale_)) {
        if (file.Append(out + lines, heldTaken_ || heldAgain_)) {
            if (file.Size() == out.size() + lines.size()) heldStale_ = false;  // all in it is this run's
            heldLines_.clear();
            heldTaken_ = heldAgain_ = false;
            changed_.push_back(kHeldName);
            return;
        }
    }
    file.Close();
    heldAgain_ = true;
    if (heldStale_) return;
    std::map<uint32_t, Holding> all = others_;
    for (const auto& [code, time] : mine_) all[code] = {run_, time};
    std::string text = header;
    for (const auto& [code, hold] : all) text += CsvRecord({std::to_string(code), hold.holder, hold.time, "held"});
    if (!WriteFileReplacing(heldPath_, text)) return;
    heldLines_.clear();
    heldTaken_ = heldAgain_ = false;
    changed_.push_back(kHeldName);
}

void RecordFolder::NoteGood(int32_t day, uint32_t idCode) {
    std::vector<uint32_t>& kept = idsByDay_[day];
    auto at = std::lower_bound(kept.begin(), kept.end(), idCode);
    if (at == kept.end() || *at != idCode) kept.insert(at, idCode);
}

void RecordFolder::MergeGood(int32_t day, std::vector<uint32_t>& ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<uint32_t>& kept = idsByDay_[day];
    if (kept.empty()) {
        kept.assign(ids.begin(), ids.end());  // exactly as large as it needs to be
    } else if (ids.size() < 16) {
        for (uint32_t id : ids) NoteGood(day, id);
    } else {
        std::vector<uint32_t> merged;
        merged.reserve(kept.size() + ids.size());
        std::set_union(kept.begin(), kept.end(), ids.begin(), ids.end(), std::back_inserter(merged));
        kept.swap(merged);
    }
}

std::optional<int32_t> RecordFolder::GoodDay(uint32_t idCode) const {
    for (const auto& [day, kept] : idsByDay_)
        if (std::binary_search(kept.begin(), kept.end(), idCode)) return day;
    return std::nullopt;
}

void RecordFolder::HoldMine(uint32_t idCode) {
    auto [at, added] = mine_.emplace(idCode, NowText());
    if (added) NoteHeld(idCode, run_, at->second, true);
}

void RecordFolder::ReleaseMine(uint32_t idCode) {
    if (mine_.erase(idCode)) NoteHeld(idCode, run_, NowText(), false);
}

void RecordFolder::NoteHeld(uint32_t idCode, const std::string& holder, const std::string& time, bool held) {
    heldLines_ += CsvRecord({std::to_string(idCode), holder, time, held ? "held" : "free"});
    heldTaken_ = heldTaken_ || held;
}

RecordFolder::LoadSummary RecordFolder::Load() {
    LoadSummary summary;
    std::lock_guard lock(mutex_);
    // Where the folder's changes stood before reading: what others write
    // meanwhile is caught up with afterwards.
    Seen start;
    bool started = false;
    if (folderLock_.Lock(lockPath_) || (MakeFolders(folder_) && folderLock_.Lock(lockPath_))) {
        std::string text;
        if (!folderLock_.ReadHead(kHeadSize, text) || !ParseHead(text, start.epoch, start.seq, start.changes))
            start = Seen{};
        started = true;
        folderLock_.Unlock();
    }
    std::vector<std::string> names;
    if (ListFiles(folder_, names)) {
        for (const std::string& name : names) {
            std::optional<int32_t> day = DayOfFileName(name);
            if (!day) continue;
            days_[name] = DayFile{};
            if (ReadDay(name, *day, &summary.records)) ++summary.files;
        }
    }
    seen_ = std::move(start);
    seenValid_ = started;
    {
        Session session(*this);
        if (locked_) ReadHeld();  // the codes held before the start are in no change listed since
        AdoptGoneRuns();
        StoreQueue();
        KeepPending();
    }
    for (const auto& [day, kept] : idsByDay_) summary.goodIdCodes += kept.size();
    return summary;
}

RecordKept RecordFolder::Append(const ProductionRecord& record) {
    std::lock_guard lock(mutex_);
    Waiting w;
    std::vector<std::string> fields = RecordFields(record);
    w.line = CsvRecord(fields);
    w.fields = fields.size();
    w.dayFile = DayFileName(record.time);
    w.day = int32_t(DaysFromCivil(record.time.year, record.time.month, record.time.day));
    w.holder = run_;
    // The code is on a good chip from now on, also while its record waits.
    if (record.result == RecordResult::Good && record.idCode) {
        w.goodId = *record.idCode;
        NoteGood(w.day, *record.idCode);
        ++waitingGood_[*record.idCode];
    }
    lastFile_ = JoinPath(folder_, w.dayFile);
    queue_.push_back(std::move(w));

    Session session(*this);
    StoreQueue();
    if (queue_.empty()) return RecordKept::Stored;
    return KeepPending() ? RecordKept::Pending : RecordKept::Lost;
}

RecordKept RecordFolder::FlushPending() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return RecordKept::Stored;
    Session session(*this);
    StoreQueue();
    if (queue_.empty()) return RecordKept::Stored;
    return KeepPending() ? RecordKept::Pending : RecordKept::Lost;
}

// Stores the waiting records in order up to the first that cannot be; a good
// one releases the hold on its code.
void RecordFolder::StoreQueue() {
    size_t stored = 0;
    while (!queue_.empty() && Store(queue_.front())) {
        const Waiting& w = queue_.front();
        if (w.goodId && w.holder == run_) {
            auto waiting = waitingGood_.find(*w.goodId);
            if (waiting != waitingGood_.end() && --waiting->second <= 0) {
                waitingGood_.erase(waiting);
                ReleaseMine(*w.goodId);
            }
        } else if (w.goodId) {
            auto held = others_.find(*w.goodId);
            if (held != others_.end() && held->second.holder == w.holder) {
                others_.erase(held);
                NoteHeld(*w.goodId, w.holder, NowText(), false);
            }
        }
        queue_.pop_front();
        ++stored;
    }
    pending_->Stored(stored, queue_.size());
    // Codes of good chips whose records wait stay held for others to see.
    for (const Waiting& w : queue_)
        if (w.goodId && w.holder == run_) HoldMine(*w.goodId);
}

bool RecordFolder::Store(const Waiting& w) {
    AppendFile file;
    if (!file.Open(JoinPath(folder_, w.dayFile))) return false;
    DayFile& known = days_[w.dayFile];
    const uint64_t before = file.Size();
    std::string out;
    size_t columns = column::kCount;
    if (before == 0) {
        out = kByteOrderMark;
        out += kRecordHeader;
        out += "\r\n";
    } else {
        if (!Mending(file, out)) return false;
        columns = known.columns ? known.columns : HeaderColumns(file);
    }
    out += w.line;
    // A later version's file: its extra columns stay empty, so the record counts there.
    if (columns > w.fields) out.insert(out.size() - 2, columns - w.fields, ',');
    if (!file.Append(out)) return false;
    // Read up to here already: no need to read it back.
    if (before == 0) {
        known = {file.Size(), size_t(column::kCount)};
    } else if (known.offset == before && known.columns) {
        known.offset = file.Size();
    }
    changed_.push_back(w.dayFile);
    return true;
}

bool RecordFolder::KeepPending() {
    return pending_->Keep(queue_.size(), [this](size_t i) -> const std::string& { return queue_[i].line; },
                         {{folder_, ".csv"}, {fallback_, fallbackSuffix_}});
}

// The pending files of runs that are gone (their lock is free), in the folder
// and in the fallback folder: their records are stored or taken over. Those
// of runs still alive tell which codes their good chips carry.
void RecordFolder::AdoptGoneRuns() {
    if (!locked_) return;  // another start might take the same file at once
    for (const auto& [folder, suffix] : {std::pair(folder_, std::string(".csv")), std::pair(fallback_, fallbackSuffix_)}) {
        for (const PendingFound& found : PendingFilesIn(folder, suffix)) {
            if (found.path == pending_->Path()) continue;
            FileLock gone;
            if (gone.TryLock(found.path)) {
                AdoptPending(found.path, found.run, gone);
                continue;
            }
            // Its run lives, and may not have been able to say what it holds.
            std::vector<Waiting> records;
            ReadPending(found.path, found.run, records);
            for (const Waiting& w : records)
                if (w.goodId) waitingElsewhere_.insert(*w.goodId);
        }
    }
}

bool RecordFolder::ReadPending(const std::string& path, const std::string& holder, std::vector<Waiting>& records) {
    std::vector<std::vector<std::string>> rows;
    size_t columns = 0;
    if (!ReadPendingFile(path, rows, columns)) return false;
    for (const std::vector<std::string>& f : rows) {
        if (f.size() < std::max(columns, size_t(column::kIdCode + 1)) || !IsResultWord(f[column::kResult]) ||
            f[column::kTime].size() < 10)
            continue;
        Waiting w;
        w.dayFile = f[column::kTime].substr(0, 10) + ".csv";
        std::optional<int32_t> day = DayOfFileName(w.dayFile);
        if (!day) continue;
        w.day = *day;
        w.line = CsvRecord(f);
        w.fields = f.size();
        if (f[column::kResult] == "good") w.goodId = IdCodeField(f[column::kIdCode]);
        w.holder = holder;
        records.push_back(std::move(w));
    }
    return true;
}

void RecordFolder::AdoptPending(const std::string& path, const std::string& holder, FileLock& gone) {
    std::vector<Waiting> records;
    if (!ReadPending(path, holder, records)) return;
    const size_t count = records.size();
    for (Waiting& w : records) {
        if (w.goodId) NoteGood(w.day, *w.goodId);
        queue_.push_back(std::move(w));
    }
    StoreQueue();
    if (queue_.empty() || KeepPending()) {
        gone.Close();
        RemoveFile(path);
        return;
    }
    // Neither stored nor kept by this run: they stay where they were, but for those stored.
    const size_t left = std::min(queue_.size(), count);
    queue_.erase(queue_.end() - std::ptrdiff_t(left), queue_.end());
    NotePendingStored(path, count - left);
}

IdGrant RecordFolder::TakeIdCode(uint32_t idCode, bool reuse) {
    std::lock_guard lock(mutex_);
    Session session(*this);
    // A good chip of this run whose record waits holds its code only for the
    // others: here it is on a good chip.
    // A live run's good record seen waiting at the start holds its code until it is stored.
    auto waiting = waitingElsewhere_.find(idCode);
    if (waiting != waitingElsewhere_.end() && GoodDay(idCode)) waitingElsewhere_.erase(waiting);
    if ((mine_.count(idCode) && !waitingGood_.count(idCode)) || others_.count(idCode) ||
        waitingElsewhere_.count(idCode))
        return {IdGrant::Answer::HeldElsewhere, {}, {}};
    if (!reuse)
        if (std::optional<int32_t> day = GoodDay(idCode)) return {IdGrant::Answer::OnGoodChip, DateText(*day), {}};
    HoldMine(idCode);
    return {};
}

void RecordFolder::GiveBackIdCode(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    // A good chip's code whose record waits stays held.
    if (!mine_.count(idCode) || waitingGood_.count(idCode)) return;
    Session session(*this);
    ReleaseMine(idCode);
}

std::optional<std::string> RecordFolder::IdCodeOnGoodChip(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    Session session(*this);
    std::optional<int32_t> day = GoodDay(idCode);
    return day ? std::optional<std::string>(DateText(*day)) : std::nullopt;
}

std::string RecordFolder::Location() {
    std::lock_guard lock(mutex_);
    return lastFile_.empty() ? folder_ : lastFile_;
}

}  // namespace veldrix
