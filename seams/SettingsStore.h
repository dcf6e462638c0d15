#pragma once
// Named string values of the program (the registry key on Windows).
#include <optional>
#include <string>

namespace veldrix {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // False when the key cannot be opened for reading at all.
    virtual bool CanRead() = 0;
    // The value, cut to maxBytes - 1 characters as a fixed read buffer would.
    virtual std::optional<std::string> Read(const std::string& name, size_t maxBytes) = 0;
    // False when the key cannot be created or the value not written.
    virtual bool Write(const std::string& name, const std::string& value) = 0;
};

}  // namespace veldrix
