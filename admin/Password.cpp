#include "admin/Password.h"

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "link/PasswordCheck.h"
#include "link/Session.h"

namespace veldrix {

void ChangePassword(AppContext& ctx) {
    ctx.passwordRemembered = false;
    if (!AcquireOperationPassword(ctx)) return;
    std::optional<std::string> fresh = ctx.ui->AskNewPassword();
    if (!fresh) return NoteOutcome(ctx, OutcomeClass::Aborted);
    std::string now = PasswordBytes(*fresh);
    CommandBlock& b = ctx.block;
    for (int i = 0; i < 6; ++i) b[cb::kStartAddress + i] = size_t(i) < now.size() ? uint8_t(now[size_t(i)]) : 0;
    for (int i = 0; i < 2; ++i) b[cb::kChecksum + i] = size_t(6 + i) < now.size() ? uint8_t(now[size_t(6 + i)]) : 0;
    // The current password stays in bytes 30-37; the new one is remembered.
    ctx.rememberedPassword = now;
    b.SetOpCode(op::kSetPassword);
    if (!OpenSession(ctx)) return;
    size_t received = 0;
    Reply r = ReadShortReply(ctx, {reply::kShortBuffer, reply::kPasswordLength, reply::kWorkTries}, received);
    if (!ReplyIs(r, "OKPWD")) {
        ctx.LinkErrorFlag = 1;
        NotePasswordRefused(ctx, r, received);
        SetStatus(ctx, "密码错误! 操作失败!");
        return;
    }
    ctx.LinkErrorFlag = 0;
    SetStatus(ctx, "密码修改成功! 请您牢记新密码!");
    ShowBox(ctx,
            "你已修改了操作密码,由于本机存储器代码是采用旧密码系统进行加密,\n"
            "因此必须重新下载代码和制作脱机烧写母片,以保证内存代码的正确有效!",
            "警告", MsgButtons::Ok, MsgIcon::Warning);
    ctx.codeInMemory = 0;
    ctx.memoryRewritten = 0;
}

void LockProgrammer(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    if (!ui.IsEnabled(id::kLockProgrammer)) return;
    bool nowChecked = ui.IsChecked(id::kLockProgrammer);
    ctx.passwordRemembered = false;
    if (!AcquireOperationPassword(ctx)) {
        ui.SetChecked(id::kLockProgrammer, !nowChecked);
        return;
    }
    ctx.block.SetOpCode(op::kLock);
    ctx.block[cb::kLockState] = nowChecked ? 1 : 0;
    if (!OpenSession(ctx)) return;
    size_t received = 0;
    Reply r = ReadShortReply(ctx, {reply::kShortBuffer, reply::kPasswordLength, reply::kLockTries}, received);
    if (!ReplyIs(r, "OKPWD")) {
        ctx.LinkErrorFlag = 1;
        NotePasswordRefused(ctx, r, received);
        SetStatus(ctx, "密码错误! 操作失败!");
        ui.SetChecked(id::kLockProgrammer, !nowChecked);
        return;
    }
    Reply done = ReadShortReply(ctx, reply::kToken);
    NoteReply(ctx, done);
    if (ReplyIs(done, "OK")) {
        SetStatus(ctx, nowChecked ? "已设定编程器为锁定状态" : "已解除编程器锁定状态");
    } else {
        ctx.LinkErrorFlag = 1;  // shown as a failure, not in the colour of success
        SetStatus(ctx, "编程器锁定状态操作失败");
    }
}

}  // namespace veldrix
