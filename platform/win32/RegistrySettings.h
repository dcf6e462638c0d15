#pragma once
// The program's settings in the registry. Each user writes under HKCU, so no
// administrator rights are needed; reads fall back to the machine-wide key the
// installer wrote. The installation directory `setup` belongs to the machine
// and is looked up there first, in the 32-bit view a 32-bit installer uses.
#include <windows.h>

#include "seams/SettingsStore.h"

namespace veldrix {

struct RegistryLocation {
    HKEY root;
    std::wstring path;
};

class RegistrySettings : public SettingsStore {
public:
    RegistrySettings();
    RegistrySettings(RegistryLocation user, RegistryLocation machine);

    bool CanRead() override;
    std::optional<std::string> Read(const std::string& name, size_t maxBytes) override;
    bool Write(const std::string& name, const std::string& value) override;

private:
    RegistryLocation user_, machine_;
};

// A REG_SZ value, or nothing when the key or the value is missing or not text.
std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, REGSAM view,
                                               const std::wstring& name);
// UTF-8 text cut to at most maxBytes - 1 bytes without splitting a character.
std::string CutToBuffer(std::string text, size_t maxBytes);

}  // namespace veldrix
