#include "platform/headless/HeadlessUi.h"

#include <cctype>

#include "code/Fields.h"
#include "state/ControlIds.h"

namespace veldrix {

namespace {

MsgAnswer DefaultAnswer(const MessageBoxSpec& spec) {
    switch (spec.buttons) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::OkCancel: return spec.defaultButton == 1 ? MsgAnswer::Cancel : MsgAnswer::Ok;
    case MsgButtons::YesNo: return spec.defaultButton == 1 ? MsgAnswer::No : MsgAnswer::Yes;
    // Trying again unasked would never end.
    case MsgButtons::RetryCancel: return MsgAnswer::Cancel;
    }
    return MsgAnswer::Ok;
}

bool AnswerFits(MsgButtons buttons, MsgAnswer a) {
    switch (buttons) {
    case MsgButtons::Ok: return a == MsgAnswer::Ok;
    case MsgButtons::OkCancel: return a == MsgAnswer::Ok || a == MsgAnswer::Cancel;
    case MsgButtons::YesNo: return a == MsgAnswer::Yes || a == MsgAnswer::No;
    case MsgButtons::RetryCancel: return a == MsgAnswer::Retry || a == MsgAnswer::Cancel;
    }
    return false;
}

bool IsHexChar(unsigned char c) { return std::isxdigit(c) != 0; }
}  // namespace

const char* ButtonsWord(MsgButtons b) {
    switch (b) {
    case MsgButtons::Ok: return "ok";
    case MsgButtons::OkCancel: return "ok/cancel";
    case MsgButtons::YesNo: return "yes/no";
    case MsgButtons::RetryCancel: return "retry/cancel";
    }
    return "";
}

std::string AnswerWord(MsgAnswer answer) {
    switch (answer) {
    case MsgAnswer::Ok: return "ok";
    case MsgAnswer::Cancel: return "cancel";
    case MsgAnswer::Yes: return "yes";
    case MsgAnswer::No: return "no";
    case MsgAnswer::Retry: return "retry";
    }
    return "";
}

std::string HeadlessUi::Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

HeadlessUi::Control* HeadlessUi::Find(int id) {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

void HeadlessUi::Emit(const std::string& line) {
    if (keepRecords) transcript_.push_back(line);
    if (onLine) onLine(line);
}

void HeadlessUi::CreateControl(const ControlDef& def) {
    std::lock_guard lock(mutex_);
    Control c;
    c.def = def;
    c.text = def.caption ? def.caption : "";
    c.visible = !(def.styles & style::kHidden);
    c.enabled = !(def.styles & style::kDisabled);
    if (!controls_.count(def.id)) order_.push_back(def.id);
    controls_[def.id] = c;
}

void HeadlessUi::SetFont(int id, const FontDef& font) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(id)) c->font = font;
}

std::string HeadlessUi::GetText(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c) return {};
    if (c->def.kind == ControlKind::Combo) return c->selection >= 0 ? c->entries[size_t(c->selection)] : "";
    return c->text;
}

void HeadlessUi::SetText(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c) return;
    if (id == id::kStatusLine) {
        if (keepRecords) statusHistory_.push_back(text);
        if (c->text != text) Emit("status: " + Escape(text));
    }
    c->text = text;
}

bool HeadlessUi::IsChecked(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    return c && c->checked;
}

void HeadlessUi::SetChecked(int id, bool checked) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(id)) c->checked = checked;
}

bool HeadlessUi::IsEnabled(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    return c && c->enabled;
}

void HeadlessUi::SetEnabled(int id, bool enabled) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(id)) c->enabled = enabled;
}

bool HeadlessUi::IsVisible(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    return c && c->visible;
}

void HeadlessUi::SetVisible(int id, bool visible) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(id)) c->visible = visible;
}

void HeadlessUi::ComboClear(int id) {
    std::lock_guard lock(mutex_);
    if (Control* c = Find(id)) {
        c->entries.clear();
        c->selection = -1;
    }
}

void HeadlessUi::ComboAdd(int id, const std::string& entry) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c) return;
    std::string e = entry;
    if (c->def.styles & style::kUpperCase)
        for (char& ch : e) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    c->entries.push_back(e);
}

int HeadlessUi::ComboCount(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    return c ? int(c->entries.size()) : 0;
}

std::string HeadlessUi::ComboEntry(int id, int index) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || index < 0 || size_t(index) >= c->entries.size()) return {};
    return c->entries[size_t(index)];
}

int HeadlessUi::ComboSelection(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    return c ? c->selection : -1;
}

void HeadlessUi::ComboSelect(int id, int index) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c) return;
    c->selection = (index >= 0 && size_t(index) < c->entries.size()) ? index : -1;
}

void HeadlessUi::ListSetColumns(int, const std::vector<std::pair<std::string, int>>& columns) {
    std::lock_guard lock(mutex_);
    columns_ = columns;
}

void HeadlessUi::ListSetCell(int, int row, int column, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (row >= 0 && row < 16 && column >= 0 && column < 17) cells_[size_t(row)][size_t(column)] = text;
}

std::string HeadlessUi::ListCell(int, int row, int column) {
    std::lock_guard lock(mutex_);
    if (row >= 0 && row < 16 && column >= 0 && column < 17) return cells_[size_t(row)][size_t(column)];
    return {};
}

MsgAnswer HeadlessUi::MessageBox(const MessageBoxSpec& spec) {
    std::lock_guard lock(mutex_);
    MsgAnswer answer = DefaultAnswer(spec);
    std::string how;
    if (spec.buttons != MsgButtons::Ok) {
        if (!answers_.empty() && AnswerFits(spec.buttons, answers_.front())) {
            answer = answers_.front();
            answers_.pop_front();
        } else {
            how = " (default, " + std::string(ButtonsWord(spec.buttons)) +
                  (answers_.empty() ? ", none queued)" : ", queued answer does not fit)");
        }
    }
    if (keepRecords) boxes_.push_back({spec, answer});
    Emit("box: " + Escape(spec.caption) + " | " + Escape(spec.text) + " | " + AnswerWord(answer) + how);
    return answer;
}

std::optional<std::string> HeadlessUi::AskPassword() {
    std::lock_guard lock(mutex_);
    if (passwords_.empty()) {
        Emit("dialog: password entry cancelled (none queued)");
        return std::nullopt;
    }
    auto entry = passwords_.front();
    passwords_.pop_front();
    if (entry) return FirstCharacters(*entry, 8);
    return std::nullopt;
}

std::optional<std::string> HeadlessUi::AskNewPassword() {
    std::lock_guard lock(mutex_);
    for (;;) {
        if (newPasswords_.empty()) {
            Emit("dialog: set password cancelled (none queued)");
            return std::nullopt;
        }
        auto entry = newPasswords_.front();
        newPasswords_.pop_front();
        if (!entry) return std::nullopt;
        std::string a = FirstCharacters(entry->first, 8), b = FirstCharacters(entry->second, 8);
        if (a == b) return a;
        // The dialog stays open with both fields cleared.
        MessageBox({"新密码两次输入不相同,请重新输入!", "输入错误", MsgButtons::Ok, MsgIcon::Warning, 0, {}});
    }
}

std::optional<std::string> HeadlessUi::OpenFileDialog(const std::vector<FileFilter>&) {
    std::lock_guard lock(mutex_);
    if (opens_.empty()) {
        Emit("dialog: open file cancelled (none queued)");
        return std::nullopt;
    }
    auto p = opens_.front();
    opens_.pop_front();
    return p;
}

std::optional<std::string> HeadlessUi::SaveFileDialog(const std::vector<FileFilter>&) {
    std::lock_guard lock(mutex_);
    if (saves_.empty()) {
        Emit("dialog: save file cancelled (none queued)");
        return std::nullopt;
    }
    auto p = saves_.front();
    saves_.pop_front();
    return p;
}

std::optional<std::string> HeadlessUi::EditCodeDialog(const std::string&, const std::string&) {
    std::lock_guard lock(mutex_);
    if (edits_.empty()) {
        Emit("dialog: edit code cancelled (none queued)");
        return std::nullopt;
    }
    auto p = edits_.front();
    edits_.pop_front();
    return p;
}

void HeadlessUi::Tone(int hz, int ms) {
    std::lock_guard lock(mutex_);
    if (keepRecords) tones_.push_back({hz, ms});
    Emit("tone: " + std::to_string(hz) + " " + std::to_string(ms));
}

void HeadlessUi::StartLinkTimer(int timerId, int periodMs) {
    std::lock_guard lock(mutex_);
    timers_.push_back({timerId, periodMs});
}

void HeadlessUi::OpenWebAddress(const std::string& url) {
    std::lock_guard lock(mutex_);
    web_.push_back(url);
}

void HeadlessUi::SendBusyState(int id, bool busy) {
    std::lock_guard lock(mutex_);
    locked_[id] = busy;
}

void HeadlessUi::CloseMainWindow() {
    std::function<void()> close;
    {
        std::lock_guard lock(mutex_);
        close = onClose;
    }
    if (close) close();
}

void HeadlessUi::QueueAnswer(MsgAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
}
void HeadlessUi::QueuePassword(std::optional<std::string> entry) {
    std::lock_guard lock(mutex_);
    passwords_.push_back(std::move(entry));
}
void HeadlessUi::QueueNewPassword(std::optional<std::pair<std::string, std::string>> entries) {
    std::lock_guard lock(mutex_);
    newPasswords_.push_back(std::move(entries));
}
void HeadlessUi::QueueOpen(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    opens_.push_back(std::move(path));
}
void HeadlessUi::QueueSave(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    saves_.push_back(std::move(path));
}
void HeadlessUi::QueueEdit(std::optional<std::string> text) {
    std::lock_guard lock(mutex_);
    edits_.push_back(std::move(text));
}

void HeadlessUi::DropQueuedAnswers() {
    std::lock_guard lock(mutex_);
    answers_.clear();
    passwords_.clear();
    newPasswords_.clear();
    opens_.clear();
    saves_.clear();
    edits_.clear();
}

bool HeadlessUi::ApplyClick(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || !c->enabled || !c->visible) return false;
    if (Control* parent = Find(c->def.parent); parent && (!parent->visible)) return false;
    if (c->def.kind == ControlKind::Check) {
        c->checked = !c->checked;
    } else if (c->def.kind == ControlKind::Radio) {
        for (auto& [otherId, other] : controls_)
            if (other.def.kind == ControlKind::Radio && other.def.parent == c->def.parent) other.checked = false;
        c->checked = true;
    }
    return true;
}

std::string HeadlessUi::ApplyTyping(int id, const std::string& text) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || c->def.kind != ControlKind::Edit || !c->enabled || (c->def.styles & style::kReadOnly)) return {};
    std::string accepted;
    for (char ch : text) {
        unsigned char u = static_cast<unsigned char>(ch);
        bool ok = true;
        if (c->def.filter == CharFilter::Digits || (c->def.styles & style::kDigitsOnly)) ok = u >= '0' && u <= '9';
        if (ok && c->def.filter == CharFilter::Hex) ok = IsHexChar(u);
        if (!ok) continue;
        if (c->def.styles & style::kUpperCase) ch = char(std::toupper(u));
        accepted += ch;
    }
    c->text += accepted;
    return accepted;
}

bool HeadlessUi::ApplyComboChoice(int id, const std::string& entry) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    if (!c || !c->enabled || !c->visible) return false;
    for (size_t i = 0; i < c->entries.size(); ++i)
        if (c->entries[i] == entry) {
            c->selection = int(i);
            return true;
        }
    return false;
}

bool HeadlessUi::Exists(int id) {
    std::lock_guard lock(mutex_);
    return Find(id) != nullptr;
}

HeadlessUi::Control HeadlessUi::Snapshot(int id) {
    std::lock_guard lock(mutex_);
    Control* c = Find(id);
    return c ? *c : Control{};
}

bool HeadlessUi::Locked(int id) {
    std::lock_guard lock(mutex_);
    auto it = locked_.find(id);
    return it != locked_.end() && it->second;
}

std::vector<HeadlessUi::BoxRecord> HeadlessUi::Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::optional<HeadlessUi::BoxRecord> HeadlessUi::LastBox() {
    std::lock_guard lock(mutex_);
    if (boxes_.empty()) return std::nullopt;
    return boxes_.back();
}

std::vector<std::string> HeadlessUi::Transcript() {
    std::lock_guard lock(mutex_);
    return transcript_;
}

std::vector<std::string> HeadlessUi::StatusHistory() {
    std::lock_guard lock(mutex_);
    return statusHistory_;
}

std::vector<std::string> HeadlessUi::WebAddressesOpened() {
    std::lock_guard lock(mutex_);
    return web_;
}

std::vector<std::pair<int, int>> HeadlessUi::TimersStarted() {
    std::lock_guard lock(mutex_);
    return timers_;
}

std::vector<std::pair<int, int>> HeadlessUi::Tones() {
    std::lock_guard lock(mutex_);
    return tones_;
}

int HeadlessUi::PendingAnswers() {
    std::lock_guard lock(mutex_);
    return int(answers_.size());
}

}  // namespace veldrix
