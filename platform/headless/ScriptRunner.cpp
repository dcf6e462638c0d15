#include "platform/headless/ScriptRunner.h"

#include <istream>
#include <ostream>

#include "code/ChipCatalogue.h"
#include "app/Core.h"
#include "app/CommandHandler.h"
#include "state/ControlIds.h"
#include "app/MainWindow.h"
#include "code/CodeFile.h"
#include <filesystem>

#include "platform/odbc/RecordsFactory.h"
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

// The control a word names, when the window has it.
bool ControlNamed(HeadlessUi& ui, const std::string& text, int& id) { return ParseId(text, id) && ui.Exists(id); }

// An empty rest: the dialog is cancelled.
std::optional<std::string> Given(const std::string& rest) {
    return rest.empty() ? std::nullopt : std::optional<std::string>(rest);
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
    if (!options.trace.empty()) {
        tracingPort_ = std::make_unique<TracingPort>(*port, *clock_, TraceFile::Single(options.trace));
        port = tracingPort_.get();
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
    if (!options.recordsConnection.empty() || !options.logDir.empty()) {
        // Records wait beside the settings while the server is away.
        std::string beside = std::filesystem::path(options.settingsFile).parent_path().string();
        records_ = MakeRecords({options.recordsConnection, options.recordsName, options.logDir,
                                options.recordsConnection.empty() ? "" : beside.empty() ? "." : beside, ComputerName(),
                                VELDRIX_VERSION})
                       .store;
    }
    stores.records = records_.get();
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

// One script command: its name, what follows it (in the words its errors
// use), and what it does: -1 to go on, else the exit status.
struct ScriptRunner::Verb {
    const char* name;
    const char* takes;
    int (*run)(ScriptRunner& runner, const Args& args);
};

// What follows the verb of a line: the rest, and the rest split again at its
// first blank.
struct ScriptRunner::Args {
    const Verb& verb;
    const std::string& rest;
    std::string first, tail;
    int lineNo;

    // The words after the verb are not what it takes.
    std::string Wants() const { return std::string(verb.name) + " wants " + verb.takes; }
};

const std::vector<ScriptRunner::Verb>& ScriptRunner::Verbs() {
    using R = ScriptRunner;
    // expect-on ID and its kin: whether one state of a control is as wanted.
    static const auto expectState = [](R& r, const Args& a, bool (HeadlessUi::*state)(int), bool want) {
        int id = 0;
        if (!ControlNamed(r.ui_, a.rest, id)) return r.ScriptError(a.lineNo, "no control " + a.rest);
        if ((r.ui_.*state)(id) != want)
            return r.Fail(a.lineNo, "control " + a.rest + " is not " + std::string(a.verb.name).substr(7));
        return -1;
    };
    static const std::vector<Verb> verbs = {
        {"start", "", [](R& r, const Args&) {
             InitMainWindow(*r.ctx_);
             OnTimerTick(*r.ctx_);
             return -1;
         }},
        // Loads the file the code-file field names, without a programmer.
        {"load", "", [](R& r, const Args&) {
             LoadCodeFile(*r.ctx_);
             r.out_ << "load: " << (r.ctx_->LinkErrorFlag ? "failed" : "ok") << ' ' << r.ui_.GetText(id::kStatusLine)
                    << '\n';
             return -1;
         }},
        {"tick", "a positive count", [](R& r, const Args& a) {
             int n = a.rest.empty() ? 1 : std::atoi(a.rest.c_str());
             if (n <= 0) return r.ScriptError(a.lineNo, a.Wants());
             for (int i = 0; i < n; ++i) {
                 r.clock_->Sleep(1000);
                 OnTimerTick(*r.ctx_);
             }
             return -1;
         }},
        {"click", "ID", [](R& r, const Args& a) {
             int id = 0;
             if (!ControlNamed(r.ui_, a.rest, id)) return r.ScriptError(a.lineNo, "no control " + a.rest);
             r.Click(id);
             return -1;
         }},
        {"dblclick", "ID | 159 ROW COL", [](R& r, const Args& a) {
             int id = 0;
             if (ParseId(a.first, id) && id == id::kCodeList) {
                 // dblclick 159 ROW COL: a double-click on a cell of the code list.
                 auto [rowText, columnText] = SplitFirst(a.tail);
                 int row, column;
                 if (!ParseIndex(rowText, row) || !ParseIndex(columnText, column))
                     return r.ScriptError(a.lineNo, "dblclick 159 wants ROW COL");
                 if (r.ui_.IsVisible(id)) EditCodeByte(*r.ctx_, row, column);
                 return -1;
             }
             if (!ControlNamed(r.ui_, a.rest, id)) return r.ScriptError(a.lineNo, "no control " + a.rest);
             r.DoubleClick(id);
             return -1;
         }},
        {"key", "ID KEY", [](R& r, const Args& a) {
             int id = 0;
             if (!ControlNamed(r.ui_, a.first, id) || a.tail.empty()) return r.ScriptError(a.lineNo, a.Wants());
             r.Key(id, a.tail);
             return -1;
         }},
        {"type", "ID TEXT", [](R& r, const Args& a) {
             int id = 0;
             if (!ControlNamed(r.ui_, a.first, id)) return r.ScriptError(a.lineNo, "no control " + a.first);
             r.ui_.ApplyTyping(id, a.tail);
             return -1;
         }},
        {"set", "ID TEXT", [](R& r, const Args& a) {
             int id = 0;
             if (!ControlNamed(r.ui_, a.first, id)) return r.ScriptError(a.lineNo, "no control " + a.first);
             r.ui_.SetText(id, a.tail);
             return -1;
         }},
        {"select", "ID ENTRY", [](R& r, const Args& a) {
             int id = 0;
             if (!ControlNamed(r.ui_, a.first, id)) return r.ScriptError(a.lineNo, "no control " + a.first);
             if (!r.ui_.ApplyComboChoice(id, a.tail)) return r.Fail(a.lineNo, "no entry " + a.tail + " in " + a.first);
             if (id == id::kChipCombo) ApplyChipSelection(*r.ctx_);
             return -1;
         }},
        {"answer", "yes, no, ok, cancel or retry", [](R& r, const Args& a) {
             if (a.rest == "yes") r.ui_.QueueAnswer(MsgAnswer::Yes);
             else if (a.rest == "no") r.ui_.QueueAnswer(MsgAnswer::No);
             else if (a.rest == "ok") r.ui_.QueueAnswer(MsgAnswer::Ok);
             else if (a.rest == "cancel") r.ui_.QueueAnswer(MsgAnswer::Cancel);
             else if (a.rest == "retry") r.ui_.QueueAnswer(MsgAnswer::Retry);
             else return r.ScriptError(a.lineNo, a.Wants());
             return -1;
         }},
        {"password", "[TEXT]", [](R& r, const Args& a) {
             r.ui_.QueuePassword(Given(a.rest));
             return -1;
         }},
        {"newpassword", "[OLD NEW]", [](R& r, const Args& a) {
             if (a.rest.empty()) r.ui_.QueueNewPassword(std::nullopt);
             else r.ui_.QueueNewPassword(std::make_pair(a.first, a.tail));
             return -1;
         }},
        {"open", "[PATH]", [](R& r, const Args& a) {
             r.ui_.QueueOpen(Given(a.rest));
             return -1;
         }},
        {"save", "[PATH]", [](R& r, const Args& a) {
             r.ui_.QueueSave(Given(a.rest));
             return -1;
         }},
        {"edit", "[TEXT]", [](R& r, const Args& a) {
             r.ui_.QueueEdit(Given(a.rest));
             return -1;
         }},
        // Operations run to their end on this thread.
        {"wait", "", [](R&, const Args&) { return -1; }},
        {"expect", "ID TEXT", [](R& r, const Args& a) {
             int id = 0;
             if (!ControlNamed(r.ui_, a.first, id)) return r.ScriptError(a.lineNo, "no control " + a.first);
             std::string have = r.ui_.GetText(id);
             if (have != Unescape(a.tail))
                 return r.Fail(a.lineNo, "control " + a.first + " holds \"" + HeadlessUi::Escape(have) + "\"");
             return -1;
         }},
        {"expect-status", "TEXT", [](R& r, const Args& a) {
             std::string have = r.ui_.GetText(id::kStatusLine);
             if (have != Unescape(a.rest))
                 return r.Fail(a.lineNo, "status line holds \"" + HeadlessUi::Escape(have) + "\"");
             return -1;
         }},
        {"expect-box", "TEXT", [](R& r, const Args& a) {
             auto box = r.ui_.LastBox();
             if (!box) return r.Fail(a.lineNo, "no message box was shown");
             if (box->spec.text != Unescape(a.rest))
                 return r.Fail(a.lineNo, "last box says \"" + HeadlessUi::Escape(box->spec.text) + "\"");
             return -1;
         }},
        // expect-cell ROW COL TEXT; an empty TEXT means an empty cell.
        {"expect-cell", "ROW COL TEXT", [](R& r, const Args& a) {
             auto [columnText, want] = SplitFirst(a.tail);
             int row, column;
             if (!ParseIndex(a.first, row) || !ParseIndex(columnText, column)) return r.ScriptError(a.lineNo, a.Wants());
             std::string have = r.ui_.ListCell(id::kCodeList, row, column);
             if (have != want)
                 return r.Fail(a.lineNo,
                               "cell " + a.first + " " + columnText + " holds \"" + HeadlessUi::Escape(have) + "\"");
             return -1;
         }},
        {"expect-on", "ID", [](R& r, const Args& a) { return expectState(r, a, &HeadlessUi::IsChecked, true); }},
        {"expect-off", "ID", [](R& r, const Args& a) { return expectState(r, a, &HeadlessUi::IsChecked, false); }},
        {"expect-enabled", "ID", [](R& r, const Args& a) { return expectState(r, a, &HeadlessUi::IsEnabled, true); }},
        {"expect-disabled", "ID", [](R& r, const Args& a) { return expectState(r, a, &HeadlessUi::IsEnabled, false); }},
        {"expect-visible", "ID", [](R& r, const Args& a) { return expectState(r, a, &HeadlessUi::IsVisible, true); }},
        {"expect-hidden", "ID", [](R& r, const Args& a) { return expectState(r, a, &HeadlessUi::IsVisible, false); }},
        {"print", "ID", [](R& r, const Args& a) {
             int id = 0;
             if (!ControlNamed(r.ui_, a.rest, id)) return r.ScriptError(a.lineNo, "no control " + a.rest);
             r.out_ << "print: " << a.rest << ": " << HeadlessUi::Escape(r.ui_.GetText(id)) << '\n';
             return -1;
         }},
        {"sim", "COMMAND", [](R& r, const Args& a) {
             if (!r.programmer_) return r.ScriptError(a.lineNo, "sim commands need the simulated programmer");
             std::string output, error;
             bool ok = sim::RunSimCommand(r.programmer_->state, r.programmer_->adapters, a.rest, output, error);
             if (!output.empty()) {
                 size_t pos = 0;
                 while (pos < output.size()) {
                     size_t nl = output.find('\n', pos);
                     if (nl == std::string::npos) nl = output.size();
                     r.out_ << "sim: " << output.substr(pos, nl - pos) << '\n';
                     pos = nl + 1;
                 }
             }
             if (!ok)
                 return error.rfind("usage", 0) == 0 || error.rfind("unknown", 0) == 0 ? r.ScriptError(a.lineNo, error)
                                                                                       : r.Fail(a.lineNo, error);
             return -1;
         }},
        {"quit", "", [](R& r, const Args&) {
             OnWindowDestroy(*r.ctx_);
             r.closed_ = true;
             return -1;
         }},
    };
    return verbs;
}

int ScriptRunner::Command(const std::string& verb, const std::string& rest, int lineNo) {
    for (const Verb& v : Verbs())
        if (verb == v.name) {
            auto [first, tail] = SplitFirst(rest);
            return v.run(*this, Args{v, rest, first, tail, lineNo});
        }
    return ScriptError(lineNo, "unknown command " + verb);
}

}  // namespace veldrix
