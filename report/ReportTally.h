#pragma once
// Adds records up into the figures of a report. One tally a thread: two
// tallies merge.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "report/ReportFigures.h"
#include "report/RecordSource.h"

namespace veldrix {

// "芯片不空, 在地址: 00000" -> "芯片不空, 在地址: …": an address at the end
// of a status text makes no kind of its own.
std::string FailureText(std::string_view status);

class ReportTally {
public:
    // False when the row is no record (a result word unknown, a time too short).
    bool Add(const ReportRow& row);
    void Merge(ReportTally&& other);
    // The figures, with the held codes the source named.
    ReportFigures Figures(const ReportPeriod& period, const SourceSummary& source, std::vector<HeldCode> held) &&;

private:
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    template <typename T>
    using Map = std::unordered_map<std::string, T, Hash, std::equal_to<>>;
    // A map that keeps the entry of the last key: records come in runs of one port, chip, file.
    template <typename T>
    struct Runs {
        Map<T> map;
        std::string last;
        T* at = nullptr;
        T& operator[](std::string_view key) {
            if (at && key == last) return *at;
            auto found = map.find(key);
            if (found == map.end()) found = map.emplace(std::string(key), T{}).first;
            last.assign(key);
            return *(at = &found->second);
        }
        void Merge(Runs&& other);
    };
    struct Chip {
        ResultCounts counts;
        std::vector<uint32_t> durations;
    };

    // Keys: date as yyyymmdd, hour as yyyymmddhh.
    std::unordered_map<uint32_t, ResultCounts> days_, hours_;
    uint32_t lastHour_ = 0;
    ResultCounts* hour_ = nullptr;
    ResultCounts* day_ = nullptr;
    ResultCounts total_;
    ResultCounts offlineFiles_;  // counted apart: no chip
    Runs<ResultCounts> ports_, stations_, codeFiles_;  // code files: name, unit separator, checksum
    Runs<Chip> chips_;
    Map<uint64_t> failures_;  // result, unit separator, text
    std::vector<uint32_t> ids_;
};

}  // namespace veldrix
