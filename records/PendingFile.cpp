#include "records/PendingFile.h"

#include <algorithm>
#include <cstdlib>

#include "code/Csv.h"
#include "seams/Platform.h"

namespace veldrix {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kPendingPrefix[] = "pending-";
// A pending file's line saying how many of its records are stored by now.
constexpr char kStoredMark[] = "#stored";

std::string StoredMark(size_t count) { return std::string(kStoredMark) + "," + std::to_string(count) + "\r\n"; }

}  // namespace

bool PendingFile::Keep(size_t count, const std::function<const std::string&(size_t)>& line,
                       const std::vector<std::pair<std::string, std::string>>& places) {
    if (count == 0) return true;
    if (!path_.empty()) {
        std::string text;
        for (size_t i = inFile_; i < count; ++i) text += line(i);
        if (text.empty() || file_.Append(text)) {
            inFile_ = count;
            return true;
        }
        Drop(false);
    }
    for (const auto& [folder, suffix] : places)
        if (!folder.empty() && Create(folder, suffix, count, line)) return true;
    return false;
}

bool PendingFile::Create(const std::string& folder, const std::string& suffix, size_t count,
                         const std::function<const std::string&(size_t)>& line) {
    if (!MakeFolders(folder)) return false;
    std::string path = JoinPath(folder, kPendingPrefix + run_ + "-" + std::to_string(++serial_) + suffix);
    // Locked before anything is in it: no other start takes it for a gone run's.
    if (!lock_.TryLock(path)) return false;
    std::string text = kByteOrderMark + header_ + "\r\n";
    for (size_t i = 0; i < count; ++i) text += line(i);
    if (!file_.Open(path) || file_.Size() != 0 || !file_.Append(text)) {
        bool ours = file_.Size() == 0;
        file_.Close();
        lock_.Close();
        if (ours) RemoveFile(path);
        return false;
    }
    path_ = path;
    inFile_ = count;
    stored_ = 0;
    return true;
}

void PendingFile::Stored(size_t stored, size_t left) {
    if (path_.empty()) return;
    size_t fromFile = std::min(stored, inFile_);
    inFile_ -= fromFile;
    stored_ += fromFile;
    if (left == 0)
        Drop(true);
    else if (fromFile && !file_.Append(StoredMark(stored_)))
        Drop(false);  // made anew with what is left
}

void PendingFile::Drop(bool noneLeft) {
    if (path_.empty()) return;
    // Should it stay (someone holds it open), it says that nothing in it waits.
    if (noneLeft) file_.Append(StoredMark(stored_ + inFile_));
    file_.Close();
    lock_.Close();
    RemoveFile(path_);
    path_.clear();
    inFile_ = stored_ = 0;
}

void PendingFile::Leave() {
    file_.Close();
    lock_.Close();
}

std::vector<PendingFound> PendingFilesIn(const std::string& folder, const std::string& suffix) {
    std::vector<PendingFound> found;
    std::vector<std::string> names;
    if (folder.empty() || !ListFiles(folder, names)) return found;
    std::sort(names.begin(), names.end());
    const std::string prefix = kPendingPrefix;
    // A run's name has no dot: the only one is the suffix's first.
    const size_t dot = suffix.find('.');
    for (const std::string& name : names) {
        if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
            name.find('.') != name.size() - suffix.size() + dot)
            continue;
        // "<run>-<serial>"; not a copy someone made, which would store its records twice.
        std::string run = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (run.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") !=
            std::string::npos)
            continue;
        found.push_back({JoinPath(folder, name), run.substr(0, run.rfind('-'))});
    }
    return found;
}

bool ReadPendingFile(const std::string& path, std::vector<std::vector<std::string>>& records, size_t& columns) {
    records.clear();
    columns = 0;
    std::string text;
    if (!ReadFileBytes(path, text) || text.empty()) return false;
    size_t stored = 0;
    bool header = true;
    CsvReader reader([&](const std::vector<std::string_view>& f) {
        if (header) {
            header = false;
            columns = f.size();
            return true;
        }
        if (f.size() >= 2 && f[0] == kStoredMark) {
            stored = std::max<size_t>(stored, size_t(std::strtoull(std::string(f[1]).c_str(), nullptr, 10)));
            return true;
        }
        // A line a power cut tore off never counts.
        if (f.size() >= columns) records.emplace_back(f.begin(), f.end());
        return true;
    });
    reader.Feed(text);
    records.erase(records.begin(), records.begin() + std::ptrdiff_t(std::min(stored, records.size())));
    return true;
}

void NotePendingStored(const std::string& path, size_t count) {
    AppendFile file;
    if (file.Open(path)) file.Append(StoredMark(count));
}

}  // namespace veldrix
