#include "records/Record.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "code/Fields.h"
#include "seams/Files.h"
#include "seams/Platform.h"

namespace veldrix {

namespace {

std::string HexField(uint32_t value) { return Hex(value, 4) + "H"; }

}  // namespace

const char* const kRecordHeader =
    "时间,结果,状态,芯片型号,代码文件,检查和,起始地址,终止地址,ID码,ID码地址,成功计数,失败计数,耗时(毫秒),端口,"
    "记录号,类别";

const char* ResultWord(RecordResult result) {
    switch (result) {
    case RecordResult::Good: return "good";
    case RecordResult::Bad: return "bad";
    case RecordResult::Stopped: return "stopped";
    case RecordResult::Link: return "link";
    }
    return "";
}

bool IsResultWord(std::string_view word) {
    return word == "good" || word == "bad" || word == "stopped" || word == "link";
}

const char* KindWord(RecordKind kind) { return kind == RecordKind::OfflineFile ? "offline-file" : "chip"; }

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

std::optional<int32_t> DayOfFileName(const std::string& name) {
    if (name.size() != 14 || name.compare(10, 4, ".csv") != 0 || name[4] != '-' || name[7] != '-') return std::nullopt;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (name[size_t(i)] < '0' || name[size_t(i)] > '9') return std::nullopt;
    int year = std::stoi(name.substr(0, 4)), month = std::stoi(name.substr(5, 2)), day = std::stoi(name.substr(8, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
    return int32_t(DaysFromCivil(year, month, day));
}

std::vector<std::string> RecordFields(const ProductionRecord& r, const std::string& key) {
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
            r.port,
            key,
            KindWord(r.kind)};
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

std::string RecordKey(const std::string& run, uint64_t number) {
    char serial[24];
    std::snprintf(serial, sizeof serial, "%010llu", static_cast<unsigned long long>(number));
    return run + "-" + serial;
}

bool SplitRecordKey(std::string_view key, std::string& run, uint64_t& number) {
    size_t dash = key.rfind('-');
    if (dash == std::string_view::npos || dash == 0 || dash + 1 == key.size() || key.size() - dash > 20) return false;
    number = 0;
    for (char c : key.substr(dash + 1)) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + uint64_t(c - '0');
    }
    run = std::string(key.substr(0, dash));
    return true;
}

std::string NewRunName() {
    const int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::mt19937_64 random((uint64_t(std::random_device{}()) << 32) ^ std::random_device{}() ^ uint64_t(ms));
    LocalTime now = LocalTimeAt(ms, 0);
    char name[48];
    std::snprintf(name, sizeof name, "-%04d%02d%02d%02d%02d%02d-%06llx", now.year, now.month, now.day, now.hour,
                  now.minute, now.second, static_cast<unsigned long long>(random() & 0xFFFFFF));
    return ProcessName() + name;
}

}  // namespace veldrix
