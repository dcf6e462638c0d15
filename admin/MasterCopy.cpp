#include "admin/MasterCopy.h"

#include "admin/OfflineFiles.h"
#include "code/Fields.h"
#include "link/PasswordCheck.h"
#include "link/Session.h"
#include "ops/Copies.h"
#include "ops/Download.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"

namespace veldrix {

namespace {
constexpr const char* kTextCopyingMaster = "请稍候,拷贝母片数据到编程内存";
constexpr const char* kTextMasterInfoError = "读取编程信息出错! 操作已异常中止!";
}  // namespace

void CopyMasterToMemory(AppContext& ctx) {
    if (!AcquireOperationPassword(ctx)) return;
    if (!ConfirmMemoryChange(ctx)) return;
    ctx.memoryRewritten = 1;
    ctx.codeInMemory = 0;  // the initialisation below empties the memory
    if (!InitialiseMemory(ctx, reply::kMasterCopyClearTries)) return;
    SetStatus(ctx, std::string(kTextCopyingMaster) + "......");
    ctx.Sleep(100);

    ctx.LinkErrorFlag = 0;
    ctx.probeOnly = false;
    ReadFileInfo(ctx);
    if (ctx.LinkErrorFlag) {
        ShowBox(ctx, "读取文件信息错误,指定的目录下没有文件.", "警告");
        return;
    }
    // The sum the record names is not the copy's: that comes from the memory below.
    ctx.outcome.checksum.reset();
    ctx.block.SetOpCode(op::kCopyMaster);  // byte 26 still names the block
    if (!OpenSession(ctx) || !CheckPasswordReply(ctx)) return;
    Reply reply = ReadShortReply(ctx, reply::kToken);
    NoteReply(ctx, reply);
    if (!ReplyIs(reply, "OK")) {
        ctx.LinkErrorFlag = 1;
        return SetStatus(ctx, kTextMasterInfoError);
    }
    Reply endBytes = ReadWholeReply(ctx, {reply::kShortBuffer, reply::kWord24Length, reply::kPromptTries});
    if (ctx.LinkErrorFlag) return SetStatus(ctx, kTextMasterInfoError);
    const uint32_t end = uint32_t(endBytes[0]) << 16 | uint32_t(endBytes[1]) << 8 | endBytes[2];
    ctx.programmingRange.end = end;
    ctx.ui->SetText(id::kStartAddress, "0000");
    ctx.ui->SetText(id::kEndAddress, Hex(end, 4));

    const std::string text = "拷贝母片数据检查和 =  ";
    // A copy that broke off leaves the memory half filled: it must stay
    // marked as rewritten, never be adopted by the checksum below.
    if (end != 0 && !FollowCopy(ctx, kTextCopyingMaster, end, 20)) {
        ctx.LinkErrorFlag = 1;
        return SetStatus(ctx, text + "XXXX");
    }
    ctx.memoryRewritten = 0;
    CheckProgrammerMemory(ctx, op::kCopyMaster);
    if (ctx.LinkErrorFlag) {
        ctx.memoryRewritten = 1;
        return SetStatus(ctx, text + "XXXX");
    }
    ctx.codeInMemory = 1;
    SetStatus(ctx, text + ctx.ui->GetText(id::kChecksum).substr(0, 4));
}

}  // namespace veldrix
