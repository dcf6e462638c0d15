#pragma once
// Settings in memory, for tests; "absent" models a key that does not exist.
#include <map>
#include <mutex>

#include "seams/SettingsStore.h"

namespace veldrix {

class MemorySettings : public SettingsStore {
public:
    bool present = true;    // the key exists and can be read
    bool writable = true;
    std::map<std::string, std::string> values;

    bool CanRead() override { return present; }
    std::optional<std::string> Read(const std::string& name, size_t maxBytes) override {
        std::lock_guard lock(mutex_);
        if (!present) return std::nullopt;
        auto it = values.find(name);
        if (it == values.end() || !FitsReadBuffer(it->second, maxBytes)) return std::nullopt;
        return it->second;
    }
    bool Write(const std::string& name, const std::string& value) override {
        std::lock_guard lock(mutex_);
        if (!writable) return false;
        present = true;
        values[name] = value;
        return true;
    }

private:
    std::mutex mutex_;
};

}  // namespace veldrix
