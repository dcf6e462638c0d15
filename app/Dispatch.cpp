#include "app/Dispatch.h"

#include "admin/Counters.h"
#include "admin/MasterCopy.h"
#include "admin/OfflineFiles.h"
#include "admin/Password.h"
#include "app/OptionChecks.h"
#include "code/CodeFile.h"
#include "link/Session.h"
#include "ops/AutoSequence.h"
#include "ops/ChipOperations.h"
#include "ops/CodePages.h"
#include "ops/Copies.h"
#include "ops/Download.h"
#include "ops/MemoryHex.h"
#include "ops/Protection.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"

namespace veldrix {

void DispatchOperation(AppContext& ctx, int opCode) {
    // Copies into memory, an offline file made from it and a password change
    // leave it holding something other than the last download.
    if (opCode == op::kCopyChip || opCode == op::kCopyMaster || opCode == op::kMakeOffline ||
        opCode == op::kSetPassword)
        ForgetDownload(ctx);
    switch (opCode) {
    case op::kDownload: DownloadToProgrammer(ctx); break;
    case op::kMemoryChecksum: CheckProgrammerMemory(ctx, op::kNone); break;
    case op::kEraseMtp: case op::kSmart: case op::kReadProtect: case op::kLdcProtect: case op::kHardwareProtect:
    case op::kSmartDebug: RunProtectionOperation(ctx); break;
    case op::kProgram: ProgramChip(ctx); break;
    case op::kVerify:
        if (ctx.ui->IsChecked(id::kDebugMode)) VerifyChipByReadBack(ctx);
        else VerifyChip(ctx, op::kVerify);
        break;
    case op::kChipChecksum: ReadChipChecksum(ctx); break;
    case op::kBlankCheck: BlankCheck(ctx); break;
    case op::kProgramDirect: ProgramChipDirect(ctx); break;
    case op::kOpenFile:
        if (!ChooseCodeFile(ctx)) {
            NoteOutcome(ctx, OutcomeClass::Aborted);
            break;
        }
        ctx.block.SetOpCode(op::kDownload);
        DownloadToProgrammer(ctx);
        break;
    case op::kCopyChip:
        if (ctx.ui->IsChecked(id::kDebugMode)) RefuseInDebugMode(ctx);
        else CopyChipToMemory(ctx);
        break;
    case op::kReadFileInfo: ReadFileInfo(ctx); break;
    case op::kSetCounter: SetCounter(ctx); break;
    case op::kCopyMaster:
        if (ctx.ui->IsChecked(id::kDebugMode)) RefuseInDebugMode(ctx);
        else CopyMasterToMemory(ctx);
        break;
    case op::kWriteIdCode: WriteIdCode(ctx); break;
    case op::kResetCounts: ResetCounts(ctx); break;
    case op::kToggleCounting: ToggleCounting(ctx); break;
    case op::kAutoProgram: RunAutoSequence(ctx); break;
    case op::kMakeOffline: MakeOfflineFile(ctx); break;
    case op::kDeleteFile: DeleteDirectoryBlock(ctx); break;
    case op::kSetPassword: ChangePassword(ctx); break;
    case op::kLock: LockProgrammer(ctx); break;
    case op::kInfo: ShowProgrammerInfo(ctx); break;
    case op::kSaveHex: SaveMemoryAsHex(ctx); break;
    default:
        if (opCode >= op::kFirstView) ShowCodePage(ctx, opCode);
        break;  // other codes without a routine run only the start and end steps
    }
}

}  // namespace veldrix
