#include "ops/Protection.h"

#include "state/AppContext.h"
#include "state/OpCodes.h"
#include "link/Session.h"

namespace veldrix {

namespace {

struct ProtectionTexts {
    int opCode;
    const char* running;
    const char* done;
    const char* refused;
};

const ProtectionTexts kTexts[] = {
    {op::kEraseMtp, "正在擦除MTP,请稍候......", "芯片已擦除!", "擦除芯片失败!"},
    {op::kSmart, "使能芯片SMART系统,请稍候....", "芯片SMART系统已使能!", "使能芯片SMART失败!"},
    {op::kSmartDebug, "使能芯片SMART系统,请稍候....", "芯片SMART系统已使能!", "使能芯片SMART失败!"},
    {op::kReadProtect, "正在使能芯片读保护,请稍候......", "芯片读保护已使能!", "芯片读保护失败!"},
    {op::kLdcProtect, "正在使能芯片LDC保护,请稍候......", "芯片LDC保护已使能!", "芯片LDC保护失败!"},
    {op::kHardwareProtect, "正在使能硬件写保护,请稍候......", "芯片硬件写保护成功!", "芯片硬件写保护失败!"},
};

}  // namespace

void RunProtectionOperation(AppContext& ctx) {
    const ProtectionTexts* texts = nullptr;
    for (const ProtectionTexts& t : kTexts)
        if (t.opCode == ctx.block.OpCode()) texts = &t;
    if (!texts) return;

    SetStatus(ctx, texts->running);
    ctx.LinkErrorFlag = 0;
    if (!OpenSession(ctx)) return;
    // The programmer does the whole job before it answers.
    Reply reply = ReadShortReply(ctx, {reply::kTextBuffer, reply::kTokenLength, reply::kWorkTries});
    NoteReply(ctx, reply);
    if (ReplyIs(reply, "OK")) {
        ctx.LinkErrorFlag = 0;
        SetStatus(ctx, texts->done);
        return;
    }
    ctx.LinkErrorFlag = 1;
    if (ReplyIs(reply, "NO")) SetStatus(ctx, texts->refused);
    else if (ReplyIs(reply, "EV")) ReportVoltageError(ctx);
    else SetStatus(ctx, "操作失败");
}

}  // namespace veldrix
