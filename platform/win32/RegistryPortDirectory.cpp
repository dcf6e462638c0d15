#include "platform/win32/RegistryPortDirectory.h"

#include "platform/win32/RegistrySettings.h"
#include "platform/win32/Text.h"

namespace veldrix {

RegistryPortDirectory::RegistryPortDirectory()
    : RegistryPortDirectory(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM") {}

RegistryPortDirectory::RegistryPortDirectory(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {}

bool RegistryPortDirectory::Available() {
    HKEY key;
    if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::optional<std::string> RegistryPortDirectory::Lookup(const std::string& valueName) {
    // The key is opened afresh each time: the list changes as adapters come and go.
    auto value = ReadRegistryString(root_, path_, 0, Widen(valueName));
    if (!value) return std::nullopt;
    return Narrow(*value);
}

}  // namespace veldrix
