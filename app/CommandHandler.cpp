#include "app/CommandHandler.h"

#include "code/ChipCatalogue.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
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
    Start(ctx, 46);
}

void MakeOffline(AppContext& ctx) {
    if (ctx.memoryRewritten) return RefuseRewrittenMemory(ctx);
    if (!ctx.codeInMemory) return RefuseNoCode(ctx);
    Range(ctx);
    if (!CheckChipFit(ctx)) return ChipFitFailed(ctx);
    Start(ctx, 49);
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
        return Start(ctx, 8);
    case id::kBlankCheck: Range(ctx); return Start(ctx, 16);
    case id::kShowMemory:
        if (!ctx.ConnectedFlag) return;
        ShowCodeView(ctx, true);
        if (!ctx.codeViewInitialised) InitCodeView(ctx);
        return Start(ctx, 60);
    case id::kChipChecksum: Range(ctx); return Start(ctx, 13);
    case id::kMemoryChecksum: Range(ctx); return Start(ctx, 4);
    case id::kReadProtect: return Start(ctx, 10);
    case id::kEraseMtp: return Start(ctx, 6);
    case id::kLdcProtect: return Start(ctx, 11);
    case id::kHwProtect: return Start(ctx, 12);
    case id::kOpenFile: return Start(ctx, 45);
    case id::kRefreshMemory: return Start(ctx, 3);
    case id::kCopyChip: Range(ctx); return Start(ctx, 15);
    case id::kMakeHex: Range(ctx); return Start(ctx, 47);
    case id::kQuit: return ui.CloseMainWindow();
    case id::kPrevPage: return Start(ctx, 63);
    case id::kNextPage: return Start(ctx, 64);
    case id::kViewSet: return Start(ctx, 61);
    case id::kViewMemory: return ViewSource(ctx, "编程内存代码视图", 65);
    case id::kViewChip: return ViewSource(ctx, "芯片代码视图", 66);
    case id::kViewMaster: return ViewSource(ctx, "母片代码视图", 67);
    case id::kViewAscii: return Start(ctx, 62);
    case id::kViewBack:
        ShowCodeView(ctx, false);
        return SetStatus(ctx, "请选择编程操作");
    case id::kClearCounts: return Start(ctx, 38);
    case id::kSetCounter: return Start(ctx, 22);
    case id::kPauseCounting: return Start(ctx, 39);
    case id::kSaveProject: return SaveProject(ctx);
    case id::kDeleteFile: return Start(ctx, 51);
    case id::kReadFileToMemory: return Start(ctx, 24);
    case id::kMakeOfflineFile: return MakeOffline(ctx);
    case id::kReadFileInfo: return Start(ctx, 21);
    case id::kSetPassword: return Start(ctx, 23);
    case id::kLockProgrammer:
        // The click has already turned the box; an operation that never starts must not leave it turned.
        if (!ctx.worker || !ctx.worker->StartOperation(25)) ui.SetChecked(controlId, !ui.IsChecked(controlId));
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
