#include "code/DownloadMemo.h"

#include <algorithm>

#include "code/Sha256.h"
#include "seams/Files.h"

namespace veldrix {

std::string DownloadDigest(const std::vector<uint8_t>& code, uint32_t start, uint32_t end) {
    Sha256 sha;
    const uint8_t range[6] = {uint8_t(start >> 16), uint8_t(start >> 8), uint8_t(start),
                              uint8_t(end >> 16),   uint8_t(end >> 8),   uint8_t(end)};
    sha.Add(range, sizeof range);
    if (start <= end && end < code.size()) sha.Add(code.data() + start, size_t(end - start) + 1);
    return sha.HexDigest();
}

std::vector<std::pair<std::string, std::string>> DownloadMemo::Read() {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string text;
    if (!ReadFileBytes(path_, text)) return entries;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) break;  // a line cut short is no entry
        std::string line = text.substr(at, end - at);
        at = end + 1;
        size_t tab = line.find('\t');
        if (tab == std::string::npos || line.size() - tab - 1 != 64) continue;
        entries.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return entries;
}

void DownloadMemo::Write(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string text;
    for (const auto& [port, digest] : entries) text += port + "\t" + digest + "\n";
    size_t slash = path_.find_last_of("/\\");
    if (slash != std::string::npos) MakeFolders(path_.substr(0, slash));
    WriteFileReplacing(path_, text);
}

void DownloadMemo::Remember(const std::string& port, const std::string& digest) {
    std::lock_guard lock(mutex_);
    auto entries = Read();
    std::erase_if(entries, [&](const auto& e) { return e.first == port; });
    entries.emplace_back(port, digest);
    Write(entries);
}

void DownloadMemo::Forget(const std::string& port) {
    std::lock_guard lock(mutex_);
    auto entries = Read();
    if (std::erase_if(entries, [&](const auto& e) { return e.first == port; }) > 0) Write(entries);
}

std::optional<std::string> DownloadMemo::Last(const std::string& port) {
    std::lock_guard lock(mutex_);
    for (const auto& [p, digest] : Read())
        if (p == port) return digest;
    return std::nullopt;
}

}  // namespace veldrix
