#include "platform/win32/RegistrySettings.h"

#include <vector>

#include "platform/win32/Text.h"

namespace veldrix {

RegistrySettings::RegistrySettings()
    : RegistrySettings({HKEY_CURRENT_USER, L"Software\\ZEMKO\\VELDRIX"},
                       {HKEY_LOCAL_MACHINE, L"SoftWare\\ZEMKO\\VELDRIX"}) {}

RegistrySettings::RegistrySettings(RegistryLocation user, RegistryLocation machine)
    : user_(std::move(user)), machine_(std::move(machine)) {}

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, REGSAM view,
                                               const std::wstring& name) {
    HKEY key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return std::nullopt;
    std::optional<std::wstring> out;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = DWORD(data.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got) ==
            ERROR_SUCCESS) {
            // Values written without their terminator end at the data size.
            std::wstring text(data.data(), got / sizeof(wchar_t));
            auto end = text.find(L'\0');
            if (end != std::wstring::npos) text.resize(end);
            out = text;
        }
    }
    RegCloseKey(key);
    return out;
}

std::string CutToBuffer(std::string text, size_t maxBytes) {
    if (maxBytes == 0 || text.size() <= maxBytes - 1) return text;
    size_t n = maxBytes - 1;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    text.resize(n);
    return text;
}

bool RegistrySettings::CanRead() {
    for (const RegistryLocation* loc : {&user_, &machine_}) {
        HKEY key;
        if (RegOpenKeyExW(loc->root, loc->path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return true;
        }
    }
    return false;
}

std::optional<std::string> RegistrySettings::Read(const std::string& name, size_t maxBytes) {
    std::wstring value = Widen(name);
    std::optional<std::wstring> found;
    if (name == "setup") {
        found = ReadRegistryString(machine_.root, machine_.path, KEY_WOW64_32KEY, value);
        if (!found) found = ReadRegistryString(machine_.root, machine_.path, 0, value);
        if (!found) found = ReadRegistryString(user_.root, user_.path, 0, value);
    } else {
        found = ReadRegistryString(user_.root, user_.path, 0, value);
        if (!found) found = ReadRegistryString(machine_.root, machine_.path, 0, value);
    }
    if (!found) return std::nullopt;
    return CutToBuffer(Narrow(*found), maxBytes);
}

bool RegistrySettings::Write(const std::string& name, const std::string& value) {
    HKEY key;
    if (RegCreateKeyExW(user_.root, user_.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring data = Widen(value);
    LONG r = RegSetValueExW(key, Widen(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            DWORD((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

}  // namespace veldrix
