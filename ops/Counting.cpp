#include "ops/Counting.h"

#include "code/ChipCatalogue.h"
#include "code/Fields.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"

namespace veldrix {

bool CountingOn(AppContext& ctx) { return ctx.ui->GetText(id::kPauseCounting) == kCountingCaption; }

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

}  // namespace veldrix
