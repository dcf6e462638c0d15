#pragma once
// The main window: the modal dialog from template 102 whose controls are all
// created in code. It answers the private messages of the control classes and
// hands commands, searches and link checks to the program logic through hooks.
#include <windows.h>

#include <functional>

namespace veldrix {

struct AppContext;
class Win32Ui;

struct MainWindowHooks {
    // MSG_CONTROL_CLICK: control id and the id of its group (0 for the window).
    std::function<void(int id, int parentId)> onCommand;
    // MSG_START_SEARCH, after the status line and SilentSearch are set.
    std::function<void()> onStartSearch;
    // Every tick after the first while no operation is busy.
    std::function<void()> onLinkTick;
    // F7: the programmer information operation.
    std::function<void(int opCode)> startOperation;
    // Double-click on the code list: row and column, -1 where none.
    std::function<void(int row, int column)> onCodeCellDoubleClick;
    // At destroy, after the settings were saved: stop the monitor and the worker.
    std::function<void()> onClosing;
    // The system menu's records entry; without it the entry is not there.
    std::function<void()> openRecords;
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

private:
    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Result(LRESULT value);
    void OnInit();
    void OnTimer();
    void OnClick(int id, HWND parent);
    void OnFunctionKey(int key);
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
};

}  // namespace veldrix
