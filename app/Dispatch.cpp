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

namespace veldrix {

void DispatchOperation(AppContext& ctx, int opCode) {
    // Copies into memory, an offline file made from it and a password change
    // leave it holding something other than the last download.
    if (opCode == 15 || opCode == 24 || opCode == 49 || opCode == 23) ForgetDownload(ctx);
    switch (opCode) {
    case 3: DownloadToProgrammer(ctx); break;
    case 4: CheckProgrammerMemory(ctx, 0); break;
    case 6: case 9: case 10: case 11: case 12: case 27: RunProtectionOperation(ctx); break;
    case 7: ProgramChip(ctx); break;
    case 8:
        if (ctx.ui->IsChecked(id::kDebugMode)) VerifyChipByReadBack(ctx);
        else VerifyChip(ctx, 8);
        break;
    case 13: ReadChipChecksum(ctx); break;
    case 16: BlankCheck(ctx); break;
    case 26: ProgramChipDirect(ctx); break;
    case 45:
        if (!ChooseCodeFile(ctx)) {
            NoteOutcome(ctx, OutcomeClass::Aborted);
            break;
        }
        ctx.block.SetOpCode(3);
        DownloadToProgrammer(ctx);
        break;
    case 15:
        if (ctx.ui->IsChecked(id::kDebugMode)) RefuseInDebugMode(ctx);
        else CopyChipToMemory(ctx);
        break;
    case 21: ReadFileInfo(ctx); break;
    case 22: SetCounter(ctx); break;
    case 24:
        if (ctx.ui->IsChecked(id::kDebugMode)) RefuseInDebugMode(ctx);
        else CopyMasterToMemory(ctx);
        break;
    case 31: WriteIdCode(ctx); break;
    case 38: ResetCounts(ctx); break;
    case 39: ToggleCounting(ctx); break;
    case 46: RunAutoSequence(ctx); break;
    case 49: MakeOfflineFile(ctx); break;
    case 51: DeleteDirectoryBlock(ctx); break;
    case 23: ChangePassword(ctx); break;
    case 25: LockProgrammer(ctx); break;
    case 37: ShowProgrammerInfo(ctx); break;
    case 47: SaveMemoryAsHex(ctx); break;
    default:
        if (opCode >= 60) ShowCodePage(ctx, opCode);
        break;  // other codes without a routine run only the start and end steps
    }
}

}  // namespace veldrix
