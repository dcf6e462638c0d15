#pragma once
// The program's settings in the registry. Each user writes under HKCU, so no
// administrator rights are needed; reads fall back to the machine-wide key the
// installer wrote, in the 32-bit view a 32-bit installer uses, then in the
// native one. Every read, `setup` and the check that the key exists included,
// looks in these places in this order.
#include <windows.h>

#include <array>

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
    // A value only an administrator can have written: the machine-wide key,
    // never the user's (a secret such as the records' connection string).
    std::optional<std::string> ReadMachineOnly(const std::string& name);

private:
    struct Place {
        const RegistryLocation* location;
        REGSAM view;
    };
    std::array<Place, 3> Places() const;

    RegistryLocation user_, machine_;
};

// A REG_SZ value, or a REG_EXPAND_SZ one with its environment variables
// expanded; nothing when the key or the value is missing or not text.
std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, REGSAM view,
                                               const std::wstring& name);

}  // namespace veldrix
