#include "report/FolderSource.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

#include "code/Csv.h"
#include "records/RecordFolder.h"
#include "report/ReportTally.h"
#include "seams/Files.h"
#include "seams/Platform.h"

namespace veldrix {

namespace {

constexpr char kHeldName[] = "id-held.csv";
constexpr char kPendingPrefix[] = "pending-";
constexpr char kStoredMark[] = "#stored";
// The header names of the column a line's records carry their station in.
constexpr std::string_view kStationNames[] = {"station", "工位"};

bool IsDayFileName(const std::string& name) {
    if (name.size() != 14 || name.compare(10, 4, ".csv") != 0 || name[4] != '-' || name[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

// A pending file in the folder: one dot, before "csv" (records/RecordFolder.cpp).
bool IsPendingFileName(const std::string& name) {
    return name.rfind(kPendingPrefix, 0) == 0 && name.size() > 12 && name.compare(name.size() - 4, 4, ".csv") == 0 &&
           name.find('.') == name.size() - 4;
}

std::string_view Strip(std::string_view field) {
    // The header's first field follows the byte-order mark.
    if (field.substr(0, 3) == "\xEF\xBB\xBF") field.remove_prefix(3);
    return field;
}

// Reads one file of records: its header, then each record with as many
// columns as the header names (a torn line never counts). pending: the file
// says with "#stored,N" lines how many of its first records are in their
// day files already; only those after them count.
struct FileReader {
    const ReportPeriod& period;
    ReportTally& tally;
    SourceSummary& summary;

    bool Read(const std::string& path, bool pending) {
        std::string text;
        if (!ReadFileBytes(path, text)) return false;
        size_t need = 0;
        std::optional<size_t> station;
        bool header = true;
        std::vector<std::vector<std::string>> kept;  // pending: until the marks are all read
        size_t stored = 0;
        CsvReader reader([&](const std::vector<std::string_view>& f) {
            if (header) {
                header = false;
                need = std::max(f.size(), size_t(column::kCountWithoutKey));
                for (size_t i = 0; i < f.size(); ++i)
                    for (std::string_view name : kStationNames)
                        if (Strip(f[i]) == name) station = i;
                if (station) summary.hasStation = true;
                return true;
            }
            if (pending && f.size() >= 2 && f[0] == kStoredMark) {
                stored = std::max<size_t>(stored, size_t(std::strtoull(std::string(f[1]).c_str(), nullptr, 10)));
                return true;
            }
            if (f.size() < need) {
                ++summary.skipped;
                return true;
            }
            if (pending) {
                kept.emplace_back(f.begin(), f.end());
                return true;
            }
            if (period.Holds(f[column::kTime].substr(0, 10))) Take(f, station);
            return true;
        });
        reader.Feed(text);
        if (reader.Pending()) ++summary.skipped;
        for (size_t i = std::min(stored, kept.size()); i < kept.size(); ++i) {
            std::vector<std::string_view> f(kept[i].begin(), kept[i].end());
            if (period.Holds(f[column::kTime].substr(0, 10)) && Take(f, station)) ++summary.pendingRecords;
        }
        return true;
    }

    bool Take(const std::vector<std::string_view>& f, std::optional<size_t> station) {
        ReportRow row;
        row.time = f[column::kTime];
        row.result = f[column::kResult];
        row.status = f[column::kStatus];
        row.chip = f[column::kChip];
        row.codeFile = f[column::kCodeFile];
        row.checksum = f[column::kChecksum];
        row.idCode = f[column::kIdCode];
        row.duration = f[column::kDuration];
        row.port = f[column::kPort];
        if (f.size() > size_t(column::kKind)) row.kind = f[column::kKind];
        if (station) row.station = f[*station];
        if (tally.Add(row)) return true;
        ++summary.skipped;
        return false;
    }
};

}  // namespace

bool FolderSource::Read(const ReportPeriod& period, ReportTally& tally, SourceSummary& summary) {
    std::vector<FileEntry> entries;
    if (!ListFileSizes(folder_, entries)) return false;
    std::vector<FileEntry> days;
    std::vector<std::string> pending;
    for (const FileEntry& e : entries) {
        if (IsDayFileName(e.name) && period.Holds(std::string_view(e.name).substr(0, 10)))
            days.push_back(e);
        else if (IsPendingFileName(e.name))
            pending.push_back(e.name);
    }
    // Biggest first, each to the reader with the fewest bytes so far: the threads end together.
    std::sort(days.begin(), days.end(), [](const FileEntry& a, const FileEntry& b) { return a.size > b.size; });
    const size_t threads = std::max<size_t>(1, std::min<size_t>(threads_, days.size()));
    std::vector<std::vector<std::string>> shares(threads);
    std::vector<uint64_t> bytes(threads);
    for (const FileEntry& e : days) {
        size_t least = size_t(std::min_element(bytes.begin(), bytes.end()) - bytes.begin());
        shares[least].push_back(e.name);
        bytes[least] += e.size;
    }
    std::vector<ReportTally> tallies(threads);
    std::vector<SourceSummary> summaries(threads);
    auto part = [&](size_t i) {
        FileReader reader{period, tallies[i], summaries[i]};
        for (const std::string& name : shares[i])
            if (reader.Read(JoinPath(folder_, name), false)) ++summaries[i].files;
    };
    std::vector<std::thread> workers;
    for (size_t i = 1; i < threads; ++i) workers.emplace_back(part, i);
    part(0);
    for (std::thread& t : workers) t.join();
    for (size_t i = 0; i < threads; ++i) {
        tally.Merge(std::move(tallies[i]));
        summary.files += summaries[i].files;
        summary.skipped += summaries[i].skipped;
        summary.hasStation = summary.hasStation || summaries[i].hasStation;
    }
    // Records that wait for their day file count too: they are chips made.
    std::sort(pending.begin(), pending.end());
    FileReader reader{period, tally, summary};
    for (const std::string& name : pending)
        if (reader.Read(JoinPath(folder_, name), true)) ++summary.pendingFiles;
    return true;
}

std::vector<HeldCode> FolderSource::Held() {
    std::string text;
    std::map<uint32_t, HeldCode> held;
    if (!ReadFileBytes(JoinPath(folder_, kHeldName), text)) return {};
    // The file only grows between rewrites: the last line about a code tells.
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        if (f.size() < 4 || f[0].empty() || f[0].size() > 8 ||
            f[0].find_first_not_of("0123456789") != std::string_view::npos)
            return true;
        uint32_t code = uint32_t(std::strtoul(std::string(f[0]).c_str(), nullptr, 10));
        auto at = held.find(code);
        if (f[3] == "held")
            held[code] = {code, std::string(f[1]), std::string(f[2])};
        else if (f[3] == "free" && at != held.end() && at->second.holder == f[1])
            held.erase(at);
        return true;
    });
    reader.Feed(text);
    std::vector<HeldCode> out;
    for (auto& [code, h] : held) out.push_back(std::move(h));
    return out;
}

}  // namespace veldrix
