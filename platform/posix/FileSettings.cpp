#include "platform/posix/FileSettings.h"

#include <sstream>

#include "seams/Files.h"

namespace veldrix {

FileSettings::FileSettings(std::string path) : path_(std::move(path)) {}

bool FileSettings::Load(std::map<std::string, std::string>& values) {
    std::string text;
    if (!ReadFileBytes(path_, text)) return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}

bool FileSettings::CanRead() {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> values;
    return Load(values);
}

std::optional<std::string> FileSettings::Read(const std::string& name, size_t maxBytes) {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> values;
    if (!Load(values)) return std::nullopt;
    auto it = values.find(name);
    if (it == values.end() || !FitsReadBuffer(it->second, maxBytes)) return std::nullopt;
    return it->second;
}

bool FileSettings::Write(const std::string& name, const std::string& value) {
    std::lock_guard lock(mutex_);
    std::map<std::string, std::string> values;
    Load(values);
    values[name] = value;
    std::string text;
    for (auto& [k, v] : values) text += k + "=" + v + "\n";
    return WriteFileReplacing(path_, text);
}

}  // namespace veldrix
