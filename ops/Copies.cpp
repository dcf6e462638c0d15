#include "ops/Copies.h"

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "code/Fields.h"
#include "link/Session.h"

namespace veldrix {

namespace {

constexpr const char* kTextInitialising = "正在初始化编程存储器,该过程约需几秒到几十秒时间,请耐心等候......";
constexpr const char* kTextInitFailed = "初始化编程存储器失败!请尝试重新初始化!";
constexpr const char* kTextCopyingChip = "请稍候,拷贝芯片数据到编程内存";

}  // namespace

bool ConfirmMemoryChange(AppContext& ctx) {
    if (Ask(ctx, "memory-change", "这个操作将改变编程内存代码数据,是否继续?", "警告", MsgButtons::YesNo, MsgIcon::Warning) ==
        MsgAnswer::Yes)
        return true;
    NoteOutcome(ctx, OutcomeClass::Aborted);
    SetStatus(ctx, kTextAborted);
    return false;
}

bool InitialiseMemory(AppContext& ctx, int tries) {
    ctx.block[cb::kBlockNumber] = 0;
    ctx.block.SetOpCode(op::kClearArea);
    if (!OpenSession(ctx)) return false;
    SetStatus(ctx, kTextInitialising);
    Reply reply = ReadShortReply(ctx, {reply::kLongBuffer, reply::kClearLength, tries});
    NoteReply(ctx, reply);
    if (ReplyIs(reply, "OK")) return true;
    ctx.LinkErrorFlag = 1;
    SetStatus(ctx, kTextInitFailed);
    return false;
}

bool FollowCopy(AppContext& ctx, const char* text, uint32_t end, int pauseMs) {
    uint32_t position = 0;
    ProgressStream stream(0, end);
    do {
        ctx.Sleep(pauseMs);
        if (!stream.Next(ctx, position)) return false;
        ReportProgress(ctx, text, position, 0, end);
        SetStatus(ctx, std::string(text) + ",地址: " + Hex(position, 5));
    } while (position < end);
    return true;
}

void CopyChipToMemory(AppContext& ctx) {
    if (!ConfirmMemoryChange(ctx)) return;
    ctx.Sleep(200);
    ctx.memoryRewritten = 1;
    if (!InitialiseMemory(ctx, reply::kChipCopyClearTries)) return;
    SetStatus(ctx, std::string(kTextCopyingChip) + "......");
    ctx.Sleep(100);

    const AddressRange range = ctx.programmingRange;
    ctx.block.SetRange(range.start, range.end);
    ctx.LinkErrorFlag = 0;
    ctx.block.SetOpCode(op::kCopyChip);
    if (!OpenSession(ctx)) return;
    if (ReplyIs(ReadShortReply(ctx, reply::kToken), "EV")) return ReportVoltageError(ctx);
    // A range of one address sends no progress at all, so only a copy from
    // address 0 can have reached its end without one.
    if (range.start < range.end ? !FollowCopy(ctx, kTextCopyingChip, range.end, 300) : range.end > 0)
        ctx.LinkErrorFlag = 1;

    ctx.codeInMemory = 0;
    uint16_t value = ReadWord16(ctx);  // read in every case, so nothing is left on the line
    const std::string text = "拷贝芯片数据检查和 =  ";
    if (ctx.LinkErrorFlag) return SetStatus(ctx, text + "XXXX");
    ctx.codeInMemory = 1;
    ctx.outcome.checksum = value;
    ctx.ui->SetText(id::kChecksum, Hex(value, 4));
    SetStatus(ctx, text + Hex(value, 4));
}

}  // namespace veldrix
