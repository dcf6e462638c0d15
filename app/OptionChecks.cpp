#include "app/OptionChecks.h"

#include "code/ChipCatalogue.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "code/Fields.h"
#include "link/Session.h"

namespace veldrix {

bool CheckChipFit(AppContext& ctx) {
    unsigned index = FindSelectedChip(ctx);
    if (index == 0) return true;
    const ChipRecord& chip = ctx.catalogue.records[index];
    Ui& ui = *ctx.ui;
    bool wrongVdd = (ui.IsChecked(id::kVdd50) && chip.vdd == "3V") || (ui.IsChecked(id::kVdd33) && chip.vdd == "5V");
    if (wrongVdd) {
        std::string text = "目标芯片VDD电压选择错误!\n错误的VDD电压可能会导致芯片烧写失败!\n注: " + chip.name +
                           "的额定VDD电压是: " + chip.vdd + "\n是否继续?";
        if (Ask(ctx, "voltage", text, "警告", MsgButtons::YesNo, MsgIcon::Warning, 1) != MsgAnswer::Yes) return false;
    }
    uint32_t highest = MaxRomAddressForName(chip.name);
    if (highest < ctx.programmingRange.end) {
        std::string text = "加载的程序代码编程终止地址已超出了所选目标芯片\n最大ROM有效地址!这样会导致芯片烧写校验失败!\n注: " +
                           chip.name + "的ROM最大有效地址是: " + Hex(highest, 4) + "\n是否继续?";
        if (Ask(ctx, "rom-size", text, "错误", MsgButtons::YesNo, MsgIcon::Error, 1) != MsgAnswer::Yes) return false;
    }
    return true;
}

void RefuseInDebugMode(AppContext& ctx) {
    ShowBox(ctx, "调试模式不允许进行本操作!\n请先进入普通模式后重新下载代码文件到缓冲区后再执行本操作!", "提示:",
            MsgButtons::Ok, MsgIcon::Warning);
    NoteOutcome(ctx, OutcomeClass::UsageOrFile);
    SetStatus(ctx, kTextAborted);
}

void RefuseRewrittenMemory(AppContext& ctx) {
    ShowBox(ctx, "编程内存代码已被重写,请先将内存代码保存\n为HEX文件然后重新加载,再执行本操作!", "\n注: ");
    NoteOutcome(ctx, OutcomeClass::UsageOrFile);
    SetStatus(ctx, kTextAborted);
}

void RefuseNoCode(AppContext& ctx) {
    ShowBox(ctx, "编程内存中无代码调入,请打开相关的\n代码文件以调入编程代码!", "警告", MsgButtons::Ok,
            MsgIcon::Warning);
    NoteOutcome(ctx, OutcomeClass::UsageOrFile);
    SetStatus(ctx, kTextAborted);
}

}  // namespace veldrix
