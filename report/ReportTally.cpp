#include "report/ReportTally.h"

#include <algorithm>
#include <cstdio>

namespace veldrix {

namespace {

constexpr char kSeparator = '\x1f';

bool Digits(std::string_view text, uint64_t& value, size_t most) {
    if (text.empty() || text.size() > most) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + uint64_t(c - '0');
    }
    return true;
}

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// yyyymmddhh of "2025-03-03T08...", or 0.
uint32_t HourKey(std::string_view time) {
    if (time.size() < 13 || time[4] != '-' || time[7] != '-' || (time[10] != 'T' && time[10] != ' ')) return 0;
    uint32_t key = 0;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11, 12}) {
        char c = time[i];
        if (c < '0' || c > '9') return 0;
        key = key * 10 + uint32_t(c - '0');
    }
    return key;
}

std::string DateName(uint32_t day) {
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", day / 10000, day / 100 % 100, day % 100);
    return text;
}

std::string HourName(uint32_t hour) {
    char text[8];
    std::snprintf(text, sizeof text, " %02u:00", hour % 100);
    return DateName(hour / 100) + text;
}

void Count(ResultCounts& counts, char result) {
    switch (result) {
    case 'g': ++counts.good; break;
    case 'b': ++counts.bad; break;
    case 'l': ++counts.link; break;
    default: ++counts.stopped; break;
    }
}

// The one letter that tells the result words apart; 0 for none of them.
char ResultLetter(std::string_view result) {
    if (result == "good") return 'g';
    if (result == "bad") return 'b';
    if (result == "link") return 'l';
    if (result == "stopped") return 's';
    return 0;
}

template <typename Key>
std::vector<std::pair<Key, ResultCounts>> Sorted(const std::unordered_map<Key, ResultCounts>& map) {
    std::vector<std::pair<Key, ResultCounts>> rows(map.begin(), map.end());
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return rows;
}

// Most records first, then by name.
void ByRecords(std::vector<ReportGroup>& groups) {
    std::sort(groups.begin(), groups.end(), [](const ReportGroup& a, const ReportGroup& b) {
        if (a.counts.Records() != b.counts.Records()) return a.counts.Records() > b.counts.Records();
        return a.name != b.name ? a.name < b.name : a.checksum < b.checksum;
    });
}

// The value at the nearest rank of fraction p (0..1] of the values.
uint64_t Rank(std::vector<uint32_t>& values, double p) {
    size_t rank = size_t(double(values.size()) * p + 0.999999);
    size_t at = std::min(values.size(), std::max<size_t>(rank, 1)) - 1;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(at), values.end());
    return values[at];
}

}  // namespace

std::string FailureText(std::string_view status) {
    size_t mark = status.rfind("地址");
    if (mark == std::string_view::npos) return std::string(status);
    size_t at = mark + std::string_view("地址").size();
    for (;;) {
        if (at < status.size() && (status[at] == ':' || status[at] == ' ')) {
            ++at;
        } else if (status.substr(at, 3) == "：") {
            at += 3;
        } else {
            break;
        }
    }
    size_t digits = at;
    while (at < status.size() && IsHexDigit(status[at])) ++at;
    if (at == digits) return std::string(status);
    if (at < status.size() && status[at] == 'H') ++at;
    while (at < status.size() && status[at] == ' ') ++at;
    if (at != status.size()) return std::string(status);
    return std::string(status.substr(0, digits)) + "…";
}

bool ReportTally::Add(const ReportRow& row) {
    const char result = ResultLetter(row.result);
    const uint32_t hourKey = HourKey(row.time);
    if (!result || !hourKey) return false;
    // An offline file is no chip: neither its result nor its time (the operator's dialogs in it) counts as one.
    if (row.kind == "offline-file") {
        Count(offlineFiles_, result);
        return true;
    }
    Count(total_, result);
    if (!hour_ || hourKey != lastHour_) {
        hour_ = &hours_[hourKey];
        day_ = &days_[hourKey / 100];
        lastHour_ = hourKey;
    }
    Count(*hour_, result);
    Count(*day_, result);
    Count(ports_[row.port], result);
    if (!row.station.empty()) Count(stations_[row.station], result);
    {
        // The name and the checksum as one key, without a string made for each record.
        thread_local std::string key;
        key.assign(row.codeFile);
        key += kSeparator;
        key.append(row.checksum);
        Count(codeFiles_[key], result);
    }
    Chip& chip = chips_[row.chip];
    Count(chip.counts, result);
    uint64_t value = 0;
    if ((result == 'g' || result == 'b') && Digits(row.duration, value, 9)) chip.durations.push_back(uint32_t(value));
    if (result == 'g') {
        if (Digits(row.idCode, value, 8)) ids_.push_back(uint32_t(value));
    } else {
        std::string key = std::string(row.result) + kSeparator + FailureText(row.status);
        auto found = failures_.find(key);
        if (found == failures_.end()) found = failures_.emplace(std::move(key), 0).first;
        ++found->second;
    }
    return true;
}

template <typename T>
void ReportTally::Runs<T>::Merge(Runs&& other) {
    at = nullptr;
    for (auto& [key, value] : other.map) {
        auto found = map.find(key);
        if (found == map.end()) {
            map.emplace(key, std::move(value));
        } else if constexpr (std::is_same_v<T, Chip>) {
            found->second.counts.Add(value.counts);
            found->second.durations.insert(found->second.durations.end(), value.durations.begin(),
                                           value.durations.end());
        } else {
            found->second.Add(value);
        }
    }
}

void ReportTally::Merge(ReportTally&& other) {
    total_.Add(other.total_);
    offlineFiles_.Add(other.offlineFiles_);
    for (const auto& [key, counts] : other.days_) days_[key].Add(counts);
    for (const auto& [key, counts] : other.hours_) hours_[key].Add(counts);
    ports_.Merge(std::move(other.ports_));
    stations_.Merge(std::move(other.stations_));
    codeFiles_.Merge(std::move(other.codeFiles_));
    chips_.Merge(std::move(other.chips_));
    for (const auto& [key, count] : other.failures_) failures_[key] += count;
    ids_.insert(ids_.end(), other.ids_.begin(), other.ids_.end());
}

ReportFigures ReportTally::Figures(const ReportPeriod& period, const SourceSummary& source,
                                   std::vector<HeldCode> held) && {
    ReportFigures f;
    f.period = period;
    f.source = source;
    f.total = total_;
    f.offlineFiles = offlineFiles_;
    for (const auto& [day, counts] : Sorted(days_)) f.days.push_back({DateName(day), "", counts});
    for (const auto& [hour, counts] : Sorted(hours_)) {
        f.hours.push_back({HourName(hour), "", counts});
        if (counts.Counted()) ++f.activeHours;
        if (counts.Counted() > f.busiestHour.counts.Counted()) f.busiestHour = f.hours.back();
    }
    if (!f.days.empty()) {
        f.firstDate = f.days.front().name;
        f.lastDate = f.days.back().name;
    }
    f.chipsPerHour = f.activeHours ? double(total_.Counted()) / double(f.activeHours) : 0.0;
    for (const auto& [name, counts] : ports_.map) f.ports.push_back({name, "", counts});
    for (const auto& [name, counts] : stations_.map) f.stations.push_back({name, "", counts});
    for (const auto& [key, counts] : codeFiles_.map) {
        size_t cut = key.find(kSeparator);
        f.codeFiles.push_back({key.substr(0, cut), key.substr(cut + 1), counts});
    }
    for (auto& [name, chip] : chips_.map) {
        f.chips.push_back({name, "", chip.counts});
        if (chip.durations.empty()) continue;
        CycleTime cycle{name, chip.durations.size()};
        cycle.medianMs = Rank(chip.durations, 0.5);
        cycle.p95Ms = Rank(chip.durations, 0.95);
        f.cycles.push_back(cycle);
    }
    for (auto* groups : {&f.ports, &f.stations, &f.codeFiles, &f.chips}) ByRecords(*groups);
    std::sort(f.cycles.begin(), f.cycles.end(), [](const CycleTime& a, const CycleTime& b) {
        return a.chips != b.chips ? a.chips > b.chips : a.chip < b.chip;
    });
    for (const auto& [key, count] : failures_) {
        size_t cut = key.find(kSeparator);
        f.failures.push_back({key.substr(0, cut), key.substr(cut + 1), count});
    }
    std::sort(f.failures.begin(), f.failures.end(), [](const FailureKind& a, const FailureKind& b) {
        if (a.count != b.count) return a.count > b.count;
        return a.result != b.result ? a.result < b.result : a.text < b.text;
    });

    std::sort(ids_.begin(), ids_.end());
    const size_t all = ids_.size();
    ids_.erase(std::unique(ids_.begin(), ids_.end()), ids_.end());
    f.idCodes = ids_.size();
    f.idRepeats = all - ids_.size();
    for (size_t i = 0; i < ids_.size();) {
        size_t j = i;
        while (j + 1 < ids_.size() && ids_[j + 1] == ids_[j] + 1) ++j;
        if (!f.idRanges.empty()) f.idGaps.push_back({f.idRanges.back().last + 1, ids_[i] - 1});
        f.idRanges.push_back({ids_[i], ids_[j]});
        i = j + 1;
    }
    // A code held and on a good chip too was confirmed while the hold was being written.
    for (HeldCode& h : held)
        if (!std::binary_search(ids_.begin(), ids_.end(), h.code)) f.held.push_back(std::move(h));
    std::sort(f.held.begin(), f.held.end(), [](const HeldCode& a, const HeldCode& b) { return a.code < b.code; });
    return f;
}

}  // namespace veldrix
