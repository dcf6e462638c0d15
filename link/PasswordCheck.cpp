#include "link/PasswordCheck.h"

#include "link/Session.h"
#include "seams/Files.h"
#include "state/AppContext.h"

namespace veldrix {

namespace {
void PutPassword(AppContext& ctx) {
    for (int i = 0; i < 8; ++i)
        ctx.block[cb::kPassword + i] =
            size_t(i) < ctx.rememberedPassword.size() ? uint8_t(ctx.rememberedPassword[size_t(i)]) : 0;
}
}  // namespace

std::string PasswordBytes(const std::string& typed) {
    // The unit compares bytes: the first eight, even where they end inside a
    // character, so a password set from another program still matches.
    return ToFileText(typed).substr(0, 8);
}

bool AcquireOperationPassword(AppContext& ctx) {
    if (!ctx.passwordRemembered) {
        std::optional<std::string> typed = ctx.ui->AskPassword();
        if (!typed) {
            NoteOutcome(ctx, OutcomeClass::Aborted);
            SetStatus(ctx, kTextAborted);
            return false;
        }
        ctx.rememberedPassword = PasswordBytes(*typed);
    }
    PutPassword(ctx);
    return true;
}

void NotePasswordRefused(AppContext& ctx, const Reply& reply, size_t received) {
    if (!received) return;
    NoteReply(ctx, reply);
    NoteOutcome(ctx, OutcomeClass::Refused);
}

bool CheckPasswordReply(AppContext& ctx) {
    size_t received = 0;
    Reply r = ReadShortReply(ctx, {reply::kShortBuffer, reply::kPasswordLength, reply::kPromptTries}, received);
    if (ReplyIs(r, "OKPWD")) {
        NoteReply(ctx, r);
        if (!ctx.passwordRemembered) {
            MsgAnswer a = Ask(ctx, "remember-password",
                                  "是否需要记忆该密码? 这样在VELDRIX本次运行期间对一些频繁需要输入密码的操作,\n"
                                  "您就不需要再额外输入密码,可减少操作的繁琐.",
                                  "提示:", MsgButtons::YesNo, MsgIcon::Question);
            ctx.passwordRemembered = a == MsgAnswer::Yes;
        }
        return true;
    }
    ctx.LinkErrorFlag = 1;
    ctx.passwordRemembered = false;
    NotePasswordRefused(ctx, r, received);
    SetStatus(ctx, "密码错误! 该操作无法继续!");
    return false;
}

}  // namespace veldrix
