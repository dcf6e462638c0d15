#pragma once
// UTF-8 inside the program, UTF-16 at the Win32 API.
#include <windows.h>

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

}  // namespace veldrix
