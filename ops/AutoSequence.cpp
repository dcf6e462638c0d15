#include "ops/AutoSequence.h"

#include "admin/Counters.h"
#include "app/AppContext.h"
#include "app/ControlIds.h"
#include "app/OptionChecks.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "link/Worker.h"

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

void Succeeded(AppContext& ctx, bool idIncrement, bool buzzer) {
    Ui& ui = *ctx.ui;
    SetStatus(ctx, "自动编程已成功完成");
    if (CountingOn(ctx)) ui.SetText(id::kSuccessCount, Dec(++ctx.successCount));
    if (idIncrement) ui.SetText(id::kCounterCurrent, Dec(ctx.idValue));
    if (buzzer) ui.Tone(kToneHz, 500);
}

void Failed(AppContext& ctx, bool buzzer) {
    if (ctx.AutoRunMarker != 0 && CountingOn(ctx)) ctx.ui->SetText(id::kFailureCount, Dec(++ctx.failureCount));
    if (!buzzer) return;
    for (int beep = 0; beep < 4; ++beep) {
        if (beep > 0) ctx.Sleep(100);
        ctx.ui->Tone(kToneHz, 100);
    }
}

// The steps after the start tone; false at the first that failed.
bool RunSteps(AppContext& ctx, const StepCodes& codes, uint8_t flags, bool mtp) {
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

void RunAutoSequence(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    const StepCodes& codes = ui.IsChecked(id::kDebugMode) ? kDebugSteps : kNormalSteps;
    // The header was filled when the operation started; the steps must not
    // change what the sequence runs.
    const uint8_t flags = ctx.block[cb::kAutoFlags];
    const bool mtp = ctx.block[cb::kChipType] == 2;
    const bool idIncrement = flags & autoflag::kIdIncrement;

    ctx.AutoRunMarker = kAutoRunMarkerRunning;
    ctx.AutoRunActive = 1;
    if (!AutoOptionWarnings(ctx)) {
        SetStatus(ctx, kTextAborted);
        ctx.AutoRunActive = 0;
        return;
    }
    if (idIncrement) {
        PrepareIdIncrement(ctx);
        if (ctx.LinkErrorFlag) {
            SetStatus(ctx, kTextAborted);
            ctx.AutoRunActive = 0;
            return;
        }
    }
    const bool buzzer = ui.IsChecked(id::kBuzzer);
    if (buzzer) ui.Tone(kToneHz, 100);

    if (RunSteps(ctx, codes, flags, mtp))
        Succeeded(ctx, idIncrement, buzzer);
    else
        Failed(ctx, buzzer);
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
