#include "cli/Commands.h"

#include <algorithm>
#include <cctype>

#include "app/ControlTable.h"
#include "cli/Interrupt.h"
#include "cli/ReadOut.h"
#include "cli/Subcommands.h"
#include "cli/Text.h"
#include "code/ChipCatalogue.h"
#include "code/CodeBuffer.h"
#include "code/CodeFile.h"
#include "code/Fields.h"
#include "code/HexFile.h"
#include "link/Session.h"
#include "ops/ProductionLog.h"
#include "sim/InProcessProgrammer.h"
#include "sim/SimCommands.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"

namespace veldrix::cli {

namespace {

// The sum the last step found, in the window's four digits; nothing when it found none.
Json ChecksumOf(const OperationOutcome& outcome) {
    return outcome.checksum ? Json(Hex(*outcome.checksum, 4)) : Json(nullptr);
}

void SelectBlock(Unit& unit, int block) { unit.Window().ComboSelect(id::kDirectory, block - 1); }

// The offline panel after a file information read.
int ReportBlock(Unit& unit, int block, bool holdsFile) {
    CliUi& ui = unit.Window();
    Json fields{{"block", block}, {"file", holdsFile}};
    std::string text = "目录块 " + std::to_string(block) + ": ";
    if (!holdsFile) {
        text += "无文件";
    } else {
        fields["name"] = ui.GetText(id::kOfflineFileName);
        fields["chip"] = ui.GetText(id::kOfflineChip);
        fields["checksum"] = ui.GetText(id::kOfflineChecksum);
        fields["current"] = ui.GetText(id::kCounterCurrent);
        fields["end"] = ui.GetText(id::kCounterEnd);
        fields["id_address"] = ui.GetText(id::kIdAddress);
        text += ui.GetText(id::kOfflineFileName) + "  芯片 " + ui.GetText(id::kOfflineChip) + "  检查和 " +
                ui.GetText(id::kOfflineChecksum) + "  计数器 " + ui.GetText(id::kCounterCurrent) + "/" +
                ui.GetText(id::kCounterEnd) + "  ID码地址 " + ui.GetText(id::kIdAddress);
    }
    unit.Emit("block", fields, text);
    return kExitOk;
}

// One block's information; an empty block is an answer, not a failure, when
// the unit said so (the panel then shows the empty block).
int ReadBlock(Unit& unit, int block, bool& holdsFile) {
    SelectBlock(unit, block);
    int exit = unit.Button(id::kReadFileInfo, "offline-info", true);
    holdsFile = exit == kExitOk;
    if (exit == kExitChip && unit.Context().outcome.blockEmpty) exit = kExitOk;
    if (exit != kExitOk) unit.Line(unit.Status(), Stream::Message);
    return exit;
}

// offline WHAT: each word's steps.
int OfflineList(Unit& unit, const Options&, SharedIds*, UnitRecord& record) {
    Json blocks = Json::array();
    for (int block = 1; block <= 15; ++block) {
        bool holdsFile = false;
        if (int exit = ReadBlock(unit, block, holdsFile)) return exit;
        ReportBlock(unit, block, holdsFile);
        if (holdsFile) blocks.push_back(block);
    }
    record.extra["blocks_with_file"] = blocks;
    return kExitOk;
}

int OfflineInfo(Unit& unit, const Options& o, SharedIds*, UnitRecord&) {
    bool holdsFile = false;
    int exit = ReadBlock(unit, o.block, holdsFile);
    // An empty block is an answer too: "file": false.
    if (exit == kExitOk) ReportBlock(unit, o.block, holdsFile);
    return exit;
}

int OfflineMake(Unit& unit, const Options& o, SharedIds*, UnitRecord&) {
    if (!o.file.empty())
        if (int exit = unit.PutCodeInMemory(o.file)) return exit;
    SelectBlock(unit, o.block);
    return unit.Button(id::kMakeOfflineFile, "offline-make");
}

int OfflineDelete(Unit& unit, const Options& o, SharedIds*, UnitRecord&) {
    SelectBlock(unit, o.block);
    return unit.Button(id::kDeleteFile, "offline-delete");
}

int OfflineLoad(Unit& unit, const Options& o, SharedIds*, UnitRecord&) {
    SelectBlock(unit, o.block);
    return unit.Button(id::kReadFileToMemory, "offline-load");
}

std::string HexIssueKind(HexIssue::Kind kind) {
    switch (kind) {
    case HexIssue::Kind::Checksum: return "checksum";
    case HexIssue::Kind::OutOfBuffer: return "out-of-buffer";
    case HexIssue::Kind::NoRecordMark: return "no-record-mark";
    case HexIssue::Kind::BadCharacter: return "bad-character";
    case HexIssue::Kind::TooShort: return "too-short";
    case HexIssue::Kind::BadLengthField: return "bad-length-field";
    case HexIssue::Kind::LengthMismatch: return "length-mismatch";
    case HexIssue::Kind::UnknownType: return "unknown-type";
    case HexIssue::Kind::Above16Bit: return "above-16-bit";
    }
    return "";
}

// The texts live beside the diagnosis, which the check before a subcommand
// words the same way.
std::string HexIssueText(const HexIssue& issue) { return DescribeHexIssue(issue); }

// Every line of a HEX file the loader refuses or passes over, and the first
// record with data above 0xFFFF (the load's own box warns of that too).
void DiagnoseHex(Unit& unit, const std::string& path, UnitRecord& record) {
    HexDiagnosis d = DiagnoseHexFile(path, 200);
    if (!d.readOk) return;
    for (const HexIssue& issue : d.issues)
        unit.Emit("hex-issue",
                  Json{{"line", issue.line}, {"kind", HexIssueKind(issue.kind)}, {"refused", issue.refused},
                       {"text", HexIssueText(issue)}},
                  "第" + std::to_string(issue.line) + "行: " + HexIssueText(issue));
    if (d.moreIssues) unit.Line("另有 " + std::to_string(d.moreIssues) + " 行有问题", Stream::Result);
    record.extra["hex_lines"] = d.lines;
    record.extra["hex_issues"] = d.issues.size() + d.moreIssues;
    record.extra["hex_may_lose_code"] = d.MayLoseCode();
    if (!d.refused && d.highestEnd == 0) {
        unit.Emit("hex-issue", Json{{"line", nullptr}, {"kind", "no-data"}, {"refused", true}, {"text", "文件中没有数据记录"}},
                  "文件中没有数据记录");
    }
}

}  // namespace

const char* OutcomeText(int exit) {
    switch (exit) {
    case kExitOk: return "成功";
    case kExitChip: return "芯片失败";
    case kExitLink: return "连接失败";
    case kExitUsage: return "用法或文件错误";
    case kExitRefused: return "编程器拒绝";
    case kExitIdUsedUp: return "ID码已用完";
    case kExitInterrupted: return "已中断";
    }
    return "";
}

std::string IdList(const std::vector<uint32_t>& ids) {
    std::vector<uint32_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    std::string out;
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1) ++j;
        if (!out.empty()) out += ", ";
        out += std::to_string(sorted[i]);
        if (j > i) out += "–" + std::to_string(sorted[j]);
        i = j + 1;
    }
    return out;
}

bool SimCommandFor(const std::string& spec, int number, std::string& command) {
    size_t colon = spec.find(':');
    bool numbered = colon != std::string::npos && colon > 0 &&
                    spec.find_first_not_of("0123456789") == colon;
    if (!numbered) {
        command = spec;
        return true;
    }
    command = spec.substr(colon + 1);
    return std::stoi(spec.substr(0, colon)) == number;
}

bool SimDo(Unit& unit, const std::string& command, std::string& error) {
    sim::InProcessProgrammer* sim = unit.Sim();
    if (!sim) {
        error = "--sim-do 只用于模拟编程器";
        return false;
    }
    std::string output;
    bool ok = sim::RunSimCommand(sim->state, sim->adapters, command, output, error);
    if (!output.empty()) unit.Line(output, Stream::Message);
    return ok;
}

void FreshSimChip(Unit& unit) {
    AppContext& ctx = unit.Context();
    std::string kind = unit.Window().IsChecked(id::kMtp) ? "mtp" : "otp";
    std::string error;
    SimDo(unit, "chip " + kind + " blank " + Hex(ChipMaxRomAddress(ctx) + 1, 4), error);
}

int PrepareUnit(Unit& unit, const Options& o) {
    if (int exit = unit.BuildWindow()) return exit;
    if (unit.Sim()) {
        FreshSimChip(unit);
        for (const std::string& spec : o.simDo) {
            std::string command, error;
            if (!SimCommandFor(spec, unit.Number(), command)) continue;
            if (!SimDo(unit, command, error)) {
                unit.BeginStep();
                unit.EmitStep("sim", kExitUsage, error, "--sim-do " + spec + ": 模拟编程器无法执行该命令 (" + error + ")");
                return kExitUsage;
            }
        }
    }
    return unit.Connect();
}

namespace {

// The chip event and line of a chip attempt, in the unit's counts.
void ReportChip(Unit& unit, UnitRecord& record, int exit, std::optional<uint32_t> idWritten) {
    AppContext& ctx = unit.Context();
    std::string text = "第" + std::to_string(record.chips) + "片: " + OutcomeText(exit) + "  良品 " +
                       std::to_string(ctx.successCount) + "  不良品 " + std::to_string(ctx.failureCount);
    if (idWritten && exit == kExitOk) text += "  ID码 " + std::to_string(*idWritten);
    unit.Emit("chip",
              Json{{"chip", record.chips},
                   {"exit", exit},
                   {"outcome", ExitWord(exit)},
                   {"good", ctx.successCount},
                   {"bad", ctx.failureCount},
                   {"id", idWritten && exit == kExitOk ? Json(*idWritten) : Json(nullptr)}},
              text);
}

// A chip that never reached the sequence (no link, no code in the unit) is
// still a chip tried: it is counted and recorded as the sequence would.
int ChipNotStarted(Unit& unit, UnitRecord& record, int exit) {
    ++record.chips;
    RecordedRun(unit.Context()).Finish(exit == kExitLink ? RecordResult::Link : RecordResult::Stopped);
    ReportChip(unit, record, exit, std::nullopt);
    return exit;
}

}  // namespace

void RecordChipWithoutLink(Unit& unit, UnitRecord& record) { ChipNotStarted(unit, record, kExitLink); }

int RunChip(Unit& unit, const Options& o, SharedIds* ids, UnitRecord& record) {
    AppContext& ctx = unit.Context();
    CliUi& ui = unit.Window();
    // After a Ctrl-C no further chip is tried.
    if (Interrupted()) {
        record.stopped = true;
        return kExitInterrupted;
    }
    if (!record.codeReady) {
        if (!ctx.ConnectedFlag)
            if (int exit = unit.Connect()) return ChipNotStarted(unit, record, exit);
        if (!o.file.empty())
            if (int exit = unit.PutCodeInMemory(o.file)) return ChipNotStarted(unit, record, exit);
        record.codeReady = true;
    }
    // The ID code on: from --id, or from the project file the code came with.
    IdSequence* sequence = nullptr;
    std::optional<uint32_t> offered;
    if (ids && ui.IsChecked(id::kAutoIdIncrement) && ui.IsEnabled(id::kAutoIdIncrement)) {
        std::string field = ui.GetText(id::kCounterCurrent);
        uint32_t fieldNext = field.empty() || field.find_first_not_of("0123456789") != std::string::npos
                                 ? 1
                                 : uint32_t(std::min<uint64_t>(std::stoull(field.substr(0, 9)) + 1, 0xFFFFFF));
        sequence = &ids->For(fieldNext);
        offered = sequence->Take();
        if (!offered) {
            record.stopped = true;
            unit.BeginStep();
            const std::string text = "ID码已用完: 到终止值 " + std::to_string(sequence->Last().value_or(0xFFFFFF)) +
                                     " 为止的ID码都已写入良品芯片, 不再编程芯片";
            unit.EmitStep("id", kExitIdUsedUp, "ID码已用完", text);
            return kExitIdUsedUp;
        }
        // The field holds the code of the chip before; the sequence adds one.
        ui.SetText(id::kCounterCurrent, Dec(*offered - 1));
        ctx.idLastCode = sequence->Last().value_or(0xFFFFFF);
    }
    if (record.chips > 0) unit.CheckLink();
    const uint32_t recorded = ctx.recordedRuns;
    int exit = unit.Button(id::kAutoProgram, "auto");
    ++record.chips;
    // Refused before the sequence (no link, a check of the window): still a chip tried.
    if (ctx.recordedRuns == recorded)
        RecordedRun(ctx).Finish(exit == kExitLink ? RecordResult::Link : RecordResult::Stopped);
    const std::optional<uint32_t> written = ctx.outcome.idWritten;
    if (sequence) sequence->Settle(*offered, ctx.outcome.idTaken, exit == kExitOk);
    if (written && exit == kExitOk) record.ids.push_back(*written);
    // A chip the window's checks refused will be refused again.
    if (exit == kExitUsage) record.stopped = true;
    // Halted by Ctrl-C: the sequence counted and recorded the chip by its own
    // outcome, and so is it reported here, whenever the signal came; only a
    // chip it stopped before any step is the interruption's. No other follows.
    if (Interrupted()) {
        record.stopped = true;
        if (ctx.outcome.cls == OutcomeClass::Aborted) exit = kExitInterrupted;
    }
    ReportChip(unit, record, exit, written);
    return exit;
}

namespace {

// The steps of the subcommands, for the table below.

// A file given goes into the programmer's memory first.
int WithCode(Unit& unit, const Options& o) { return o.file.empty() ? kExitOk : unit.PutCodeInMemory(o.file); }

int Download(Unit& unit, const Options& o, SharedIds*, UnitRecord&) { return unit.PutCodeInMemory(o.file); }

int Info(Unit& unit, const Options&, SharedIds*, UnitRecord& record) {
    // The firmware's texts come in a box; a failure also says so below it.
    int exit = unit.Operation(op::kInfo, "info", true);
    record.extra["text"] = unit.LastBox();
    if (exit != kExitOk) unit.Line(unit.Status(), Stream::Message);
    else unit.Line(unit.LastBox(), Stream::Result);  // the answer asked for, also with -q
    return exit;
}

int Program(Unit& unit, const Options& o, SharedIds*, UnitRecord&) {
    if (int exit = WithCode(unit, o)) return exit;
    ReadProgrammingRange(unit.Context());  // as the sequence's program step has it
    return unit.Operation(op::kProgram, "program");
}

int Verify(Unit& unit, const Options& o, SharedIds*, UnitRecord&) {
    if (int exit = WithCode(unit, o)) return exit;
    return unit.Button(id::kVerifyChip, "verify");
}

int ChecksumChip(Unit& unit, const Options&, SharedIds*, UnitRecord& record) {
    int exit = unit.Button(id::kChipChecksum, "checksum-chip");
    record.extra["checksum"] = ChecksumOf(unit.Context().outcome);
    if (unit.Context().outcome.checksum) unit.Line(Hex(*unit.Context().outcome.checksum, 4), Stream::Result);
    return exit;
}

int ChecksumMemory(Unit& unit, const Options& o, SharedIds*, UnitRecord& record) {
    int exit;
    if ((exit = unit.CheckCodeFile(o.file))) return exit;
    if ((exit = unit.LoadFile(o.file, "load"))) return exit;
    unit.ApplyRange();
    exit = unit.Button(id::kMemoryChecksum, "checksum-memory");
    record.extra["checksum"] = ChecksumOf(unit.Context().outcome);
    return exit;
}

int SetLock(Unit& unit, bool lock) {
    // The click turns the box to what the operation then sends.
    unit.Window().SetChecked(id::kLockProgrammer, !lock);
    return unit.Button(id::kLockProgrammer, lock ? "lock" : "unlock");
}

int Blank(Unit& unit, const Options&, SharedIds*, UnitRecord&) { return unit.Button(id::kBlankCheck, "blank"); }
int Erase(Unit& unit, const Options&, SharedIds*, UnitRecord&) { return unit.Button(id::kEraseMtp, "erase"); }
int Password(Unit& unit, const Options&, SharedIds*, UnitRecord&) { return unit.Button(id::kSetPassword, "password"); }
int Lock(Unit& unit, const Options&, SharedIds*, UnitRecord&) { return SetLock(unit, true); }
int Unlock(Unit& unit, const Options&, SharedIds*, UnitRecord&) { return SetLock(unit, false); }

// protect WHAT: the buttons, and the operation that depends on the debug mode.
int ProtectButton(Unit& unit, const Options& o, int button) { return unit.Button(button, "protect-" + o.what); }
int ProtectRead(Unit& unit, const Options& o, SharedIds*, UnitRecord&) { return ProtectButton(unit, o, id::kReadProtect); }
int ProtectLdc(Unit& unit, const Options& o, SharedIds*, UnitRecord&) { return ProtectButton(unit, o, id::kLdcProtect); }
int ProtectHw(Unit& unit, const Options& o, SharedIds*, UnitRecord&) { return ProtectButton(unit, o, id::kHwProtect); }
int ProtectSmart(Unit& unit, const Options&, SharedIds*, UnitRecord&) {
    CliUi& ui = unit.Window();
    return unit.Operation(ui.IsChecked(id::kDebugMode) ? op::kSmartDebug : op::kSmart, "protect-smart");
}

int Counter(Unit& unit, const Options& o, SharedIds*, UnitRecord&) {
    // A block without a file has no counter: said as such, not as a failed setting.
    bool holdsFile = false;
    if (int exit = ReadBlock(unit, o.block, holdsFile)) return exit;
    if (!holdsFile) {
        unit.BeginStep();
        const std::string text = "目录块 " + std::to_string(o.block) + " 中没有脱机文件, 无法设置计数器";
        unit.EmitStep("counter", kExitUsage, text, text);
        return kExitUsage;
    }
    // The read put the block's own counter into the fields: --id holds over it.
    if (int exit = unit.ApplyOptions(true)) return exit;
    SelectBlock(unit, o.block);
    return unit.Button(id::kSetCounter, "counter");
}

// Steps that have functions of their own.
int Chips(Unit& unit, const Options&, SharedIds*, UnitRecord&) { return RunChips(unit); }
int Load(Unit& unit, const Options& o, SharedIds*, UnitRecord& record) { return RunLoad(unit, o, record); }
int Read(Unit& unit, const Options& o, SharedIds*, UnitRecord& record) { return RunRead(unit, o, record); }

// What each subcommand refuses of the arguments it was given.
std::string CheckChecksum(const Options& o) {
    if (o.what == "memory" && o.file.empty()) return "checksum memory 需要代码文件, 以核对编程内存";
    return {};
}

std::string CheckOffline(const Options& o) {
    if (o.what != "list" && o.block == 0) return "offline " + o.what + " 需要目录块号 N";
    if (o.what != "make" && !o.file.empty()) return "只有 offline make 需要代码文件";
    return {};
}

// A local date as the records' file names have it.
bool IsDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    int month = std::stoi(text.substr(5, 2)), day = std::stoi(text.substr(8, 2));
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

std::string CheckReport(const Options& o) {
    for (const std::string* date : {&o.from, &o.to})
        if (!date->empty() && !IsDate(*date)) return "日期应为 YYYY-MM-DD, 不能是 " + *date;
    if (!o.from.empty() && !o.to.empty() && o.from > o.to) return "起始日期不能晚于终止日期";
    if (o.output.empty() && !o.json) return "report 需要 -o 文件 (HTML 页面) 或 --json";
    return {};
}

std::string CheckCounter(const Options& o) {
    if (!o.id || !o.id->last) return "counter 需要 --id 地址:起始值:终止值";
    return {};
}

}  // namespace

const std::vector<Subcommand>& Subcommands() {
    using Kind = SubArgument::Kind;
    static const std::vector<Subcommand> table = {
        // RunCli asks each adapter itself, with a unit of the adapter's own.
        {"ports", "列出USB转串口适配器及应答的编程器", Scope::Adapters, {}, nullptr},
        {"info", "读取编程器内置软件信息", Scope::Programmer, {}, Info},
        {"chips", "列出芯片列表中的芯片: 类型, 封装, Vpp, Vdd, ROM最大地址", Scope::Window, {}, Chips},
        {"load", "检查代码文件 (不连接编程器)", Scope::Window, {{Kind::File, "代码文件", true}}, Load},
        {"download", "下载代码文件到编程内存", Scope::Programmer, {{Kind::File, "代码文件", true}}, Download},
        {"program", "编程芯片 (给出文件时先下载)", Scope::Programmer, {{Kind::File, "代码文件"}}, Program},
        {"verify", "校验芯片 (给出文件时先下载)", Scope::Programmer, {{Kind::File, "代码文件"}}, Verify},
        {"blank", "芯片空检查", Scope::Programmer, {}, Blank},
        {"checksum", "芯片检查和, 或编程内存检查和与文件核对", Scope::Programmer,
         {{Kind::What, "", true, {{"chip", ChecksumChip}, {"memory", ChecksumMemory}}}, {Kind::File, "代码文件 (memory)"}},
         nullptr, CheckChecksum},
        {"erase", "擦除MTP芯片", Scope::Programmer, {}, Erase},
        {"protect", "保护操作", Scope::Programmer,
         {{Kind::What, "", true, {{"read", ProtectRead}, {"ldc", ProtectLdc}, {"hw", ProtectHw}, {"smart", ProtectSmart}}}},
         nullptr},
        {"read", "读取编程内存并保存为文件 (- 为标准输出)", Scope::Programmer,
         {{Kind::File, "要写入的文件: .hex 或 .bin, - 为标准输出", true}}, Read},
        {"auto", "自动编程 (给出文件时先下载)", Scope::Programmer,
         {{Kind::File, "代码文件"}, {Kind::Repeat, "逐片编程: 每片之间等待回车或标准输入的一行, 计数保持"}}, RunChip},
        {"offline", "编程器内的脱机文件", Scope::Programmer,
         {{Kind::What, "", true,
           {{"list", OfflineList}, {"info", OfflineInfo}, {"make", OfflineMake}, {"delete", OfflineDelete},
            {"load", OfflineLoad}}},
          {Kind::Block, "目录块 1-15"},
          {Kind::File, "代码文件 (make)"}},
         nullptr, CheckOffline},
        {"counter", "设置脱机文件的计数器 (--id 地址:起始值:终止值)", Scope::Programmer,
         {{Kind::Block, "目录块 1-15", true}}, Counter, CheckCounter},
        {"password", "修改操作密码", Scope::Programmer, {}, Password},
        {"lock", "锁定编程器", Scope::Programmer, {}, Lock},
        {"unlock", "解除编程器锁定", Scope::Programmer, {}, Unlock},
        // RunCli writes it from the records alone.
        {"report", "生产报表: 良率, 失败和ID码 (-o 写入 HTML 页面, --json 输出数据)", Scope::Records, {}, nullptr,
         CheckReport},
    };
    return table;
}

const Subcommand* FindSubcommand(const std::string& name) {
    for (const Subcommand& s : Subcommands())
        if (name == s.name) return &s;
    return nullptr;
}

UnitSteps Subcommand::StepsFor(const std::string& what) const {
    if (steps) return steps;
    for (const SubArgument& a : arguments)
        for (const SubWord& w : a.words)
            if (what == w.word) return w.steps;
    return nullptr;
}

int RunCommand(Unit& unit, const Options& o, SharedIds* ids, UnitRecord& record) {
    const Subcommand* sub = FindSubcommand(o.command);
    UnitSteps steps = sub ? sub->StepsFor(o.what) : nullptr;
    return steps ? steps(unit, o, ids, record) : kExitUsage;
}

int RunLoad(Unit& unit, const Options& o, UnitRecord& record) {
    if (int exit = unit.BuildWindow()) return exit;
    if (int exit = unit.FileProblem(o.file, "load")) return exit;
    AppContext& ctx = unit.Context();
    CliUi& ui = unit.Window();
    // The file as the programming commands would take it with this chip:
    // their refusal, and the report all the same.
    const int lost = unit.CheckCodeFile(o.file);
    int exit = unit.LoadFile(o.file, "load");
    std::string ending = Ending(o.file);
    // A project names the code file it loads.
    std::string codeFile = ui.GetText(id::kCodeFile);
    std::string format = ending == ".hex" ? "hex" : ending == ".bin" ? "bin" : ending == ".pvx" ? "project" : "unknown";
    Json fields{{"file", o.file}, {"format", format}};
    std::string text = "文件: " + o.file + "\n格式: " +
                       (format == "hex" ? "Intel HEX" : format == "bin" ? "二进制" : format == "project" ? "工程文件" : "无法识别");
    if (format == "project") {
        fields["code_file"] = codeFile;
        text += " (代码文件: " + codeFile + ")";
    }
    if (exit == kExitOk) {
        AddressRange r = ctx.programmingRange;
        uint32_t highest = ChipMaxRomAddress(ctx);
        std::string chip = ui.GetText(id::kChipCombo);
        bool fits = r.end <= highest;
        fields["start"] = Hex(r.start, 4);
        fields["end"] = Hex(r.end, 4);
        fields["checksum"] = ui.GetText(id::kChecksum);
        fields["chip"] = chip;
        fields["chip_max_address"] = Hex(highest, 4);
        fields["fits_chip"] = fits;
        text += "\n地址范围: " + Hex(r.start, 4) + "-" + Hex(r.end, 4) + "  检查和: " + ui.GetText(id::kChecksum) +
                "\n芯片 " + chip + ": ROM最大有效地址 " + Hex(highest, 4) +
                (fits ? ", 代码在芯片ROM之内" : ", 代码终止地址超出了芯片ROM!");
        // The programming commands ask about it; without --yes they stop.
        if (!fits && !o.yes) exit = kExitUsage;
    }
    unit.Emit("file", fields, text);
    if (Ending(codeFile) == ".hex") DiagnoseHex(unit, codeFile, record);
    if (exit == kExitUsage && !lost && ctx.programmingRange.end > ChipMaxRomAddress(ctx))
        unit.Line("代码终止地址超出了芯片ROM (需要 --yes 回答问题)", Stream::Message);
    return Worse(exit, lost);
}

int RunChips(Unit& unit) {
    if (int exit = unit.BuildWindow()) return exit;
    const ChipCatalogue& list = unit.Context().catalogue;
    std::string table = Padded("型号", 16) + Padded("类型", 6) + Padded("封装", 10) + Padded("Vpp", 6) + Padded("Vdd", 6) +
                        "ROM最大地址";
    unit.Line(table, Stream::Result);
    // Entry 0 is the "no chip" line the list begins with.
    for (uint32_t i = 1; i < list.count && i < list.records.size(); ++i) {
        const ChipRecord& c = list.records[i];
        const std::string type = c.memoryType == "MTP" ? "MTP" : "OTP";
        const std::string vpp = c.vpp == "12V" || c.vpp == "11V" ? c.vpp : "VCC";
        const std::string end = Hex(MaxRomAddressForName(c.name), 4);
        unit.Emit("chips",
                  Json{{"chip", c.name}, {"type", type}, {"package", c.reserved}, {"vpp", vpp}, {"vdd", c.vdd},
                       {"rom_end", end}},
                  Padded(c.name, 16) + Padded(type, 6) + Padded(c.reserved, 10) + Padded(vpp, 6) + Padded(c.vdd, 6) +
                      end);
    }
    return kExitOk;
}

void ReportUnit(Unit& unit, const Options& o, const UnitRecord& record) {
    AppContext& ctx = unit.Context();
    Json fields{{"command", o.command}, {"exit", record.exit}, {"outcome", ExitWord(record.exit)},
                {"status", unit.Status()}};
    std::string text = "结果: " + std::string(OutcomeText(record.exit));
    if (o.command == "auto") {
        fields["chips"] = record.chips;
        fields["good"] = ctx.successCount;
        fields["bad"] = ctx.failureCount;
        text += "  良品 " + std::to_string(ctx.successCount) + "  不良品 " + std::to_string(ctx.failureCount);
        if (o.id) {
            fields["ids"] = record.ids;
            if (!record.ids.empty()) text += "  ID码 " + IdList(record.ids);
        }
    }
    if (unit.LostCodeAllowed()) {
        fields["lost_code_allowed"] = true;
        text += "  (代码文件中有不会被编程的数据)";
    }
    for (auto& [key, value] : record.extra.items()) fields[key] = value;
    unit.Emit("result", fields, text);
}

}  // namespace veldrix::cli
