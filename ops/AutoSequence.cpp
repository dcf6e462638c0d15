#include "ops/AutoSequence.h"

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "link/Worker.h"
#include "ops/Counting.h"
#include "ops/ProductionLog.h"

namespace veldrix {

namespace {

constexpr int kToneHz = 1000;
constexpr int kStepPauseMs = 200;

struct StepCodes {
    int program, verify, smart;
};
constexpr StepCodes kNormalSteps{7, 8, 9};
constexpr StepCodes kDebugSteps{26, 13, 27};

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
    record.Finish(RecordResult::Good, IfSet(idIncrement, ctx.idValue), IfSet(idIncrement, ctx.idAddress));
    if (buzzer) ui.Tone(kToneHz, 500);
}

// idWritten: the ID step held before a later step failed.
void Failed(AppContext& ctx, bool buzzer, bool idIncrement, bool idWritten, RecordedRun& record) {
    const bool chipsFault = ctx.AutoRunMarker != 0;
    if (chipsFault && CountingOn(ctx)) ctx.ui->SetText(id::kFailureCount, Dec(++ctx.failureCount));
    record.Finish(chipsFault ? RecordResult::Bad : RecordResult::Link, IfSet(idWritten, ctx.idValue),
                  IfSet(idIncrement, ctx.idAddress));
    if (!buzzer) return;
    for (int beep = 0; beep < 4; ++beep) {
        if (beep > 0) ctx.Sleep(100);
        ctx.ui->Tone(kToneHz, 100);
    }
}

// The steps after the start tone; false at the first that failed.
bool RunSteps(AppContext& ctx, const StepCodes& codes, uint8_t flags, bool mtp, bool& idWritten) {
    if ((flags & autoflag::kBlankCheck) && !Step(ctx, 16, 0)) return false;
    if (mtp && !Step(ctx, 6)) return false;
    if (!Step(ctx, codes.program)) return false;
    if ((flags & autoflag::kVerify) && !Step(ctx, codes.verify)) return false;
    if (flags & autoflag::kIdIncrement) {
        ctx.Sleep(kStepPauseMs);
        SetStatus(ctx, "正在写入目标芯片ID码....");
        if (!Step(ctx, 31, 0)) {
            SetStatus(ctx, "ID码写入失败! 编程过程已终止!");
            return false;
        }
        idWritten = true;
    }
    if ((flags & autoflag::kSmart) && mtp && !Step(ctx, codes.smart)) return false;
    // LDC and hardware write protection are extras: whatever becomes of
    // them, the chip is judged by the steps that went before.
    if (flags & autoflag::kLdc) {
        Step(ctx, 11);
        ctx.LinkErrorFlag = 0;
    }
    if ((flags & autoflag::kReadProtect) && !Step(ctx, 10)) return false;
    if ((flags & autoflag::kHwProtect) && mtp) {
        Step(ctx, 12);
        ctx.LinkErrorFlag = 0;
    }
    return true;
}

}  // namespace

bool AutoOptionWarnings(AppContext& ctx) {
    uint8_t flags = ctx.block[cb::kAutoFlags];
    auto ask = [&](const char* text, MsgIcon icon) {
        return ShowBox(ctx, text, "提示:", MsgButtons::YesNo, icon) == MsgAnswer::Yes;
    };
    if (!(flags & autoflag::kVerify) &&
        !ask("您没有勾选自动编程系统的[自动校验]选项,\n烧写的芯片将不会予以校验写入代码是否正确!\n"
             "建议您勾选该选项,以保证烧写到目标芯片中代码的准确无误!\n\n是否继续进行当前操作?",
             MsgIcon::None))
        return false;
    if (!(flags & autoflag::kReadProtect) &&
        !ask("您没有勾选自动编程系统的[自动读保护]选项,\n烧写的芯片将不会予以加密保护!\n"
             "建议您勾选该选项,以保证烧写到目标芯片中代码不被他人非法读出!\n\n是否继续进行当前操作?",
             MsgIcon::None))
        return false;
    if (ctx.block[cb::kChipType] == 2 && !(flags & autoflag::kSmart) &&
        !ask("您没有勾选自动编程系统的[使能SMART]选项,\n烧写的芯片将不会写入SMART OPTION工作配置数据!\n"
             "对于MTP芯片类型,必须使能该选项,否则烧写的芯片可能无法正常工作!\n\n是否继续进行当前操作?",
             MsgIcon::Error))
        return false;
    return true;
}

void RunAutoSequence(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    const StepCodes& codes = ui.IsChecked(id::kDebugMode) ? kDebugSteps : kNormalSteps;
    // The header was filled when the operation started; the steps must not
    // change what the sequence runs.
    const uint8_t flags = ctx.block[cb::kAutoFlags];
    const bool mtp = ctx.block[cb::kChipType] == 2;
    const bool idIncrement = flags & autoflag::kIdIncrement;

    RecordedRun record(ctx);
    ctx.AutoRunMarker = kAutoRunMarkerRunning;
    ctx.AutoRunActive = 1;
    // Ends before any step: nothing counted, no tone.
    auto stop = [&](std::optional<uint32_t> idAddress = std::nullopt) {
        SetStatus(ctx, kTextAborted);
        record.Finish(RecordResult::Stopped, std::nullopt, idAddress);
        ctx.AutoRunActive = 0;
    };
    if (!AutoOptionWarnings(ctx)) return stop();
    if (idIncrement) {
        PrepareIdIncrement(ctx);
        if (ctx.LinkErrorFlag) return stop();
        if (!IdCodeUnusedOrAccepted(ctx, ctx.idValue)) return stop(ctx.idAddress);
    }
    const bool buzzer = ui.IsChecked(id::kBuzzer);
    if (buzzer) ui.Tone(kToneHz, 100);

    bool idWritten = false;
    if (RunSteps(ctx, codes, flags, mtp, idWritten))
        Succeeded(ctx, idIncrement, buzzer, record);
    else
        Failed(ctx, buzzer, idIncrement, idWritten, record);
    ctx.AutoRunActive = 0;
}

void WriteIdCode(AppContext& ctx) {
    PrepareIdIncrement(ctx);
    if (ctx.LinkErrorFlag) return;
    ctx.block.SetOpCode(31);
    if (!OpenSession(ctx)) return;
    // Any acknowledgement but "EV", or none, goes on to the verdict.
    if (ReplyIs(ReadShortReply(ctx, 128, 2, 50), "EV")) return ReportVoltageError(ctx);
    Reply done = ReadShortReply(ctx, 128, 2, 50);
    if (ReplyIs(done, "OK")) {
        ctx.LinkErrorFlag = 0;
        SetStatus(ctx, "ID码写入成功!");
    } else {
        ctx.LinkErrorFlag = 1;
        SetStatus(ctx, "ID码写入失败!");
    }
}

}  // namespace veldrix
