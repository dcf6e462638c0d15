#include "records/RecordFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <thread>

#include "code/Csv.h"
#include "code/Fields.h"
#include "records/PendingFile.h"
#include "records/Record.h"
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

RecordFolder::RecordFolder(std::string folder, std::string fallbackFolder, Clock* clock)
    : folder_(std::move(folder)),
      fallback_(fallbackFolder == folder_ ? std::string() : std::move(fallbackFolder)),
      lockPath_(JoinPath(folder_, kLockName)),
      heldPath_(JoinPath(folder_, kHeldName)),
      clock_(clock),
      run_(NewRunName()),
      random_((uint64_t(std::random_device{}()) << 32) ^ std::random_device{}() ^ uint64_t(UnixMsNow())) {
    fallbackSuffix_ = "." + Hex64(FolderKey(folder_)) + ".csv";
    engine_ = std::make_unique<RecordEngine>(static_cast<RecordBackEnd&>(*this), kRecordHeader, run_,
                                             std::vector<std::pair<std::string, std::string>>{
                                                 {folder_, ".csv"}, {fallback_, fallbackSuffix_}});
}

RecordFolder::~RecordFolder() {
    std::lock_guard lock(mutex_);
    if (!engine_->Empty()) {
        Session session(*this);
        StoreQueue();
        engine_->Keep();
    }
    // What is left waits in the pending file, unlocked, for the next start.
    engine_.reset();
}

bool RecordFolder::TakeLock() {
    using Steady = std::chrono::steady_clock;
    const auto begun = Steady::now();
    const uint64_t begunMs = clock_ ? clock_->NowMs() : 0;
    bool made = false;
    for (;;) {
        switch (folderLock_.Attempt(lockPath_)) {
        case FileLock::Try::Taken: problem_.clear(); return true;
        case FileLock::Try::Failed:
            // The lock file is kept open: the folder is made only when it cannot be.
            if (!made && MakeFolders(folder_)) {
                made = true;
                continue;
            }
            problem_ = FileWriteProblem(lockPath_);
            if (problem_.empty()) problem_ = "无法打开 " + std::string(kLockName);
            return false;
        case FileLock::Try::Busy: break;
        }
        uint64_t waited = clock_ ? clock_->NowMs() - begunMs
                                 : uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - begun)
                                                .count());
        if (waited >= kFolderLockWaitMs) {
            problem_ = std::string(kLockName) + " 已被其它程序锁定超过" + std::to_string(kFolderLockWaitMs / 1000) + "秒";
            return false;
        }
        // Short: a holder lets go within a millisecond or so.
        if (clock_)
            clock_->Sleep(1);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool RecordFolder::BeginSession() {
    changed_.clear();
    locked_ = TakeLock();
    blind_ = locked_ && !CatchUp();
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
        // Not written, the others catch up from the folder's listing.
        if (!folderLock_.WriteHead(HeadText(seen_.epoch, seen_.seq, seen_.changes))) seenValid_ = false;
        changed_.clear();
    }
    folderLock_.Unlock();
    locked_ = false;
}

bool RecordFolder::CatchUp() {
    std::string text;
    Seen head;
    if (!folderLock_.ReadHead(kHeadSize, text) || !ParseHead(text, head.epoch, head.seq, head.changes)) head = Seen{};
    if (seenValid_ && !heldStale_ && head.epoch == seen_.epoch && head.seq == seen_.seq) return true;
    // The changes since this store last looked are all still listed: read only those files.
    bool listed = seenValid_ && !heldStale_ && !head.epoch.empty() && head.epoch == seen_.epoch &&
                  head.seq > seen_.seq && !head.changes.empty() && head.changes.front().first <= seen_.seq + 1;
    bool whole = true;
    if (listed) {
        std::set<std::string> names;
        for (const auto& [n, name] : head.changes)
            if (n > seen_.seq) names.insert(name);
        for (const std::string& name : names) {
            if (name == kHeldName) {
                whole = ReadHeld() && whole;
            } else if (std::optional<int32_t> day = DayOfFileName(name)) {
                whole = ReadDay(name, *day, nullptr) && whole;
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
                if (file.size > known.offset || known.columns == 0)
                    whole = ReadDay(file.name, *day, nullptr) && whole;
            }
        } else {
            whole = false;
        }
        whole = ReadHeld() && whole;
    }
    // Nothing is marked seen that was not read whole: the next session reads it again.
    if (!whole) return false;
    seen_ = std::move(head);
    seenValid_ = true;
    return true;
}

// Reads a day file from where this store left it, up to its last whole
// record. A record counts with at least as many fields as the file's header
// names: what a power cut tore off never counts, even once the next record
// mended its end (a keyed record's last field names its kind). A later
// version's extra columns are read past.
bool RecordFolder::ReadDay(const std::string& name, int32_t day, size_t* records) {
    DayFile known = days_[name];
    const uint64_t from = known.offset;
    bool header = from == 0;
    size_t need = std::max(known.columns, size_t(column::kIdCode + 1));
    std::vector<uint32_t> ids;
    std::vector<std::pair<std::string, uint64_t>> keys;
    size_t count = 0;
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        if (header) {
            header = false;
            known.columns = f.size();
            need = std::max(known.columns, size_t(column::kIdCode + 1));
        }
        if (f.size() < need || !IsResultWord(f[column::kResult])) return true;
        if (known.columns > size_t(column::kKind)) {
            if (f[column::kKind] != "chip" && f[column::kKind] != "offline-file") return true;
            std::string run;
            uint64_t number;
            if (SplitRecordKey(f[column::kKey], run, number)) keys.emplace_back(std::move(run), number);
        }
        ++count;
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
    // A read that failed part way counts nothing: it is read again from where it was.
    if (!read) return false;
    known.offset = from + fed - reader.Waiting();
    days_[name] = known;
    if (records) *records += count;
    for (auto& [run, number] : keys) {
        uint64_t& upTo = storedUpTo_[run];
        upTo = std::max(upTo, number);
    }
    if (!ids.empty()) MergeGood(day, ids);
    return true;
}

bool RecordFolder::ReadHeld() {
    std::string text;
    // Unreadable now: no code is handed out until it is read, and it is not written anew from what it last said.
    if (!ReadFileBytes(heldPath_, text)) {
        // None there yet holds nothing; any other failure is no reading at all.
        std::vector<std::string> names;
        heldStale_ = !ListFiles(folder_, names) || std::find(names.begin(), names.end(), kHeldName) != names.end() ||
                     !FileWriteProblem(heldPath_).empty();
        if (heldStale_) return false;
        text.clear();
    } else {
        heldStale_ = false;
    }
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
    return true;
}

bool RecordFolder::WriteHeld() {
    if (heldLines_.empty() && !heldAgain_) return true;
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
        const bool fresh = file.Size() == 0;
        if (file.Append(out + lines, heldTaken_ || heldAgain_)) {
            if (fresh) heldStale_ = false;  // all in it is this run's
            heldLines_.clear();
            heldTaken_ = heldAgain_ = false;
            changed_.push_back(kHeldName);
            return true;
        }
        // Part of it may be there all the same: others are told to look.
        changed_.push_back(kHeldName);
    }
    file.Close();
    heldAgain_ = true;
    if (heldStale_) return false;
    std::map<uint32_t, Holding> all = others_;
    for (const auto& [code, time] : mine_) all[code] = {run_, time};
    std::string text = header;
    for (const auto& [code, hold] : all) text += CsvRecord({std::to_string(code), hold.holder, hold.time, "held"});
    if (!WriteFileReplacing(heldPath_, text)) return false;
    heldLines_.clear();
    heldTaken_ = heldAgain_ = false;
    changed_.push_back(kHeldName);
    return true;
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

bool RecordFolder::KeyStored(const std::string& key) const {
    std::string run;
    uint64_t number;
    if (!SplitRecordKey(key, run, number)) return false;
    auto at = storedUpTo_.find(run);
    return at != storedUpTo_.end() && at->second >= number;
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
    if (TakeLock()) {
        std::string text;
        if (!folderLock_.ReadHead(kHeadSize, text) || !ParseHead(text, start.epoch, start.seq, start.changes))
            start = Seen{};
        started = true;
        folderLock_.Unlock();
    }
    std::vector<std::string> names;
    bool whole = ListFiles(folder_, names);
    if (whole) {
        for (const std::string& name : names) {
            std::optional<int32_t> day = DayOfFileName(name);
            if (!day) continue;
            days_[name] = DayFile{};
            if (ReadDay(name, *day, &summary.records))
                ++summary.files;
            else
                whole = false;
        }
    }
    seen_ = std::move(start);
    // A file that could not be read is read at the next session.
    seenValid_ = started && whole;
    {
        Session session(*this);
        if (locked_ && !blind_) ReadHeld();  // the codes held before the start are in no change listed since
        AdoptGoneRuns();
        StoreQueue();
        engine_->Keep();
    }
    for (const auto& [day, kept] : idsByDay_) summary.goodIdCodes += kept.size();
    return summary;
}

RecordKept RecordFolder::Append(const ProductionRecord& record) {
    std::lock_guard lock(mutex_);
    const QueuedRecord& q = engine_->Add(record);
    // The code is on a good chip from now on, also while its record waits.
    if (q.goodId) NoteGood(q.day, *q.goodId);
    lastFile_ = JoinPath(folder_, q.dayFile);
    Session session(*this);
    StoreQueue();
    return engine_->Keep();
}

RecordKept RecordFolder::FlushPending() {
    std::lock_guard lock(mutex_);
    if (engine_->Empty()) return RecordKept::Stored;
    Session session(*this);
    StoreQueue();
    return engine_->Keep();
}

void RecordFolder::StoreQueue() {
    if (!locked_) return;
    engine_->Store();
    // Codes of good chips whose records wait stay held for others to see.
    for (const QueuedRecord& q : engine_->Queue())
        if (q.goodId && q.holder == run_) HoldMine(*q.goodId);
}

// A good record releases the hold on its code.
void RecordFolder::Confirmed(const QueuedRecord& q) {
    if (!q.goodId) return;
    if (q.holder == run_) {
        if (!engine_->WaitingGood(*q.goodId)) ReleaseMine(*q.goodId);
        return;
    }
    auto held = others_.find(*q.goodId);
    if (held != others_.end() && held->second.holder == q.holder) {
        others_.erase(held);
        NoteHeld(*q.goodId, q.holder, NowText(), false);
    }
}

RecordBackEnd::Put RecordFolder::StoreOne(const QueuedRecord& q) {
    if (!locked_) return Put::Failed;
    AppendFile file;
    if (!file.Open(JoinPath(folder_, q.dayFile))) return Put::Failed;
    const uint64_t before = file.Size();
    // What others (or a write of this store that seemed to fail) put there
    // since it was last read may hold this very record.
    if (days_[q.dayFile].offset < before && !ReadDay(q.dayFile, q.day, nullptr)) return Put::Failed;
    if (!q.Key().empty() && KeyStored(q.Key())) return Put::Already;
    DayFile& known = days_[q.dayFile];
    std::string out;
    size_t columns = column::kCount;
    if (before == 0) {
        out = kByteOrderMark;
        out += kRecordHeader;
        out += "\r\n";
    } else {
        if (!Mending(file, out)) return Put::Failed;
        columns = known.columns ? known.columns : HeaderColumns(file);
    }
    out += q.line;
    // A later version's file: its extra columns stay empty, so the record counts there.
    if (columns > q.fields.size()) out.insert(out.size() - 2, columns - q.fields.size(), ',');
    if (!file.Append(out)) {
        changed_.push_back(q.dayFile);
        return Put::Failed;
    }
    if (q.goodId) NoteGood(q.day, *q.goodId);
    // Read up to here already: no need to read it back.
    if (before == 0) {
        known = {file.Size(), size_t(column::kCount)};
    } else if (known.offset == before && known.columns) {
        known.offset = file.Size();
    }
    std::string run;
    uint64_t number;
    if (known.columns > size_t(column::kKind) && SplitRecordKey(q.Key(), run, number)) {
        uint64_t& upTo = storedUpTo_[run];
        upTo = std::max(upTo, number);
    }
    changed_.push_back(q.dayFile);
    return Put::Stored;
}

// The pending files of runs that are gone, in the folder and in the
// fallback folder: their records are stored or taken over. Those of runs
// still alive tell which codes their good chips carry.
void RecordFolder::AdoptGoneRuns() {
    if (!locked_ || blind_) return;  // another start might take the same file at once
    engine_->AdoptGoneRuns(folder_, ".csv");
    engine_->AdoptGoneRuns(fallback_, fallbackSuffix_);
}

std::optional<std::string> RecordFolder::Problem() {
    if (!locked_) return problem_;
    if (blind_) return "无法读取其它工位写入的记录 (" + folder_ + ")";
    return std::nullopt;
}

IdGrant RecordFolder::TakeIdCode(uint32_t idCode, bool reuse) {
    std::lock_guard lock(mutex_);
    Session session(*this);
    if (std::optional<std::string> problem = Problem()) return {IdGrant::Answer::Unreachable, {}, *problem};
    // A live run's good record seen waiting at the start holds its code until it is stored.
    auto waiting = waitingElsewhere_.find(idCode);
    if (waiting != waitingElsewhere_.end() && GoodDay(idCode)) waitingElsewhere_.erase(waiting);
    // A good chip of this run whose record waits holds its code only for the
    // others: here it is on a good chip.
    if ((mine_.count(idCode) && !engine_->WaitingGood(idCode)) || others_.count(idCode) ||
        waitingElsewhere_.count(idCode))
        return {IdGrant::Answer::HeldElsewhere, {}, {}};
    if (!reuse)
        if (std::optional<int32_t> day = GoodDay(idCode)) return {IdGrant::Answer::OnGoodChip, DateText(*day), {}};
    const bool held = mine_.count(idCode) != 0;
    HoldMine(idCode);
    // Granted only once the hold is on the disk.
    if (!WriteHeld()) {
        if (!held) ReleaseMine(idCode);  // said free should part of it have reached the file
        std::string problem = FileWriteProblem(heldPath_);
        return {IdGrant::Answer::Unreachable, {}, problem.empty() ? "无法写入 " + std::string(kHeldName) : problem};
    }
    return {};
}

void RecordFolder::GiveBackIdCode(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    // A good chip's code whose record waits stays held.
    if (!mine_.count(idCode) || engine_->WaitingGood(idCode)) return;
    Session session(*this);
    ReleaseMine(idCode);
}

std::optional<std::string> RecordFolder::IdCodeOnGoodChip(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    Session session(*this);
    std::optional<int32_t> day = GoodDay(idCode);
    return day ? std::optional<std::string>(DateText(*day)) : std::nullopt;
}

std::optional<std::string> RecordFolder::IdServerProblem() {
    std::lock_guard lock(mutex_);
    Session session(*this);
    return Problem();
}

std::string RecordFolder::Location() {
    std::lock_guard lock(mutex_);
    return lastFile_.empty() ? folder_ : lastFile_;
}

}  // namespace veldrix
