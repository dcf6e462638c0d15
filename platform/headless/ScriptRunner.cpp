#include "platform/headless/ScriptRunner.h"

#include <istream>
#include <ostream>

#include "code/ChipCatalogue.h"
#include "app/Core.h"
#include "app/CommandHandler.h"
#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "code/CodeFile.h"
#include "code/RecordFolder.h"
#include "ops/CodePages.h"
#include "platform/headless/MemorySettings.h"
#include "platform/posix/FileSettings.h"
#include "platform/posix/LinuxPortDirectory.h"
#include "platform/posix/PosixPort.h"
#include "platform/posix/RealClock.h"
#include "sim/InProcessProgrammer.h"
#include "sim/SimCommands.h"

namespace veldrix {

namespace {

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool ParseId(const std::string& text, int& id) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    id = std::stoi(text);
    return true;
}

std::pair<std::string, std::string> SplitFirst(const std::string& s) {
    auto blank = s.find(' ');
    if (blank == std::string::npos) return {s, ""};
    return {s.substr(0, blank), s.substr(blank + 1)};
}

// A list row or column; -1 stands for a point outside every row or column.
bool ParseIndex(const std::string& text, int& index) {
    std::string digits = text.rfind('-', 0) == 0 ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    index = std::stoi(text);
    return true;
}

int FunctionKey(const std::string& key) {
    if (key.size() < 2 || key[0] != 'F') return 0;
    int n = std::atoi(key.c_str() + 1);
    return (n >= 2 && n <= 12) ? 0x70 + n - 1 : 0;
}

}  // namespace

ScriptRunner::ScriptRunner(const RunnerOptions& options, std::ostream& out) : out_(out) {
    ui_.onLine = [this](const std::string& line) { out_ << line << '\n'; };
    // "退出编程" closes the window as the close box does: settings first.
    ui_.onClose = [this] {
        if (closed_) return;
        OnWindowDestroy(*ctx_);
        closed_ = true;
    };

    Port* port;
    PortDirectory* directory;
    if (options.port.empty()) {
        virtualTime_ = std::make_unique<sim::VirtualTime>();
        programmer_ = std::make_unique<sim::InProcessProgrammer>(*virtualTime_);
        clock_ = virtualTime_.get();
        port = &programmer_->port;
        directory = &programmer_->adapters;
    } else {
        realClock_ = std::make_unique<RealClock>();
        realPort_ = std::make_unique<PosixPort>();
        realDirectory_ = std::make_unique<LinuxPortDirectory>(options.port);
        clock_ = realClock_.get();
        port = realPort_.get();
        directory = realDirectory_.get();
    }

    std::string installDir = options.installDir.empty() ? std::string(VELDRIX_RESOURCES) : options.installDir;
    if (options.settingsFile.empty()) {
        auto memory = std::make_unique<MemorySettings>();
        memory->values["setup"] = installDir;
        settings_ = std::move(memory);
    } else {
        settings_ = std::make_unique<FileSettings>(options.settingsFile);
        if (!options.installDir.empty()) settings_->Write("setup", options.installDir);
    }

    CoreStores stores;
    if (!options.logDir.empty()) {
        records_ = std::make_unique<RecordFolder>(options.logDir);
        records_->Load();
        stores.records = records_.get();
    }
    core_ = std::make_unique<Core>(ui_, *clock_, *settings_, *port, *directory, Worker::Mode::Inline, stores);
    ctx_ = &core_->ctx;
}

ScriptRunner::~ScriptRunner() {
    core_.reset();
    records_.reset();
    programmer_.reset();
}

int ScriptRunner::Fail(int lineNo, const std::string& what) {
    out_ << "fail: " << lineNo << ": " << what << '\n';
    return 1;
}

int ScriptRunner::ScriptError(int lineNo, const std::string& what) {
    out_ << "error: " << lineNo << ": " << what << '\n';
    return 2;
}

int ScriptRunner::Run(std::istream& script) {
    std::unique_ptr<sim::VirtualTime::Participation> part;
    if (virtualTime_) part = std::make_unique<sim::VirtualTime::Participation>(*virtualTime_);
    std::string line;
    int lineNo = 0;
    while (std::getline(script, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        int status = RunLine(line, lineNo);
        if (status >= 0) return status;
        if (closed_) break;
    }
    return 0;
}

int ScriptRunner::RunLine(const std::string& line, int lineNo) {
    if (line.empty() || line[0] == '#') return -1;
    auto [verb, rest] = SplitFirst(line);
    return Command(verb, rest, lineNo);
}

void ScriptRunner::Click(int id) {
    // The view selectors ignore presses while they show the busy state.
    if ((id == id::kViewMemory || id == id::kViewChip || id == id::kViewAscii) && ui_.Locked(id)) return;
    if (!ui_.ApplyClick(id)) return;  // hidden or disabled controls take no clicks
    if (id == id::kLinkLabel) {
        ui_.OpenWebAddress(MakerWebAddress());
        return;
    }
    const ControlDef* def = FindControl(id);
    if (!def || def->kind == ControlKind::Static || def->kind == ControlKind::Edit ||
        def->kind == ControlKind::Group || def->kind == ControlKind::Combo || def->kind == ControlKind::List)
        return;
    OnMainCommand(*ctx_, id, def->parent);
}

void ScriptRunner::Key(int id, const std::string& key) {
    const ControlDef* def = FindControl(id);
    if (!def || !ui_.IsEnabled(id) || !ui_.IsVisible(id)) return;
    bool button = def->kind == ControlKind::Push || def->kind == ControlKind::Check || def->kind == ControlKind::Radio;
    if (button) {
        if (int vk = FunctionKey(key)) {
            OnFunctionKey(*ctx_, vk);
        } else if (key == "ENTER") {
            if (def->parent == id::kOperationsGroup) OnMainCommand(*ctx_, id, def->parent);
            ui_.SendBusyState(id, true);  // the button class locks itself after Enter
        }
    } else if (def->kind == ControlKind::Edit && key == "ENTER" && id == id::kViewAddress) {
        OnMainCommand(*ctx_, id::kViewSet, id::kViewGroup);
    }
}

void ScriptRunner::DoubleClick(int id) {
    if (!ui_.IsVisible(id)) return;
    switch (id) {
    case id::kCodeFile:
        if (ui_.IsEnabled(id)) OnMainCommand(*ctx_, id::kOpenFile, id::kFileGroup);
        break;
    case id::kStatusLine: OnAbortRequest(*ctx_); break;
    case id::kChecksum: ShowBox(*ctx_, GreetingText(), GreetingCaption()); break;
    default: break;
    }
}

int ScriptRunner::Command(const std::string& verb, const std::string& rest, int lineNo) {
    int id = 0;
    auto needId = [&](const std::string& arg) { return ParseId(arg, id) && ui_.Exists(id); };
    auto [first, tail] = SplitFirst(rest);

    if (verb == "start") {
        InitMainWindow(*ctx_);
        OnTimerTick(*ctx_);
        return -1;
    }
    // Loads the file the code-file field names, without a programmer.
    if (verb == "load") {
        LoadCodeFile(*ctx_);
        out_ << "load: " << (ctx_->LinkErrorFlag ? "failed" : "ok") << ' ' << ui_.GetText(id::kStatusLine) << '\n';
        return -1;
    }
    if (verb == "tick") {
        int n = rest.empty() ? 1 : std::atoi(rest.c_str());
        if (n <= 0) return ScriptError(lineNo, "tick wants a positive count");
        for (int i = 0; i < n; ++i) {
            clock_->Sleep(1000);
            OnTimerTick(*ctx_);
        }
        return -1;
    }
    if (verb == "dblclick" && ParseId(first, id) && id == id::kCodeList) {
        // dblclick 159 ROW COL: a double-click on a cell of the code list.
        auto [rowText, columnText] = SplitFirst(tail);
        int row, column;
        if (!ParseIndex(rowText, row) || !ParseIndex(columnText, column))
            return ScriptError(lineNo, "dblclick 159 wants ROW COL");
        if (ui_.IsVisible(id)) EditCodeByte(*ctx_, row, column);
        return -1;
    }
    if (verb == "expect-cell") {
        // expect-cell ROW COL TEXT; an empty TEXT means an empty cell.
        auto [columnText, want] = SplitFirst(tail);
        int row, column;
        if (!ParseIndex(first, row) || !ParseIndex(columnText, column))
            return ScriptError(lineNo, "expect-cell wants ROW COL TEXT");
        std::string have = ui_.ListCell(id::kCodeList, row, column);
        if (have != want)
            return Fail(lineNo, "cell " + first + " " + columnText + " holds \"" + HeadlessUi::Escape(have) + "\"");
        return -1;
    }
    if (verb == "click" || verb == "dblclick") {
        if (!needId(rest)) return ScriptError(lineNo, "no control " + rest);
        verb == "click" ? Click(id) : DoubleClick(id);
        return -1;
    }
    if (verb == "key") {
        if (!needId(first) || tail.empty()) return ScriptError(lineNo, "key wants ID KEY");
        Key(id, tail);
        return -1;
    }
    if (verb == "type" || verb == "set" || verb == "select") {
        if (!needId(first)) return ScriptError(lineNo, "no control " + first);
        if (verb == "type") {
            ui_.ApplyTyping(id, tail);
        } else if (verb == "set") {
            ui_.SetText(id, tail);
        } else {
            if (!ui_.ApplyComboChoice(id, tail)) return Fail(lineNo, "no entry " + tail + " in " + first);
            if (id == id::kChipCombo) ApplyChipSelection(*ctx_);
        }
        return -1;
    }
    if (verb == "answer") {
        if (rest == "yes") ui_.QueueAnswer(MsgAnswer::Yes);
        else if (rest == "no") ui_.QueueAnswer(MsgAnswer::No);
        else if (rest == "ok") ui_.QueueAnswer(MsgAnswer::Ok);
        else if (rest == "cancel") ui_.QueueAnswer(MsgAnswer::Cancel);
        else return ScriptError(lineNo, "answer wants yes, no, ok or cancel");
        return -1;
    }
    if (verb == "password") {
        ui_.QueuePassword(rest.empty() ? std::nullopt : std::optional<std::string>(rest));
        return -1;
    }
    if (verb == "newpassword") {
        if (rest.empty()) ui_.QueueNewPassword(std::nullopt);
        else ui_.QueueNewPassword(std::make_pair(first, tail));
        return -1;
    }
    if (verb == "open" || verb == "save" || verb == "edit") {
        std::optional<std::string> v = rest.empty() ? std::nullopt : std::optional<std::string>(rest);
        if (verb == "open") ui_.QueueOpen(v);
        else if (verb == "save") ui_.QueueSave(v);
        else ui_.QueueEdit(v);
        return -1;
    }
    if (verb == "wait") {
        // Operations run to their end on this thread.
        return -1;
    }
    if (verb == "expect") {
        if (!needId(first)) return ScriptError(lineNo, "no control " + first);
        std::string have = ui_.GetText(id);
        if (have != Unescape(tail))
            return Fail(lineNo, "control " + first + " holds \"" + HeadlessUi::Escape(have) + "\"");
        return -1;
    }
    if (verb == "expect-status") {
        std::string have = ui_.GetText(id::kStatusLine);
        if (have != Unescape(rest)) return Fail(lineNo, "status line holds \"" + HeadlessUi::Escape(have) + "\"");
        return -1;
    }
    if (verb == "expect-box") {
        auto box = ui_.LastBox();
        if (!box) return Fail(lineNo, "no message box was shown");
        if (box->spec.text != Unescape(rest))
            return Fail(lineNo, "last box says \"" + HeadlessUi::Escape(box->spec.text) + "\"");
        return -1;
    }
    if (verb == "expect-on" || verb == "expect-off" || verb == "expect-enabled" || verb == "expect-disabled" ||
        verb == "expect-visible" || verb == "expect-hidden") {
        if (!needId(rest)) return ScriptError(lineNo, "no control " + rest);
        bool want = verb == "expect-on" || verb == "expect-enabled" || verb == "expect-visible";
        bool have = (verb == "expect-on" || verb == "expect-off")           ? ui_.IsChecked(id)
                    : (verb == "expect-enabled" || verb == "expect-disabled") ? ui_.IsEnabled(id)
                                                                              : ui_.IsVisible(id);
        if (have != want) return Fail(lineNo, "control " + rest + " is not " + verb.substr(7));
        return -1;
    }
    if (verb == "print") {
        if (!needId(rest)) return ScriptError(lineNo, "no control " + rest);
        out_ << "print: " << rest << ": " << HeadlessUi::Escape(ui_.GetText(id)) << '\n';
        return -1;
    }
    if (verb == "sim") {
        if (!programmer_) return ScriptError(lineNo, "sim commands need the simulated programmer");
        std::string output, error;
        bool ok = sim::RunSimCommand(programmer_->state, programmer_->adapters, rest, output, error);
        if (!output.empty()) {
            size_t pos = 0;
            while (pos < output.size()) {
                size_t nl = output.find('\n', pos);
                if (nl == std::string::npos) nl = output.size();
                out_ << "sim: " << output.substr(pos, nl - pos) << '\n';
                pos = nl + 1;
            }
        }
        if (!ok) return error.rfind("usage", 0) == 0 || error.rfind("unknown", 0) == 0 ? ScriptError(lineNo, error)
                                                                                      : Fail(lineNo, error);
        return -1;
    }
    if (verb == "quit") {
        OnWindowDestroy(*ctx_);
        closed_ = true;
        return -1;
    }
    return ScriptError(lineNo, "unknown command " + verb);
}

}  // namespace veldrix
