#pragma once
// Private messages between the custom controls, the worker and the main window.
#include <windows.h>

namespace veldrix::msg {

constexpr UINT kControlClick = WM_USER + 1;      // 1025: id, parent window
constexpr UINT kQueryLinkError = WM_USER + 4;    // 1028: 1 when LinkErrorFlag is set
constexpr UINT kLinkPressed = WM_USER + 5;       // 1029
constexpr UINT kLinkReleased = WM_USER + 6;      // 1030: 1 when it was pressed
constexpr UINT kAbortRequest = WM_USER + 7;      // 1031
constexpr UINT kBusyState = WM_USER + 8;         // 1032: lParam 1 busy, 0 idle
constexpr UINT kFunctionKey = WM_USER + 9;       // 1033: virtual-key code
constexpr UINT kChipChanged = WM_USER + 10;      // 1034
constexpr UINT kEnterKey = WM_USER + 11;         // 1035: id, parent window
constexpr UINT kFocusNext = WM_USER + 12;        // 1036: id, parent window
constexpr UINT kStartSearch = WM_USER + 13;      // 1037

// A call marshalled from another thread: lParam points to a std::function<void()>.
constexpr UINT kInvoke = WM_APP + 1;
// A group box hands its children's WM_COMMAND back to the child (wParam, lParam as sent).
constexpr UINT kReflectedCommand = WM_APP + 2;

}  // namespace veldrix::msg
