#pragma once
// The main window in memory, built from the control table. Message boxes and
// dialogs take their answers from queues filled by the script; status-line
// changes, boxes and tones are written to the transcript.
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/ControlTable.h"
#include "seams/Ui.h"

namespace veldrix {

class HeadlessUi : public Ui {
public:
    struct Control {
        ControlDef def{};
        std::string text;
        bool checked = false;
        bool enabled = true;
        bool visible = true;
        FontDef font{};
        std::vector<std::string> entries;  // combo boxes
        int selection = -1;
    };
    struct BoxRecord {
        MessageBoxSpec spec;
        MsgAnswer answer;
    };

    // Every transcript line goes here (default: kept in Transcript()).
    std::function<void(const std::string&)> onLine;
    // Called when the main window is asked to close.
    std::function<void()> onClose;
    // False: transcript, status history, boxes and tones are passed to onLine
    // only, not kept (a production run of thousands of chips).
    bool keepRecords = true;

    // Ui
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
    void RefreshCursor() override {}
    void StartLinkTimer(int timerId, int periodMs) override;
    void OpenWebAddress(const std::string& url) override;
    void SendBusyState(int id, bool busy) override;
    void CloseMainWindow() override;
    void ServePendingCalls() override {}  // every call runs on the caller's thread

    // Scripted answers
    void QueueAnswer(MsgAnswer answer);
    void QueuePassword(std::optional<std::string> entry);
    void QueueNewPassword(std::optional<std::pair<std::string, std::string>> entries);
    void QueueOpen(std::optional<std::string> path);
    void QueueSave(std::optional<std::string> path);
    void QueueEdit(std::optional<std::string> text);
    // Forgets every answer not yet taken.
    void DropQueuedAnswers();

    // What a user does on screen. Each returns false when the control cannot
    // take the action (missing, hidden or disabled).
    // A click changes a check box or radio button first, as on screen.
    bool ApplyClick(int id);
    // Typed characters, through the field's filter; returns the accepted text.
    std::string ApplyTyping(int id, const std::string& text);
    bool ApplyComboChoice(int id, const std::string& entry);

    bool Exists(int id);
    Control Snapshot(int id);
    bool Locked(int id);
    std::vector<BoxRecord> Boxes();
    std::optional<BoxRecord> LastBox();
    std::vector<std::string> Transcript();
    std::vector<std::string> StatusHistory();
    std::vector<std::string> WebAddressesOpened();
    std::vector<std::pair<int, int>> TimersStarted();
    std::vector<std::pair<int, int>> Tones();
    int PendingAnswers();

    // Text as the transcript writes it: line breaks as \n.
    static std::string Escape(const std::string& text);

private:
    Control* Find(int id);  // caller holds mutex_
    void Emit(const std::string& line);

    std::recursive_mutex mutex_;
    std::map<int, Control> controls_;
    std::vector<int> order_;
    std::map<int, bool> locked_;
    std::vector<std::vector<std::string>> cells_ = std::vector<std::vector<std::string>>(16, std::vector<std::string>(17));
    std::vector<std::pair<std::string, int>> columns_;
    std::deque<MsgAnswer> answers_;
    std::deque<std::optional<std::string>> passwords_;
    std::deque<std::optional<std::pair<std::string, std::string>>> newPasswords_;
    std::deque<std::optional<std::string>> opens_, saves_, edits_;
    std::vector<BoxRecord> boxes_;
    std::vector<std::string> transcript_, statusHistory_, web_;
    std::vector<std::pair<int, int>> timers_, tones_;
};

// The words of the transcript: "ok", "yes/no", ...
std::string AnswerWord(MsgAnswer answer);
const char* ButtonsWord(MsgButtons buttons);

}  // namespace veldrix
