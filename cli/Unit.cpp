#include "cli/Unit.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "app/CommandHandler.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"
#include "app/ControlTable.h"
#include "app/Dispatch.h"
#include "app/MainWindow.h"
#include "code/ChipCatalogue.h"
#include "code/DownloadMemo.h"
#include "code/CodeBuffer.h"
#include "code/CodeFile.h"
#include "code/Fields.h"
#include "code/HexFile.h"
#include "link/PortDiscovery.h"
#include "link/Session.h"
#include "seams/Files.h"
#include "seams/Platform.h"
#include "state/ControlIds.h"

namespace veldrix::cli {

namespace {

// The exit status of an outcome class. None: nothing ran and nothing said
// why, which only the window's own refusals leave.
int ExitFor(OutcomeClass cls) {
    switch (cls) {
    case OutcomeClass::Success: return kExitOk;
    case OutcomeClass::ChipFailed: return kExitChip;
    case OutcomeClass::LinkFailed: return kExitLink;
    case OutcomeClass::Refused: return kExitRefused;
    case OutcomeClass::UsageOrFile:
    case OutcomeClass::Aborted:
    case OutcomeClass::None: break;
    }
    return kExitUsage;
}

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string AnswerText(MsgAnswer a) {
    switch (a) {
    case MsgAnswer::Ok: return "确定";
    case MsgAnswer::Cancel: return "取消";
    case MsgAnswer::Yes: return "是";
    case MsgAnswer::No: return "否";
    case MsgAnswer::Retry: return "重试";
    }
    return "";
}

// A box's further lines under its first.
std::string Indented(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') continue;
        out += c;
        if (c == '\n') out += "    ";
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
    return out;
}

std::string CaptionWord(const std::string& caption) {
    std::string c = caption;
    while (!c.empty() && (c.front() == '\n' || c.front() == ' ')) c.erase(c.begin());
    while (!c.empty() && (c.back() == ' ' || c.back() == ':')) c.pop_back();
    if (c.size() >= 3 && c.compare(c.size() - 3, 3, "：") == 0) c.resize(c.size() - 3);
    return c.empty() ? "提示" : c;
}

}  // namespace

Unit::Unit(const UnitLinks& links, const Options& options, Output& output)
    : links_(links),
      options_(options),
      output_(output),
      ui_(CliUi::Hooks{
          [this](const std::string& text, bool changed) { OnStatus(text, changed); },
          [this](const MessageBoxSpec& spec, MsgAnswer answer, bool refused) { OnBox(spec, answer, refused); },
          [this]() { return links_.secrets ? links_.secrets->Password() : std::nullopt; },
          [this]() { return links_.secrets ? links_.secrets->NewPassword() : std::nullopt; },
      }) {
    ui_.yes = options.yes;
    ui_.yesTo = options.yesTo;
    ui_.dbWaitSeconds = options.dbWait;
    CoreStores stores;
    stores.records = links.records;
    stores.downloads = links.downloads;
    stores.recordsClock = links.recordsClock;
    stores.recordsPortNote = links.recordsPortNote;
    stores.progress = [this](const ProgressReport& report) { OnProgress(report); };
    core_ = std::make_unique<Core>(ui_, *links.clock, *links.settings, *links.port, *links.directory,
                                   Worker::Mode::Inline, stores);
    ctx_ = &core_->ctx;
    // The command line passes over codes on good chips; it never asks.
    ctx_->idPassOverGood = true;
    // Ctrl-C: the step running finishes, the sequence starts no further one.
    ctx_->haltAfterStep = &InterruptFlag();
}

Unit::~Unit() = default;

double Unit::NowMs() { return double(links_.clock->NowMicros() - links_.epochMicros) / 1000.0; }

void Unit::Emit(const std::string& kind, Json fields, const std::string& text) {
    // The time only where it is shown: on virtual time a reading waits for
    // the other units to catch up.
    output_.Emit(kind, Label(), options_.json || !text.empty() ? NowMs() : 0, std::move(fields), text);
}

void Unit::OnStatus(const std::string& text, bool changed) {
    lastStatus_ = text;
    // The text that shows a progress is the bar's, not a line of its own.
    if (std::exchange(progressText_, false) || !changed) return;
    // Verbose: each text once, also when a progress text came in between.
    bool shown = options_.verbose && text != printedStatus_;
    if (shown) printedStatus_ = text;
    Emit("status", Json{{"text", text}}, shown ? text : std::string());
}

void Unit::OnProgress(const ProgressReport& report) {
    // An operation reports its progress right before the text that shows it.
    progressText_ = true;
    uint64_t span = uint64_t(report.end >= report.start ? report.end - report.start : 0) + 1;
    uint64_t done = report.address > report.start ? report.address - report.start : 0;
    int percent = int(std::min<uint64_t>(100, done * 100 / span));
    // The clock is read only for a progress event someone sees timed.
    const bool timed = options_.json || output_.Style().progressBar;
    output_.Progress(Label(), timed ? NowMs() : 0, report.stage, report.address, percent, done);
    if (options_.verbose && report.stage != printedStatus_) {
        printedStatus_ = report.stage;
        output_.Line(Label(), report.stage, Stream::Message);
    }
}

void Unit::OnBox(const MessageBoxSpec& spec, MsgAnswer answer, bool refused) {
    lastBox_ = spec.text;
    std::string line = CaptionWord(spec.caption) + ": " + Indented(spec.text);
    if (spec.buttons != MsgButtons::Ok) line += " → " + AnswerText(answer) + (refused ? " (未加 --yes)" : "");
    // Quiet: only what warns of a fault, or a question refused.
    if (options_.quiet && !refused && spec.icon != MsgIcon::Warning && spec.icon != MsgIcon::Error) line.clear();
    // info's box is its answer, printed as the value on standard output.
    if (options_.command == "info" && spec.buttons == MsgButtons::Ok && spec.icon != MsgIcon::Warning &&
        spec.icon != MsgIcon::Error)
        line.clear();
    Emit("box",
         Json{{"caption", CaptionWord(spec.caption)},
              {"question", spec.question.empty() ? Json(nullptr) : Json(spec.question)},
              {"text", spec.text},
              {"buttons", ButtonsWord(spec.buttons)},
              {"answer", AnswerWord(answer)},
              {"refused", refused}},
         line);
}

void Unit::BeginStep() {
    stepStartMs_ = NowMs();
    StartOutcome(*ctx_);
    ui_.ResetMarks();
}

int Unit::Judge() {
    // Before anything started the outcome is the window's refusal (a check,
    // a question, no link), or nothing at all; the sequence notes its own
    // class the way it counts the chip.
    return ExitFor(ctx_->outcome.cls);
}

int Unit::EndStep(const std::string& step, bool quiet) {
    int exit = Judge();
    output_.ProgressDone(Label());
    std::string status = Status();
    std::string text = status;
    if (exit == kExitUsage && ui_.questionRefused) text += " (需要 --yes 回答问题)";
    if (exit == kExitUsage && ui_.passwordMissing) {
        std::string why = links_.secrets ? links_.secrets->PasswordProblem() : std::string();
        text += why.empty() ? " (没有可用的操作密码: --password-file 或在终端输入)" : " (" + why + ")";
    } else if (exit == kExitUsage && ui_.newPasswordMissing) {
        std::string why = links_.secrets ? links_.secrets->NewPasswordProblem() : std::string();
        text += " (" + (why.empty() ? std::string("没有新密码") : why) + ")";
    }
    EmitStep(step, exit, status, quiet ? std::string() : text);
    return exit;
}

void Unit::EmitStep(const std::string& step, int exit, const std::string& status, const std::string& text) {
    double took = double(int64_t((NowMs() - stepStartMs_) * 10 + 0.5)) / 10;
    std::string shown = text;
    // Quiet: a step that went well says nothing; verbose: a text just shown
    // as a status change is not shown twice.
    if ((options_.quiet && exit == kExitOk) || (options_.verbose && text == printedStatus_)) shown.clear();
    Emit("step",
         Json{{"step", step}, {"exit", exit}, {"outcome", ExitWord(exit)}, {"status", status}, {"took_ms", took}},
         shown);
}

bool Unit::Halted(const std::string& step) {
    if (!Interrupted()) return false;
    BeginStep();
    EmitStep(step, kExitInterrupted, "", "已中断: " + step + " 未开始");
    return true;
}

int Unit::FileProblem(const std::string& path, const std::string& step) {
    std::string why = FileReadProblem(path);
    if (why.empty()) return kExitOk;
    BeginStep();
    EmitStep(step, kExitUsage, why, "无法读取代码文件 " + path + ": " + why);
    return kExitUsage;
}

int Unit::Operation(int opCode, const std::string& step, bool quiet) {
    if (Halted(step)) return kExitInterrupted;
    BeginStep();
    core_->worker.StartOperation(opCode);
    return EndStep(step, quiet);
}

bool Unit::Click(int controlId) {
    if (!ui_.ApplyClick(controlId)) return false;
    const ControlDef* def = FindControl(controlId);
    OnMainCommand(*ctx_, controlId, def ? def->parent : 0);
    return true;
}

int Unit::Button(int controlId, const std::string& step, bool quiet) {
    if (Halted(step)) return kExitInterrupted;
    BeginStep();
    if (!ui_.IsEnabled(controlId)) {
        EmitStep(step, kExitUsage, "", "所选芯片类型不能进行该操作");
        return kExitUsage;
    }
    Click(controlId);
    return EndStep(step, quiet);
}

int Unit::LoadFile(const std::string& path, const std::string& step) {
    if (Halted(step)) return kExitInterrupted;
    if (int exit = FileProblem(path, step)) return exit;
    BeginStep();
    ui_.SetText(id::kCodeFile, path);
    LoadCodeFile(*ctx_);
    SettleOutcome(*ctx_);
    int exit = ExitFor(ctx_->outcome.cls);
    // A project's code file that cannot be read: its name and why, not only the window's words.
    const std::string named = ui_.GetText(id::kCodeFile);
    if (exit != kExitOk && named != path) {
        if (std::string why = FileReadProblem(named); !why.empty()) {
            EmitStep(step, exit, why, "无法读取代码文件 " + named + " (工程文件 " + path + "): " + why);
            return exit;
        }
    }
    EmitStep(step, exit, Status(), exit == kExitOk && !options_.verbose && step == "load" ? std::string() : Status());
    // A project sets the window as it was saved; the options given here
    // still hold over it. The code-file field now names the project's code
    // file, so a download does not load the project again.
    if (exit == kExitOk && Ending(path) == ".pvx") exit = ApplyOptions(true);
    return exit;
}

int Unit::CheckCodeFile(const std::string& path) {
    if (int exit = FileProblem(path, "file")) return exit;
    std::string why;
    if (!CodeFileMayLoseCode(path, why)) return kExitOk;
    BeginStep();
    if (options_.allowLostCode) {
        lostCodeAllowed_ = true;
        Line("警告: " + Indented(why), Stream::Message);
        return kExitOk;
    }
    EmitStep("file", kExitUsage, why,
             "代码文件中有不会被编程的数据: " + Indented(why) + " (需要 --allow-lost-code 才能使用该文件)");
    return kExitUsage;
}

int Unit::PutCodeInMemory(const std::string& path) {
    if (int exit = CheckCodeFile(path)) return exit;
    if (int exit = LoadFile(path, "load")) return exit;
    ApplyRange();
    if (!options_.noDownload) {
        int exit = Button(id::kRefreshMemory, "download");
        ApplyRange();
        // A range of its own: the memory's sum over it, as the window asks the
        // operator to take before the chip is programmed.
        if (exit == kExitOk && options_.range) exit = Button(id::kMemoryChecksum, "checksum-memory");
        return exit;
    }
    // The memory's 16-bit sum cannot tell two codes apart: the memory is
    // trusted only for the code this PC last downloaded to that port.
    const AddressRange r = ctx_->programmingRange;
    const std::string port = ctx_->rememberedPort.Get();
    std::optional<std::string> last = ctx_->downloads ? ctx_->downloads->Last(port) : std::nullopt;
    if (!last || *last != DownloadDigest(ctx_->codeBuffer, r.start, r.end)) {
        BeginStep();
        const std::string why = "本机最近下载到 " + port + " 的不是该代码文件(或地址范围不同),编程器内存中的代码无法确认";
        EmitStep("checksum-memory", kExitUsage, why, why + " (请先下载, 不加 --no-download)");
        return kExitUsage;
    }
    // The memory's own sum against the file, as the download checks it.
    int exit = Button(id::kMemoryChecksum, "checksum-memory");
    if (exit == kExitOk) ctx_->codeInMemory = 1;
    return exit;
}

std::string Unit::SetBox(int controlId, int value, const char* option) {
    if (value == 0) return {};
    if (!ui_.IsEnabled(controlId)) return std::string("所选芯片不能使用选项 ") + option;
    ui_.SetChecked(controlId, value > 0);
    return {};
}

int Unit::BuildWindow() {
    BeginStep();
    CreateMainControls(*ctx_);
    // Without its chip list the window offers no chip: no call can go on as if it had.
    if (!ctx_->catalogue.loaded) {
        const std::string folder = links_.settings->Read("setup", 260).value_or("");
        const std::string list = JoinPath(folder, "samlist.txt");
        const std::string why = FileReadProblem(list);
        const std::string text = "无法读取芯片列表 " + list + (why.empty() ? "" : ": " + why);
        EmitStep("options", kExitUsage, text, "veldrix-cli: " + text);
        return kExitUsage;
    }
    return ApplyOptions(false);
}

int Unit::ApplyOptions(bool again) {
    const Options& o = options_;
    std::string error;
    auto fail = [&](const std::string& text) {
        EmitStep("options", kExitUsage, text, "veldrix-cli: " + text);
        return kExitUsage;
    };
    if (!o.chip.empty()) {
        int found = -1;
        std::vector<std::string> names;
        for (int i = 0; i < ui_.ComboCount(id::kChipCombo); ++i) {
            names.push_back(ui_.ComboEntry(id::kChipCombo, i));
            if (found < 0 && Upper(names.back()) == Upper(o.chip)) found = i;
        }
        if (found < 0) {
            auto near = Nearest(o.chip, names);
            return fail("芯片列表中没有 " + o.chip + (near.empty() ? "" : ", 是否要用 " + OrList(near) + "?") +
                        " (veldrix-cli chips 列出全部)");
        }
        // Choosing the chip again would put back its default boxes.
        if (!again || ui_.ComboSelection(id::kChipCombo) != found) {
            ui_.ComboSelect(id::kChipCombo, found);
            ApplyChipSelection(*ctx_);
        }
    }
    if (!o.chipType.empty() && !Click(o.chipType == "otp" ? id::kOtp : id::kMtp))
        return fail("所选芯片不能选择芯片类型 " + o.chipType);
    if (!o.vpp.empty() && !Click(o.vpp == "12" ? id::kVpp12 : o.vpp == "11" ? id::kVpp11 : id::kVppVcc))
        return fail("所选芯片不能选择 Vpp " + o.vpp);
    if (!o.vdd.empty() && !Click(o.vdd == "5" ? id::kVdd50 : id::kVdd33)) return fail("所选芯片不能选择 Vdd " + o.vdd);
    if (!o.speed.empty()) {
        int speed = o.speed == "full" ? id::kSpeedFull : o.speed == "medium" ? id::kSpeedMedium : id::kSpeedLow;
        for (int r : {id::kSpeedFull, id::kSpeedMedium, id::kSpeedLow}) ui_.SetChecked(r, r == speed);
    }
    if (o.debug) ui_.SetChecked(id::kDebugMode, o.debug > 0);
    const struct {
        int id, value;
        const char* option;
    } boxes[] = {{id::kAutoBlankCheck, o.blank, "--blank"},     {id::kAutoVerify, o.verify, "--verify"},
                 {id::kAutoReadProtect, o.readProtect, "--read-protect"}, {id::kEnableSmart, o.smart, "--smart"},
                 {id::kAutoLdc, o.ldc, "--ldc"},                  {id::kAutoHwProtect, o.hwProtect, "--hw-protect"}};
    for (const auto& b : boxes)
        if (error = SetBox(b.id, b.value, b.option); !error.empty()) return fail(error);
    if (o.id) {
        if (o.command == "auto" || o.command == "offline")
            if (error = SetBox(id::kAutoIdIncrement, 1, "--id"); !error.empty()) return fail(error);
        ui_.SetText(id::kIdAddress, Hex(o.id->address, 4));
        // The field holds the code of the chip before: the next one gets one more.
        ui_.SetText(id::kCounterCurrent, Dec(o.id->first - 1));
        if (o.id->last) ui_.SetText(id::kCounterEnd, Dec(*o.id->last));
    }
    ApplyRange();
    return kExitOk;
}

void Unit::ApplyRange() {
    if (!options_.range) return;
    ui_.SetText(id::kStartAddress, Hex(options_.range->first, 4));
    ui_.SetText(id::kEndAddress, Hex(options_.range->second, 4));
}

int Unit::Connect() {
    if (Halted("connect")) return kExitInterrupted;
    BeginStep();
    if (links_.fixedPort && !links_.sim) {
        // A port the system will not open: its name and the system's reason,
        // not the window's search.
        if (!links_.port->Open(links_.label)) {
            std::string why = links_.port->OpenError();
            std::string text = "无法打开端口 " + links_.label + (why.empty() ? "" : ": " + why);
            EmitStep("connect", kExitLink, text, text);
            return kExitLink;
        }
        links_.port->Close();
    }
    if (links_.fixedPort) ctx_->rememberedPort = links_.label;
    ConnectProgrammer(*ctx_);
    SettleOutcome(*ctx_);
    int exit = ExitFor(ctx_->outcome.cls);
    if (!links_.fixedPort && exit == kExitOk) links_.label = ctx_->rememberedPort.Get();
    EmitStep("connect", exit, Status(), exit == kExitOk && !options_.verbose ? std::string() : Status());
    return exit;
}

void Unit::CheckLink() {
    // Two ticks of the window's timer: the first notices a vanished adapter,
    // the next searches again.
    for (int tick = 0; tick < 2; ++tick) MonitorLink(*ctx_);
}

}  // namespace veldrix::cli
