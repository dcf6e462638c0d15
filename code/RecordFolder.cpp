#include "code/RecordFolder.h"

#include <algorithm>
#include <cstdio>

#include "code/Csv.h"
#include "code/Fields.h"
#include "seams/Files.h"
#include "seams/Platform.h"

namespace veldrix {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr size_t kScanPiece = 64 * 1024;

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

std::string DateText(int32_t days) {
    int year, month, day;
    CivilFromDays(days, year, month, day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
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

RecordFolder::LoadSummary RecordFolder::Load() {
    LoadSummary summary;
    std::vector<std::string> names;
    if (!ListFiles(folder_, names)) return summary;
    std::lock_guard lock(mutex_);
    std::vector<uint32_t> ids;
    for (const std::string& name : names) {
        std::optional<int32_t> day = DayOfFileName(name);
        if (!day) continue;
        ids.clear();
        CsvReader reader([&](const std::vector<std::string_view>& f) {
            if (f.size() != size_t(column::kCount) || !IsResultWord(f[column::kResult])) return true;
            ++summary.records;
            if (f[column::kResult] == "good")
                if (auto id = IdCodeField(f[column::kIdCode])) ids.push_back(*id);
            return true;
        });
        if (!ReadFilePieces(JoinPath(folder_, name), [&](std::string_view piece) { return reader.Feed(piece); }))
            continue;
        ++summary.files;
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        if (ids.empty()) continue;
        std::vector<uint32_t>& kept = idsByDay_[*day];
        if (kept.empty()) {
            kept.assign(ids.begin(), ids.end());  // exactly as large as it needs to be
        } else {
            for (uint32_t id : ids) NoteGood(*day, id);
        }
    }
    for (const auto& [day, kept] : idsByDay_) summary.goodIdCodes += kept.size();
    return summary;
}

void RecordFolder::NoteGood(int32_t day, uint32_t idCode) {
    std::vector<uint32_t>& kept = idsByDay_[day];
    auto at = std::lower_bound(kept.begin(), kept.end(), idCode);
    if (at == kept.end() || *at != idCode) kept.insert(at, idCode);
}

RecordKept RecordFolder::Append(const ProductionRecord& record) {
    std::lock_guard lock(mutex_);
    // The ID code is taken even when the file cannot be written: this run
    // must not hand it out again.
    if (record.result == RecordResult::Good && record.idCode) {
        NoteGood(int32_t(DaysFromCivil(record.time.year, record.time.month, record.time.day)), *record.idCode);
        held_.erase(*record.idCode);
    }

    lastFile_ = JoinPath(folder_, DayFileName(record.time));
    if (!MakeFolders(folder_)) return RecordKept::Lost;
    AppendFile file;
    if (!file.Open(lastFile_)) return RecordKept::Lost;
    std::string out;
    if (file.Size() == 0) {
        out = kByteOrderMark;
        out += kRecordHeader;
        out += "\r\n";
    } else if (!Mending(file, out)) {
        return RecordKept::Lost;
    }
    out += CsvRecord(RecordFields(record));
    return file.Append(out) ? RecordKept::Stored : RecordKept::Lost;
}

IdGrant RecordFolder::TakeIdCode(uint32_t idCode, bool reuse) {
    std::lock_guard lock(mutex_);
    if (held_.count(idCode)) return {IdGrant::Answer::HeldElsewhere, {}};
    if (!reuse)
        for (const auto& [day, kept] : idsByDay_)
            if (std::binary_search(kept.begin(), kept.end(), idCode)) return {IdGrant::Answer::OnGoodChip, DateText(day)};
    held_.insert(idCode);
    return {};
}

void RecordFolder::GiveBackIdCode(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    held_.erase(idCode);
}

std::optional<std::string> RecordFolder::IdCodeOnGoodChip(uint32_t idCode) {
    std::lock_guard lock(mutex_);
    for (const auto& [day, kept] : idsByDay_)
        if (std::binary_search(kept.begin(), kept.end(), idCode)) return DateText(day);
    return std::nullopt;
}

std::string RecordFolder::Location() {
    std::lock_guard lock(mutex_);
    return lastFile_.empty() ? folder_ : lastFile_;
}

}  // namespace veldrix
