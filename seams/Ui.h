#pragma once
// What the program logic needs of the main window. Everything is addressed by
// control id; the real window marshals calls from other threads to the window
// thread, the headless window records them.
#include <optional>
#include <string>
#include <vector>

namespace veldrix {

struct ControlDef;
struct FontDef;

enum class MsgButtons { Ok, OkCancel, YesNo, RetryCancel };
enum class MsgIcon { None, Warning, Error, Question, Information };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry };

struct MessageBoxSpec {
    std::string text;
    std::string caption;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;
    int defaultButton = 0;  // 0 = first button, 1 = second
    // A question's name (README "Command line"): what --yes=NAME answers; empty for a plain box.
    std::string question;
};

struct FileFilter {
    std::string label;    // "hex文件(*.hex)"
    std::string pattern;  // "*.hex"
};

class Ui {
public:
    virtual ~Ui() = default;

    // Building the window (the control table drives both windows).
    virtual void CreateControl(const ControlDef& def) = 0;
    virtual void SetFont(int id, const FontDef& font) = 0;

    virtual std::string GetText(int id) = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual bool IsEnabled(int id) = 0;
    virtual void SetEnabled(int id, bool enabled) = 0;
    virtual bool IsVisible(int id) = 0;
    virtual void SetVisible(int id, bool visible) = 0;

    // Combo boxes (1000, 308).
    virtual void ComboClear(int id) = 0;
    virtual void ComboAdd(int id, const std::string& entry) = 0;
    virtual int ComboCount(int id) = 0;
    virtual std::string ComboEntry(int id, int index) = 0;
    virtual int ComboSelection(int id) = 0;  // -1 when nothing is selected
    virtual void ComboSelect(int id, int index) = 0;

    // The code list (159): columns, 16 rows of 17 cells.
    virtual void ListSetColumns(int id, const std::vector<std::pair<std::string, int>>& columns) = 0;
    virtual void ListSetCell(int id, int row, int column, const std::string& text) = 0;
    virtual std::string ListCell(int id, int row, int column) = 0;

    virtual MsgAnswer MessageBox(const MessageBoxSpec& spec) = 0;
    // Password entry: the typed text (at most 8 characters) or nothing on Cancel.
    virtual std::optional<std::string> AskPassword() = 0;
    // Set-password dialog: the new password once both entries agree, nothing on Cancel.
    virtual std::optional<std::string> AskNewPassword() = 0;
    virtual std::optional<std::string> OpenFileDialog(const std::vector<FileFilter>& filters) = 0;
    virtual std::optional<std::string> SaveFileDialog(const std::vector<FileFilter>& filters) = 0;
    virtual std::optional<std::string> EditCodeDialog(const std::string& value, const std::string& address) = 0;

    virtual void Tone(int hz, int ms) = 0;
    virtual void RefreshCursor() = 0;
    virtual void StartLinkTimer(int timerId, int periodMs) = 0;
    virtual void OpenWebAddress(const std::string& url) = 0;
    // MSG_BUSY_STATE to one button: locks or unlocks it.
    virtual void SendBusyState(int id, bool busy) = 0;
    virtual void CloseMainWindow() = 0;
    // Runs the calls other threads are waiting to make on the window thread;
    // the window thread calls it while it waits for one of them.
    virtual void ServePendingCalls() = 0;
};

}  // namespace veldrix
