#include "admin/Counters.h"

#include "admin/Password.h"
#include "app/AppContext.h"
#include "app/ChipCatalogue.h"
#include "app/ControlIds.h"
#include "code/Fields.h"
#include "link/Session.h"

namespace veldrix {

namespace {

constexpr uint32_t kMaxCounter = 0xFFFFFF;  // the unit keeps 24 bits
constexpr uint32_t kMaxIdAddress = 0xFFFD;
constexpr const char* kCountingCaption = "暂停计数";
constexpr const char* kPausedCaption = "开始计数";

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

bool CountingOn(AppContext& ctx) { return ctx.ui->GetText(id::kPauseCounting) == kCountingCaption; }

int SelectedBlockNumber(AppContext& ctx) {
    int index = ctx.ui->ComboSelection(id::kDirectory);
    return (index < 0 ? 0 : index) + 1;
}

void ResetCounts(AppContext& ctx) {
    if (ShowBox(ctx, "计数器初始值将被清零!确定吗?", "确 认", MsgButtons::YesNo, MsgIcon::Question, 1) !=
        MsgAnswer::Yes)
        return;
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

void PrepareIdIncrement(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    std::string address, current;
    PadLeftZeros(ui.GetText(id::kIdAddress).substr(0, 5), 5, address);
    PadLeftZeros(ui.GetText(id::kCounterCurrent).substr(0, 8), 8, current);
    // Text that is not a number must never become an ID written into chips.
    bool addressValid = OnlyCharsFrom("0123456789ABCDEFabcdef", address);
    bool valueValid = OnlyCharsFrom("0123456789", current);
    ctx.idAddress = addressValid ? uint32_t(ParseDigits(address, 16)) : 0xFFFFFFFF;
    ctx.idValue = valueValid ? uint32_t(ParseDigits(current, 10)) + 1 : 0;

    ctx.block.Put24(cb::kIdAddress, ctx.idAddress);
    ctx.block.Put24(cb::kCounterCurrent, ctx.idValue);
    ctx.LinkErrorFlag = 0;

    uint32_t highest = ChipMaxRomAddress(ctx);
    if (ctx.idAddress > highest - 2) {
        ShowBox(ctx,
                "无效的ROM地址设置!ID码ROM地址设置超出了目标芯片有效ROM地址值,\n"
                "提示: ID码写入ROM地址最大值必须小于目标芯片最大ROM地址减2个字节,\n"
                "例如: S3F9454最大ROM为0FFFH,则其ID码的最大地址必须小于或等于0FFDH;\n请重新输入!",
                "ID码写入地址无效", MsgButtons::Ok, MsgIcon::Error);
        ctx.LinkErrorFlag = 1;
    } else if (!valueValid || ctx.idValue > kMaxCounter) {
        ShowBox(ctx, "无效的计数器初始值设置!\n计数器初始值值必须小于十进制数16777215,请重新输入!", "输入数据无效",
                MsgButtons::Ok, MsgIcon::Error);
        ctx.LinkErrorFlag = 1;
    }
}

void SetCounter(AppContext& ctx) {
    if (!AcquireOperationPassword(ctx)) return;
    LoadCounterFields(ctx);
    ctx.block[cb::kBlockNumber] = uint8_t(SelectedBlockNumber(ctx));
    ctx.block.SetOpCode(22);
    if (!OpenSession(ctx) || !CheckPasswordReply(ctx)) return;
    Reply r = ReadShortReply(ctx, 16, 2, 100);
    if (ReplyIs(r, "OK")) {
        SetStatus(ctx, "设置计数器成功");
    } else {
        ctx.LinkErrorFlag = 1;  // the status line shows the failure in red
        SetStatus(ctx, "设置计数器失败");
    }
}

}  // namespace veldrix
