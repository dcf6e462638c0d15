#pragma once
// The main window as veldrix-cli keeps it: the in-memory window of the
// control table, whose status line, boxes and dialogs become the command
// line's output and answers. Questions are refused unless --yes answers them.
#include <functional>
#include <optional>
#include <vector>
#include <string>

#include "platform/headless/HeadlessUi.h"

namespace veldrix::cli {

class CliUi : public HeadlessUi {
public:
    struct Hooks {
        // Every time the status line is set; changed: to a new text.
        std::function<void(const std::string& text, bool changed)> status;
        // refused: a question answered against it because --yes was not given.
        std::function<void(const MessageBoxSpec& spec, MsgAnswer answer, bool refused)> box;
        // The operation password, and a new one (nothing: none to be had).
        std::function<std::optional<std::string>()> password;
        std::function<std::optional<std::string>()> newPassword;
    };

    explicit CliUi(Hooks hooks);

    bool yes = false;
    std::vector<std::string> yesTo;  // the questions answered Yes by name
    // The file a save dialog is answered with (read FILE).
    std::optional<std::string> saveTarget;
    // Since the last ResetMarks().
    bool questionRefused = false;
    bool passwordMissing = false;
    bool newPasswordMissing = false;
    void ResetMarks();
    // The records' server away (the one retry box): asked again every 2 s for
    // this long, on the real clock, then given up.
    int dbWaitSeconds = 60;

    void SetText(int id, const std::string& text) override;
    MsgAnswer MessageBox(const MessageBoxSpec& spec) override;
    std::optional<std::string> AskPassword() override;
    std::optional<std::string> AskNewPassword() override;
    std::optional<std::string> OpenFileDialog(const std::vector<FileFilter>& filters) override;
    std::optional<std::string> SaveFileDialog(const std::vector<FileFilter>& filters) override;
    std::optional<std::string> EditCodeDialog(const std::string& value, const std::string& address) override;
    void Tone(int, int) override {}
    void CloseMainWindow() override {}

private:
    MsgAnswer WaitForServer(const MessageBoxSpec& spec);
    Hooks hooks_;
    int dbWaitedMs_ = 0;
};

}  // namespace veldrix::cli
