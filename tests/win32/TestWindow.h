#pragma once
// A top-level window standing in for the main window: it serves marshalled
// calls and records the private messages the control classes send it.
#include <windows.h>

#include <functional>
#include <vector>

#include "platform/win32/Win32Ui.h"

namespace veldrix::test {

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class TestWindow {
public:
    TestWindow();
    ~TestWindow();
    HWND Handle() const { return window_; }
    Win32Ui ui;
    std::vector<Received> received;
    // What MSG_QUERY_LINK_ERROR answers.
    LRESULT linkError = 0;
    // Called when a MSG_CONTROL_CLICK arrives, before it is recorded.
    std::function<void(int id)> onClick;

    // Every message of the given kind received so far.
    std::vector<Received> Of(UINT message) const;
    // Builds the whole main window from the control table.
    void CreateAllControls();
    // Pumps messages until done() is true or the bound runs out.
    static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND window_ = nullptr;
};

// A click as the mouse gives it, in client coordinates of the control.
void Press(HWND control, int x, int y);
void Release(HWND control, int x, int y);
void DoubleClick(HWND control, int x, int y);
void TypeChars(HWND control, const wchar_t* text);

}  // namespace veldrix::test
