#pragma once
// Settings kept in a small text file of NAME=VALUE lines (Linux and tests).
#include <map>
#include <mutex>
#include <string>

#include "seams/SettingsStore.h"

namespace veldrix {

class FileSettings : public SettingsStore {
public:
    explicit FileSettings(std::string path);
    bool CanRead() override;
    std::optional<std::string> Read(const std::string& name, size_t maxBytes) override;
    bool Write(const std::string& name, const std::string& value) override;

private:
    bool Load(std::map<std::string, std::string>& values);
    std::string path_;
    std::mutex mutex_;
};

}  // namespace veldrix
