#pragma once
// Named string values of the program (the registry key on Windows).
#include <optional>
#include <string>
#include <string_view>

#include "seams/Files.h"

namespace veldrix {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // False when the key cannot be opened for reading at all.
    virtual bool CanRead() = 0;
    // The value; nothing when it is missing or does not fit a read buffer of
    // maxBytes (FitsReadBuffer): a value cut short would be taken for another.
    virtual std::optional<std::string> Read(const std::string& name, size_t maxBytes) = 0;
    // False when the key cannot be created or the value not written.
    virtual bool Write(const std::string& name, const std::string& value) = 0;
};

// The value and its terminator fit maxBytes in the system code page.
inline bool FitsReadBuffer(std::string_view value, size_t maxBytes) { return ToFileText(value).size() < maxBytes; }

}  // namespace veldrix
