#include "platform/win32/RegistrySettings.h"

#include <vector>

#include "platform/win32/Text.h"

namespace veldrix {

RegistrySettings::RegistrySettings()
    : RegistrySettings({HKEY_CURRENT_USER, L"Software\\ZEMKO\\VELDRIX"},
                       {HKEY_LOCAL_MACHINE, L"SoftWare\\ZEMKO\\VELDRIX"}) {}

RegistrySettings::RegistrySettings(RegistryLocation user, RegistryLocation machine)
    : user_(std::move(user)), machine_(std::move(machine)) {}

std::wstring ExpandedText(const std::wstring& text) {
    DWORD need = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (need == 0) return text;
    std::wstring out(need, L'\0');
    DWORD got = ExpandEnvironmentStringsW(text.c_str(), out.data(), need);
    if (got == 0 || got > need) return text;
    out.resize(got - 1);
    return out;
}

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
            // "%ProgramFiles%\VELDRIX" and the like, as the shell would read them.
            if (type == REG_EXPAND_SZ) text = ExpandedText(text);
            out = text;
        }
    }
    RegCloseKey(key);
    return out;
}

std::array<RegistrySettings::Place, 3> RegistrySettings::Places() const {
    // HKCU\Software is one key in both views; HKLM\Software is not. The
    // native view first: a 32-bit key is only what an old installer left.
    return {{{&user_, 0}, {&machine_, KEY_WOW64_64KEY}, {&machine_, KEY_WOW64_32KEY}}};
}

bool RegistrySettings::CanRead() {
    for (const Place& place : Places()) {
        HKEY key;
        if (RegOpenKeyExW(place.location->root, place.location->path.c_str(), 0, KEY_QUERY_VALUE | place.view,
                          &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return true;
        }
    }
    return false;
}

std::optional<std::string> RegistrySettings::ReadMachineOnly(const std::string& name) {
    std::wstring value = Widen(name);
    for (const Place& place : Places()) {
        if (place.location != &machine_) continue;
        if (auto found = ReadRegistryString(place.location->root, place.location->path, place.view, value))
            return Narrow(*found);
    }
    return std::nullopt;
}

std::optional<std::string> RegistrySettings::Read(const std::string& name, size_t maxBytes) {
    std::wstring value = Widen(name);
    for (const Place& place : Places()) {
        std::optional<std::wstring> found =
            ReadRegistryString(place.location->root, place.location->path, place.view, value);
        if (!found) continue;
        std::string text = Narrow(*found);
        // Too long for the buffer is a failed read: the caller's default applies.
        if (!FitsReadBuffer(text, maxBytes)) return std::nullopt;
        return text;
    }
    return std::nullopt;
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
