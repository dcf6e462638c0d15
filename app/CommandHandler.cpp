#include "app/CommandHandler.h"

#include "code/ChipCatalogue.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "app/OptionChecks.h"
#include "code/CodeBuffer.h"
#include "code/CodeView.h"
#include "code/ProjectFile.h"
#include "link/Session.h"
#include "link/Worker.h"
#include "ops/ProductionLog.h"

namespace veldrix {

namespace {

bool InLockedGroup(int parentId) {
    return parentId == id::kOperationsGroup || parentId == id::kFileGroup || parentId == id::kChipGroup ||
           parentId == id::kViewGroup;
}

void Start(AppContext& ctx, int opCode) {
    if (ctx.worker) ctx.worker->StartOperation(opCode);
}

void Range(AppContext& ctx) { ReadProgrammingRange(ctx); }

// A question about the chip answered No.
void ChipFitFailed(AppContext& ctx) {
    NoteOutcome(ctx, OutcomeClass::Aborted);
    SetStatus(ctx, "编程过程已终止");
    ctx.LinkErrorFlag = 1;
}

void AutoProgram(AppContext& ctx) {
    if (ctx.memoryRewritten) return RefuseRewrittenMemory(ctx);
    Range(ctx);
    if (!(ctx.programmingRange == ctx.checkedRange)) {
        ShowBox(ctx,
                "编程地址已改变,请点击[缓冲区检查和]按钮以刷新编程内存检查和,\n"
                "如果你在下载代码后又选择了新的芯片型号,请重新下载文件代码",
                "\n注: ");
        return NoteOutcome(ctx, OutcomeClass::UsageOrFile);
    }
    if (!ctx.codeInMemory) return RefuseNoCode(ctx);
    if (!CheckChipFit(ctx)) {
        // The chip in the socket was tried and declined: it is recorded.
        RecordedRun record(ctx);
        ChipFitFailed(ctx);
        record.Finish(RecordResult::Stopped);
        return;
    }
    Start(ctx, op::kAutoProgram);
}

void MakeOffline(AppContext& ctx) {
    if (ctx.memoryRewritten) return RefuseRewrittenMemory(ctx);
    if (!ctx.codeInMemory) return RefuseNoCode(ctx);
    Range(ctx);
    if (!CheckChipFit(ctx)) return ChipFitFailed(ctx);
    Start(ctx, op::kMakeOffline);
}

void ViewSource(AppContext& ctx, const char* caption, int opCode) {
    ctx.ui->SetText(id::kViewGroup, caption);
    Start(ctx, opCode);
}

}  // namespace

void OnMainCommand(AppContext& ctx, int controlId, int parentId) {
    if (ctx.BusyFlag && InLockedGroup(parentId)) return;
    Ui& ui = *ctx.ui;
    switch (controlId) {
    case id::kAutoProgram: return AutoProgram(ctx);
    case id::kVerifyChip:
        if (!ctx.codeInMemory) return RefuseNoCode(ctx);
        Range(ctx);
        return Start(ctx, op::kVerify);
    case id::kBlankCheck: Range(ctx); return Start(ctx, op::kBlankCheck);
    case id::kShowMemory:
        if (!ctx.ConnectedFlag) return;
        ShowCodeView(ctx, true);
        if (!ctx.codeViewInitialised) InitCodeView(ctx);
        return Start(ctx, op::kShowMemory);
    case id::kChipChecksum: Range(ctx); return Start(ctx, op::kChipChecksum);
    case id::kMemoryChecksum: Range(ctx); return Start(ctx, op::kMemoryChecksum);
    case id::kReadProtect: return Start(ctx, op::kReadProtect);
    case id::kEraseMtp: return Start(ctx, op::kEraseMtp);
    case id::kLdcProtect: return Start(ctx, op::kLdcProtect);
    case id::kHwProtect: return Start(ctx, op::kHardwareProtect);
    case id::kOpenFile: return Start(ctx, op::kOpenFile);
    case id::kRefreshMemory: return Start(ctx, op::kDownload);
    case id::kCopyChip: Range(ctx); return Start(ctx, op::kCopyChip);
    case id::kMakeHex: Range(ctx); return Start(ctx, op::kSaveHex);
    case id::kQuit: return ui.CloseMainWindow();
    case id::kPrevPage: return Start(ctx, op::kPrevPage);
    case id::kNextPage: return Start(ctx, op::kNextPage);
    case id::kViewSet: return Start(ctx, op::kViewSet);
    case id::kViewMemory: return ViewSource(ctx, "编程内存代码视图", op::kViewMemory);
    case id::kViewChip: return ViewSource(ctx, "芯片代码视图", op::kViewChip);
    case id::kViewMaster: return ViewSource(ctx, "母片代码视图", op::kViewMaster);
    case id::kViewAscii: return Start(ctx, op::kViewAscii);
    case id::kViewBack:
        ShowCodeView(ctx, false);
        return SetStatus(ctx, "请选择编程操作");
    case id::kClearCounts: return Start(ctx, op::kResetCounts);
    case id::kSetCounter: return Start(ctx, op::kSetCounter);
    case id::kPauseCounting: return Start(ctx, op::kToggleCounting);
    case id::kSaveProject: return SaveProject(ctx);
    case id::kDeleteFile: return Start(ctx, op::kDeleteFile);
    case id::kReadFileToMemory: return Start(ctx, op::kCopyMaster);
    case id::kMakeOfflineFile: return MakeOffline(ctx);
    case id::kReadFileInfo: return Start(ctx, op::kReadFileInfo);
    case id::kSetPassword: return Start(ctx, op::kSetPassword);
    case id::kLockProgrammer:
        // The click has already turned the box; an operation that never starts must not leave it turned.
        if (!ctx.worker || !ctx.worker->StartOperation(op::kLock)) ui.SetChecked(controlId, !ui.IsChecked(controlId));
        return;
    case id::kAutoIdIncrement:
        if (ui.IsChecked(id::kAutoIdIncrement))
            ShowBox(ctx,
                    "您已设置了自动写入芯片ID码增量数据,\n请配置好脱机文件操作栏目中的ID码地址数据,\n"
                    "以保证可靠的写入ID码数据!\n如果您不了解或不需要该功能,请不要启用该功能,\n"
                    "否则可能会破坏目标芯片程序数据!",
                    "\n注: ");
        return;
    case id::kVpp12: case id::kVpp11: case id::kVppVcc: case id::kVdd50: case id::kVdd33:
        return OnVoltageClicked(ctx, controlId);
    case id::kOtp: return OnChipTypeClicked(ctx, ChipType::Otp);
    case id::kMtp: return OnChipTypeClicked(ctx, ChipType::Mtp);
    default: return;
    }
}

}  // namespace veldrix
