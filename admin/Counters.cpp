#include "admin/Counters.h"

#include "link/PasswordCheck.h"
#include "state/AppContext.h"
#include "ops/Counting.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "code/Fields.h"
#include "link/Session.h"

namespace veldrix {

namespace {

constexpr uint32_t kMaxIdAddress = 0xFFFD;

// The field's first `width` characters as a number; -1 when they are not
// digits of the base.
int64_t FieldNumber(AppContext& ctx, int id, size_t width, int base) {
    std::string text = ctx.ui->GetText(id).substr(0, width);
    if (!OnlyCharsFrom(base == 10 ? "0123456789" : "0123456789ABCDEFabcdef", text)) return -1;
    return int64_t(uint32_t(ParseDigits(text, base)));
}

// Clamped for the block: anything unreadable counts as too large.
uint32_t Clamped(int64_t value, uint32_t limit) {
    return (value < 0 || value > int64_t(limit)) ? limit : uint32_t(value);
}

}  // namespace

int SelectedBlockNumber(AppContext& ctx) {
    int index = ctx.ui->ComboSelection(id::kDirectory);
    return (index < 0 ? 0 : index) + 1;
}

void ResetCounts(AppContext& ctx) {
    if (Ask(ctx, "counter-reset", "计数器初始值将被清零!确定吗?", "确 认", MsgButtons::YesNo, MsgIcon::Question, 1) !=
        MsgAnswer::Yes)
        return NoteOutcome(ctx, OutcomeClass::Aborted);
    ctx.ui->SetText(id::kSuccessCount, "00000");
    ctx.ui->SetText(id::kFailureCount, "00000");
    ctx.successCount = 0;
    ctx.failureCount = 0;
    SetStatus(ctx, "计数器初始值已清零");
}

void ToggleCounting(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    bool pause = ui.GetText(id::kPauseCounting) == kCountingCaption;
    ui.SetText(id::kPauseCounting, pause ? kPausedCaption : kCountingCaption);
    ui.SetEnabled(id::kSuccessCount, !pause);
    ui.SetEnabled(id::kFailureCount, !pause);
}

void LoadCounterFields(AppContext& ctx) {
    CommandBlock& b = ctx.block;
    b.Put24(cb::kCounterCurrent, Clamped(FieldNumber(ctx, id::kCounterCurrent, 9, 10), kMaxCounter));
    b.Put24(cb::kCounterEnd, Clamped(FieldNumber(ctx, id::kCounterEnd, 9, 10), kMaxCounter));
    b.Put24(cb::kIdAddress, Clamped(FieldNumber(ctx, id::kIdAddress, 5, 16), kMaxIdAddress));
}

void SetCounter(AppContext& ctx) {
    if (!AcquireOperationPassword(ctx)) return;
    LoadCounterFields(ctx);
    ctx.block[cb::kBlockNumber] = uint8_t(SelectedBlockNumber(ctx));
    ctx.block.SetOpCode(op::kSetCounter);
    if (!OpenSession(ctx) || !CheckPasswordReply(ctx)) return;
    Reply r = ReadShortReply(ctx, reply::kVerdict);
    NoteReply(ctx, r);
    if (ReplyIs(r, "OK")) {
        SetStatus(ctx, "设置计数器成功");
    } else {
        ctx.LinkErrorFlag = 1;  // the status line shows the failure in red
        SetStatus(ctx, "设置计数器失败");
    }
}

}  // namespace veldrix
