#include "cli/CliUi.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/Interrupt.h"
#include "state/ControlIds.h"

namespace veldrix::cli {

CliUi::CliUi(Hooks hooks) : hooks_(std::move(hooks)) { keepRecords = false; }

void CliUi::ResetMarks() {
    questionRefused = false;
    passwordMissing = false;
    newPasswordMissing = false;
    dbWaitedMs_ = 0;
}

MsgAnswer CliUi::WaitForServer(const MessageBoxSpec& spec) {
    constexpr int kRetryMs = 2000, kSliceMs = 100;
    const bool first = dbWaitedMs_ == 0;
    if (dbWaitedMs_ + kRetryMs > dbWaitSeconds * 1000 || Interrupted()) {
        if (hooks_.box) hooks_.box(spec, MsgAnswer::Cancel, false);
        return MsgAnswer::Cancel;
    }
    // Said once a wait; the tries after it only when they end.
    if (first && hooks_.box) hooks_.box(spec, MsgAnswer::Retry, false);
    for (int slept = 0; slept < kRetryMs && !Interrupted(); slept += kSliceMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    dbWaitedMs_ += kRetryMs;
    return Interrupted() ? MsgAnswer::Cancel : MsgAnswer::Retry;
}

void CliUi::SetText(int id, const std::string& text) {
    bool status = id == id::kStatusLine;
    bool changed = status && GetText(id) != text;
    HeadlessUi::SetText(id, text);
    if (status && hooks_.status) hooks_.status(text, changed);
}

MsgAnswer CliUi::MessageBox(const MessageBoxSpec& spec) {
    MsgAnswer answer = MsgAnswer::Ok;
    bool refused = false;
    // The window offers to remember the password for its session; a call is one job.
    if (spec.question == "remember-password") return MsgAnswer::No;
    const bool yes = this->yes || std::find(yesTo.begin(), yesTo.end(), spec.question) != yesTo.end();
    switch (spec.buttons) {
    case MsgButtons::Ok: break;
    case MsgButtons::RetryCancel: return WaitForServer(spec);
    case MsgButtons::OkCancel:
        answer = yes ? MsgAnswer::Ok : MsgAnswer::Cancel;
        refused = !yes;
        break;
    case MsgButtons::YesNo:
        answer = yes ? MsgAnswer::Yes : MsgAnswer::No;
        refused = !yes;
        break;
    }
    if (refused) questionRefused = true;
    if (hooks_.box) hooks_.box(spec, answer, refused);
    return answer;
}

std::optional<std::string> CliUi::AskPassword() {
    auto typed = hooks_.password ? hooks_.password() : std::nullopt;
    if (!typed) passwordMissing = true;
    else if (typed->size() > 8) typed->resize(8);  // the entry field takes 8 characters
    return typed;
}

std::optional<std::string> CliUi::AskNewPassword() {
    auto typed = hooks_.newPassword ? hooks_.newPassword() : std::nullopt;
    if (!typed) newPasswordMissing = true;
    else if (typed->size() > 8) typed->resize(8);
    return typed;
}

std::optional<std::string> CliUi::OpenFileDialog(const std::vector<FileFilter>&) {
    // The code file is named on the command line and put into its field.
    std::string path = GetText(id::kCodeFile);
    return path.empty() ? std::nullopt : std::optional<std::string>(path);
}

std::optional<std::string> CliUi::SaveFileDialog(const std::vector<FileFilter>&) { return saveTarget; }

std::optional<std::string> CliUi::EditCodeDialog(const std::string&, const std::string&) { return std::nullopt; }

}  // namespace veldrix::cli
