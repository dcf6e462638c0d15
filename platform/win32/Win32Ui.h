#pragma once
// The real main window behind the Ui seam. Calls from the worker and the link
// monitor are carried to the window thread with a synchronous SendMessage, so
// every window is touched by the thread that owns it.
// <windows.h> comes first in every file here, so its MessageBox macro renames
// the Ui method alike in the declaration and in this override.
#include <windows.h>

#include <functional>
#include <map>
#include <tuple>

#include "app/ControlTable.h"
#include "seams/Ui.h"

namespace veldrix {

class Win32Ui : public Ui {
public:
    Win32Ui() = default;
    ~Win32Ui() override;
    Win32Ui(const Win32Ui&) = delete;
    Win32Ui& operator=(const Win32Ui&) = delete;

    // The main window; called on its thread once it exists.
    void AttachWindow(HWND window);
    HWND Window() const { return window_; }
    HWND Control(int id) const;
    // Runs fn on the window thread and returns when it has run (or the window is gone).
    void RunOnWindowThread(const std::function<void()>& fn);
    // The main window hands msg::kInvoke here.
    static void RunInvoked(LPARAM lParam);

    void CreateControl(const ControlDef& def) override;
    void SetFont(int id, const FontDef& font) override;
    std::string GetText(int id) override;
    void SetText(int id, const std::string& text) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;
    bool IsEnabled(int id) override;
    void SetEnabled(int id, bool enabled) override;
    bool IsVisible(int id) override;
    void SetVisible(int id, bool visible) override;
    void ComboClear(int id) override;
    void ComboAdd(int id, const std::string& entry) override;
    int ComboCount(int id) override;
    std::string ComboEntry(int id, int index) override;
    int ComboSelection(int id) override;
    void ComboSelect(int id, int index) override;
    void ListSetColumns(int id, const std::vector<std::pair<std::string, int>>& columns) override;
    void ListSetCell(int id, int row, int column, const std::string& text) override;
    std::string ListCell(int id, int row, int column) override;
    MsgAnswer MessageBox(const MessageBoxSpec& spec) override;
    std::optional<std::string> AskPassword() override;
    std::optional<std::string> AskNewPassword() override;
    std::optional<std::string> OpenFileDialog(const std::vector<FileFilter>& filters) override;
    std::optional<std::string> SaveFileDialog(const std::vector<FileFilter>& filters) override;
    std::optional<std::string> EditCodeDialog(const std::string& value, const std::string& address) override;
    void Tone(int hz, int ms) override;
    void RefreshCursor() override;
    void StartLinkTimer(int timerId, int periodMs) override;
    void OpenWebAddress(const std::string& url) override;
    void SendBusyState(int id, bool busy) override;
    void CloseMainWindow() override;
    void ServePendingCalls() override;

private:
    bool OnWindowThread() const;
    // fn's result on the window thread, or fallback when it could not run there.
    template <class R, class F>
    R Call(R fallback, F&& fn);
    HWND Owner() const;
    std::optional<std::string> FileDialog(bool save, const std::vector<FileFilter>& filters);

    HWND window_ = nullptr;
    DWORD windowThread_ = 0;
    std::map<int, HWND> controls_;
    std::map<std::tuple<std::string, int, int, int, bool, bool>, HFONT> fonts_;
};

// MessageBoxW flags for a box of the program.
UINT MessageBoxFlags(const MessageBoxSpec& spec);
// The answer for what MessageBoxW returned.
MsgAnswer AnswerFor(MsgButtons buttons, int result);
// "label\0pattern\0...\0\0" for the common file dialogs.
std::wstring FilterString(const std::vector<FileFilter>& filters);

}  // namespace veldrix
