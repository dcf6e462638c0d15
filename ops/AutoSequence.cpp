#include "ops/AutoSequence.h"

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "code/CodeBuffer.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "link/Worker.h"
#include "ops/Counting.h"
#include "ops/ProductionLog.h"

namespace veldrix {

const char* const kTextWindowClosed = "主窗口已关闭, 当前芯片未完成编程";

namespace {

constexpr int kToneHz = 1000;
constexpr int kStepPauseMs = 200;

// One step: the worker body for the code on this thread; true when it held.
bool Step(AppContext& ctx, int opCode, int pauseMs = kStepPauseMs) {
    if (pauseMs > 0) ctx.Sleep(pauseMs);
    RunOperationNow(ctx, opCode);
    return !ctx.LinkErrorFlag;
}

std::optional<uint32_t> IfSet(bool set, uint32_t value) {
    return set ? std::optional<uint32_t>(value) : std::nullopt;
}

// The record is stored before the tone tells the operator the chip is done.
void Succeeded(AppContext& ctx, bool idIncrement, bool buzzer, RecordedRun& record) {
    Ui& ui = *ctx.ui;
    SetStatus(ctx, "自动编程已成功完成");
    if (CountingOn(ctx)) ui.SetText(id::kSuccessCount, Dec(++ctx.successCount));
    if (idIncrement) ui.SetText(id::kCounterCurrent, Dec(ctx.idValue));
    ctx.outcome.cls = OutcomeClass::Success;
    record.Finish(RecordResult::Good, IfSet(idIncrement, ctx.idValue), IfSet(idIncrement, ctx.idAddress));
    if (buzzer) ui.Tone(kToneHz, 500);
}

void Failed(AppContext& ctx, bool buzzer, bool idIncrement, RecordedRun& record) {
    const bool chipsFault = ctx.AutoRunMarker != 0;
    if (chipsFault && CountingOn(ctx)) ctx.ui->SetText(id::kFailureCount, Dec(++ctx.failureCount));
    ctx.outcome.cls = chipsFault ? OutcomeClass::ChipFailed : OutcomeClass::LinkFailed;
    record.Finish(chipsFault ? RecordResult::Bad : RecordResult::Link, ctx.outcome.idWritten,
                  IfSet(idIncrement, ctx.idAddress));
    // A failed chip's code goes to the next chip, also when it holds it.
    if (ctx.outcome.idTaken) GiveBackIdCode(ctx, *ctx.outcome.idTaken);
    if (!buzzer) return;
    for (int beep = 0; beep < 4; ++beep) {
        if (beep > 0) ctx.Sleep(100);
        ctx.ui->Tone(kToneHz, 100);
    }
}

// What became of the chip in the socket so far.
struct ChipProgress {
    bool reachedUnit = false;  // a step was sent to the unit
    bool idSent = false;       // the ID step was sent: the chip may hold the code
};

// The window closed under a step: its reads got nothing, so what the step
// ended with is no verdict on the chip. Nothing is counted and no tone
// sounds; a code the chip may hold is not handed to another.
void Closed(AppContext& ctx, bool idIncrement, const ChipProgress& progress, RecordedRun& record) {
    SetStatus(ctx, kTextWindowClosed);
    ctx.outcome.cls = OutcomeClass::Aborted;
    record.Finish(progress.reachedUnit ? RecordResult::Link : RecordResult::Stopped, ctx.outcome.idWritten,
                  IfSet(idIncrement, ctx.idAddress));
    if (ctx.outcome.idTaken && !progress.idSent) GiveBackIdCode(ctx, *ctx.outcome.idTaken);
}

// A step whose result the sequence ignores: its failure must not change how
// the chip is counted, so the marker is what it was before it.
void IgnoredStep(AppContext& ctx, int opCode) {
    const int marker = ctx.AutoRunMarker;
    Step(ctx, opCode);
    ctx.LinkErrorFlag = 0;
    ctx.AutoRunMarker = marker;
}

enum class StepsEnd { Succeeded, Failed, Declined, Halted, NoServer, UsedUp };

constexpr const char* kTextIdFailed = "ID码写入失败! 编程过程已终止!";

// The ID code the records grant, from the field's next code on, just before it is written.
StepsEnd WriteGrantedIdCode(AppContext& ctx, ChipProgress& progress) {
    uint32_t code = ctx.idValue;
    switch (TakeIdCode(ctx, code)) {
    case IdTaken::Declined: return StepsEnd::Declined;
    case IdTaken::NoServer: return StepsEnd::NoServer;
    case IdTaken::UsedUp: return StepsEnd::UsedUp;
    case IdTaken::Taken: break;
    }
    ctx.outcome.idTaken = code;
    ctx.idValue = code;
    ctx.block.Put24(cb::kCounterCurrent, code);
    ctx.block.Put24(cb::kIdAddress, ctx.idAddress);
    SetStatus(ctx, "正在写入目标芯片ID码....");
    progress.idSent = true;
    if (!Step(ctx, op::kWriteIdCode, 0)) {
        SetStatus(ctx, kTextIdFailed);
        return StepsEnd::Failed;
    }
    ctx.outcome.idWritten = code;
    return StepsEnd::Succeeded;
}

// How the sequence takes a step's result.
enum class Judged {
    Yes,      // a failure fails the chip
    Ignored,  // an extra: the chip is judged by the steps before it
    IdCode,   // the ID code the records grant
};

struct SequenceStep {
    uint8_t flag;  // the option that turns it on; 0: always
    bool mtpOnly;
    int normalOp, debugOp;
    int pauseMs;  // before the step
    Judged judged;
};

// The sequence in order. LDC and hardware write protection are extras:
// whatever becomes of them, the chip is judged by the steps that went before.
constexpr SequenceStep kSequence[] = {
    {autoflag::kBlankCheck, false, op::kBlankCheck, op::kBlankCheck, 0, Judged::Yes},
    {0, true, op::kEraseMtp, op::kEraseMtp, kStepPauseMs, Judged::Yes},
    {0, false, op::kProgram, op::kProgramDirect, kStepPauseMs, Judged::Yes},
    {autoflag::kVerify, false, op::kVerify, op::kChipChecksum, kStepPauseMs, Judged::Yes},
    {autoflag::kIdIncrement, false, op::kWriteIdCode, op::kWriteIdCode, kStepPauseMs, Judged::IdCode},
    {autoflag::kSmart, true, op::kSmart, op::kSmartDebug, kStepPauseMs, Judged::Yes},
    {autoflag::kLdc, false, op::kLdcProtect, op::kLdcProtect, kStepPauseMs, Judged::Ignored},
    {autoflag::kReadProtect, false, op::kReadProtect, op::kReadProtect, kStepPauseMs, Judged::Yes},
    {autoflag::kHwProtect, true, op::kHardwareProtect, op::kHardwareProtect, kStepPauseMs, Judged::Ignored},
};

// The steps after the start tone, up to the first that failed, or up to a
// halt asked for between two steps.
StepsEnd RunSteps(AppContext& ctx, bool debug, uint8_t flags, bool mtp, ChipProgress& progress) {
    for (const SequenceStep& s : kSequence) {
        if ((s.flag && !(flags & s.flag)) || (s.mtpOnly && !mtp)) continue;
        if (ctx.HaltAsked()) return StepsEnd::Halted;
        progress.reachedUnit = true;
        const int op = debug ? s.debugOp : s.normalOp;
        switch (s.judged) {
        case Judged::Yes:
            if (!Step(ctx, op, s.pauseMs)) return StepsEnd::Failed;
            break;
        case Judged::Ignored: IgnoredStep(ctx, op); break;
        case Judged::IdCode:
            ctx.Sleep(s.pauseMs);
            if (StepsEnd end = WriteGrantedIdCode(ctx, progress); end != StepsEnd::Succeeded) return end;
            break;
        }
    }
    return StepsEnd::Succeeded;
}

// Code bytes the ID code would overwrite: any of its three bytes inside the
// programming range that is not blank.
bool IdCodeOverCode(AppContext& ctx) {
    for (uint32_t a = ctx.idAddress; a < ctx.idAddress + 3; ++a)
        if (a >= ctx.programmingRange.start && a <= ctx.programmingRange.end && a < kImageSize &&
            ctx.codeBuffer[a] != 0xFF)
            return true;
    return false;
}

// Asked once for a code, ID address and range: a Yes holds for every chip
// after it until one of them changes or the code is downloaded again.
bool IdCodeOverCodeAccepted(AppContext& ctx) {
    if (!IdCodeOverCode(ctx)) return true;
    const AppContext::IdOverCode asked{ctx.idAddress, ctx.programmingRange,
                                       CodeChecksum(ctx, ctx.programmingRange.start, ctx.programmingRange.end)};
    if (ctx.idOverCodeAccepted == asked) return true;
    ctx.idOverCodeAccepted.reset();
    if (Ask(ctx, "id-over-code",
            "ID码地址 " + Hex(ctx.idAddress, 4) +
                "H 处的代码字节不为空(FF),\n写入ID码将覆盖编程代码,烧写的芯片可能无法正常工作!\n\n"
                "是否继续进行当前操作?",
            "提示:", MsgButtons::YesNo, MsgIcon::Warning, 1) != MsgAnswer::Yes)
        return false;
    ctx.idOverCodeAccepted = asked;
    return true;
}

}  // namespace

bool AutoOptionWarnings(AppContext& ctx) {
    uint8_t flags = ctx.block[cb::kAutoFlags];
    auto ask = [&](const char* question, const char* text, MsgIcon icon) {
        return Ask(ctx, question, text, "提示:", MsgButtons::YesNo, icon) == MsgAnswer::Yes;
    };
    if (!(flags & autoflag::kVerify) &&
        !ask("no-verify", "您没有勾选自动编程系统的[自动校验]选项,\n烧写的芯片将不会予以校验写入代码是否正确!\n"
             "建议您勾选该选项,以保证烧写到目标芯片中代码的准确无误!\n\n是否继续进行当前操作?",
             MsgIcon::None))
        return false;
    if (!(flags & autoflag::kReadProtect) &&
        !ask("no-read-protect", "您没有勾选自动编程系统的[自动读保护]选项,\n烧写的芯片将不会予以加密保护!\n"
             "建议您勾选该选项,以保证烧写到目标芯片中代码不被他人非法读出!\n\n是否继续进行当前操作?",
             MsgIcon::None))
        return false;
    if (ctx.block[cb::kChipType] == 2 && !(flags & autoflag::kSmart) &&
        !ask("no-smart", "您没有勾选自动编程系统的[使能SMART]选项,\n烧写的芯片将不会写入SMART OPTION工作配置数据!\n"
             "对于MTP芯片类型,必须使能该选项,否则烧写的芯片可能无法正常工作!\n\n是否继续进行当前操作?",
             MsgIcon::Error))
        return false;
    return true;
}

void RunAutoSequence(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    const bool debug = ui.IsChecked(id::kDebugMode);
    // The header was filled when the operation started; the steps must not
    // change what the sequence runs.
    const uint8_t flags = ctx.block[cb::kAutoFlags];
    const bool mtp = ctx.block[cb::kChipType] == 2;
    const bool idIncrement = flags & autoflag::kIdIncrement;

    RecordedRun record(ctx);
    ctx.AutoRunMarker = kAutoRunMarkerRunning;
    ctx.AutoRunActive = 1;
    // Ends where nothing is counted and no tone sounds: before any step, or
    // at the question about an ID code a good chip carries.
    auto stop = [&](OutcomeClass why, std::optional<uint32_t> idAddress = std::nullopt,
                    const char* text = kTextAborted) {
        SetStatus(ctx, text);
        ctx.outcome.cls = why;
        record.Finish(RecordResult::Stopped, std::nullopt, idAddress);
        ctx.AutoRunActive = 0;
    };
    if (!AutoOptionWarnings(ctx)) return stop(OutcomeClass::Aborted);
    if (idIncrement) {
        // The field is read once: the code written is the one checked here
        // (or the next free one), whatever is typed meanwhile.
        PrepareIdIncrement(ctx);
        if (ctx.LinkErrorFlag) return stop(OutcomeClass::UsageOrFile);
        if (!RecordsCanTakeIdCodes(ctx)) return stop(OutcomeClass::UsageOrFile, ctx.idAddress);
        // A server away now is asked about before the chip is touched; one
        // that goes away during the chip is asked about at its ID step.
        if (!IdServerAnswers(ctx)) return stop(OutcomeClass::LinkFailed, ctx.idAddress);
        if (!IdCodeOverCodeAccepted(ctx)) return stop(OutcomeClass::Aborted, ctx.idAddress);
    }
    const bool buzzer = ui.IsChecked(id::kBuzzer);
    if (buzzer) ui.Tone(kToneHz, 100);

    ChipProgress progress;
    const StepsEnd end = RunSteps(ctx, debug, flags, mtp, progress);
    if (ctx.stopRequested.load() && end != StepsEnd::Succeeded) {
        Closed(ctx, idIncrement, progress, record);
        ctx.AutoRunActive = 0;
        return;
    }
    switch (end) {
    case StepsEnd::Succeeded: Succeeded(ctx, idIncrement, buzzer, record); break;
    case StepsEnd::Failed: Failed(ctx, buzzer, idIncrement, record); break;
    case StepsEnd::Declined: return stop(OutcomeClass::Aborted, ctx.idAddress);
    // No code to be had: the chip goes uncounted, without one, and the run ends as a link would.
    case StepsEnd::NoServer: return stop(OutcomeClass::LinkFailed, ctx.idAddress);
    // Every code up to the last is taken: nothing was sent for the ID step,
    // and the chip is not to blame.
    case StepsEnd::UsedUp: return stop(OutcomeClass::UsageOrFile, ctx.idAddress, kTextIdFailed);
    case StepsEnd::Halted:
        // Halted between steps: a chip a step already reached is not what was
        // loaded, so it counts as failed unless the link had failed.
        if (!progress.reachedUnit) return stop(OutcomeClass::Aborted, IfSet(idIncrement, ctx.idAddress));
        SetStatus(ctx, kTextAborted);
        Failed(ctx, buzzer, idIncrement, record);
        break;
    }
    ctx.AutoRunActive = 0;
}

void WriteIdCode(AppContext& ctx) {
    // Within the sequence the block already holds the code the records
    // granted; the field may have been typed into since.
    if (!ctx.AutoRunActive) {
        PrepareIdIncrement(ctx);
        if (ctx.LinkErrorFlag) return;
    }
    ctx.block.SetOpCode(op::kWriteIdCode);
    if (!OpenSession(ctx)) return;
    // Any acknowledgement but "EV", or none, goes on to the verdict.
    if (ReplyIs(ReadShortReply(ctx, reply::kLongToken), "EV")) return ReportVoltageError(ctx);
    Reply done = ReadShortReply(ctx, reply::kLongToken);
    if (ReplyIs(done, "OK")) {
        ctx.LinkErrorFlag = 0;
        SetStatus(ctx, "ID码写入成功!");
    } else {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "ID码写入失败!");
    }
}

}  // namespace veldrix
