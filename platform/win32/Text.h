#pragma once
// UTF-8 inside the program, UTF-16 at the Win32 API, a code page's bytes in
// files, the registry's read buffers and what goes to the unit.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace veldrix {

inline std::wstring Widen(std::string_view text, UINT codePage = CP_UTF8) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

inline std::string Narrow(std::wstring_view text, UINT codePage = CP_UTF8) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The system's own words for an error code, in the system's language.
inline std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n && text ? std::wstring(text, n) : L"";
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                                message.back() == L'.' || message.back() == L'\x3002'))
        message.pop_back();
    if (message.empty()) return "error " + std::to_string(code);
    return Narrow(message);
}

// Text in a code page's bytes (CP_ACP: the system's ANSI code page) and back.
inline std::string ToCodePage(std::string_view utf8, UINT codePage) { return Narrow(Widen(utf8), codePage); }

// How many bytes at the end start a character that is cut short there.
inline size_t CutCharacterAtEnd(std::string_view bytes, UINT codePage) {
    if (codePage == CP_ACP) codePage = GetACP();
    if (codePage == CP_UTF8) {
        size_t back = 0;
        while (back < 3 && back < bytes.size() && (uint8_t(bytes[bytes.size() - 1 - back]) & 0xC0) == 0x80) ++back;
        if (back == bytes.size()) return 0;
        uint8_t lead = uint8_t(bytes[bytes.size() - 1 - back]);
        size_t length = lead >= 0xF8 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        return back + 1 < length ? back + 1 : 0;
    }
    CPINFO info{};
    if (!GetCPInfo(codePage, &info) || info.MaxCharSize != 2) return 0;
    // A trail byte may look like a lead byte: only a walk from the start tells.
    size_t i = 0;
    while (i < bytes.size()) i += IsDBCSLeadByteEx(codePage, BYTE(bytes[i])) ? 2 : 1;
    return i > bytes.size() ? 1 : 0;
}

inline std::string FromCodePage(std::string_view bytes, UINT codePage) {
    bytes.remove_suffix(CutCharacterAtEnd(bytes, codePage));
    return Narrow(Widen(bytes, codePage));
}

}  // namespace veldrix
