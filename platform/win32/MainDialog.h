#pragma once
// The main window: the modal dialog from template 102 whose controls are all
// created in code. It forwards its timer, keys, clicks, searches, aborts and
// destruction to the window logic every program shares (app/MainWindow.h).
#include <windows.h>

#include <functional>

namespace veldrix {

struct AppContext;
class Win32Ui;

struct MainWindowHooks {
    // MSG_CONTROL_CLICK: control id and the id of its group (0 for the
    // window); none: the program's button handler.
    std::function<void(int id, int parentId)> onCommand;
    // The system menu's records entry; without it the entry is not there.
    std::function<void()> openRecords;
    // The system menu's entry for today's report; without it the entry is not there.
    std::function<void()> openReport;
};

class MainDialog {
public:
    MainDialog(AppContext& ctx, Win32Ui& ui);
    ~MainDialog();
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    MainWindowHooks hooks;

    // Runs the window modally; returns once it has been destroyed.
    INT_PTR Run();
    HWND Handle() const { return window_; }
    HICON Icon() const { return icon_; }
    // After Run: false when a thread was still running after the wait at
    // destroy, so the process must end before the context goes.
    bool ThreadsEnded() const { return threadsEnded_; }

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Result(LRESULT value);
    void OnInit();
    void OnClick(int id, HWND parent);
    void OnFocusNext(int id);
    bool OnPaint();
    INT_PTR OnControlColour(UINT message, WPARAM wParam, LPARAM lParam);
    void OnListNotify(LPARAM lParam);
    void Close();

    AppContext& ctx_;
    Win32Ui& ui_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    bool threadsEnded_ = true;
    bool sessionEnded_ = false;  // the settings are saved and the threads stopped already
};

}  // namespace veldrix
