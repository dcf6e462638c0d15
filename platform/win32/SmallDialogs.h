#pragma once
// The modal dialogs of the main window: operation password, new password and
// the code-byte editor. Each runs on the window thread.
#include <windows.h>

#include <optional>
#include <string>

namespace veldrix {

// The typed password (at most 8 characters), nothing on Cancel.
std::optional<std::string> RunPasswordEntryDialog(HWND owner);
// The new password once both entries agree, nothing on Cancel.
std::optional<std::string> RunSetPasswordDialog(HWND owner);
// The entered value text (at most 99 characters), nothing on Cancel.
std::optional<std::string> RunEditCodeDialog(HWND owner, const std::string& value, const std::string& address);

}  // namespace veldrix
