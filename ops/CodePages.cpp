#include "ops/CodePages.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "code/CodeView.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "link/Worker.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"

namespace veldrix {

namespace {

constexpr size_t kReadCapacity = 2048;

bool DebugMode(Ui& ui) { return ui.IsChecked(id::kDebugMode); }

}  // namespace

void ShowCodePage(AppContext& ctx, int opCode) {
    if (!ctx.ConnectedFlag) return;
    Ui& ui = *ctx.ui;
    uint32_t address;
    if (!NextViewAddress(ctx, opCode, address)) return;
    ctx.viewAddress = address;

    for (int r = 0; r < kCodeRows; ++r) ui.ListSetCell(id::kCodeList, r, 0, Hex(address + 16 * uint32_t(r), 5));

    bool ascii = ui.IsChecked(id::kViewAscii);
    uint8_t source = op::kReadMemory;
    if (ui.IsChecked(id::kViewChip)) {
        source = op::kReadChip;
    } else if (ui.IsChecked(id::kViewMaster)) {
        source = op::kOfflineRead;
        ctx.block[cb::kBlockNumber] = uint8_t(ui.ComboSelection(id::kDirectory) + 1);
    }
    SetStatus(ctx, "调入代码......");

    std::vector<uint8_t> page(kReadCapacity, 0xFF);
    bool have;
    if (source == op::kReadMemory && DebugMode(ui)) {
        std::copy_n(ctx.codeBuffer.begin() + address, kCodePageSize, page.begin());
        have = true;
    } else {
        size_t count = 0;
        have = ReadDataBlock(ctx, source, address, address + kCodePageSize - 1, page, kReadCapacity, count);
    }

    // What a failed read left in the buffer means nothing: those cells stay empty.
    for (int r = 0; r < kCodeRows; ++r)
        for (int x = 0; x < 16; ++x)
            ui.ListSetCell(id::kCodeList, r, x + 1, have ? CodeCellText(page[size_t(r * 16 + x)], ascii) : std::string());

    ui.SetText(id::kViewAddress, Hex(address, 5));
    // After a failed read the status line keeps what went wrong.
    if (have)
        SetStatus(ctx, "当前显示代码区段:  " + Hex(address, 5) + "~" + Hex((address + kCodePageSize - 1) & 0xFFFFF, 5));
}

void EditCodeByte(AppContext& ctx, int row, int column) {
    Ui& ui = *ctx.ui;
    if (ctx.BusyFlag || (ctx.worker && ctx.worker->OperationRunning()) || !DebugMode(ui)) return;
    if (row < 0 || row >= kCodeRows || column < 1 || column > 16) return;
    std::string label = ui.ListCell(id::kCodeList, row, 0);
    if (label.empty()) return;  // no page shown yet: the list has no rows to hit

    // Busy for the whole edit, as an operation is: no link check starts while
    // the dialog is open, and one already running lets go of the command
    // block before the edit writes it.
    ctx.BusyFlag = 1;
    ctx.ui->RefreshCursor();
    struct Release {
        AppContext& ctx;
        ~Release() {
            ctx.BusyFlag = 0;
            ctx.ui->RefreshCursor();
        }
    } release{ctx};

    ctx.LinkErrorFlag = 0;
    if (ui.IsChecked(id::kViewChip) || ui.IsChecked(id::kViewMaster)) {
        ShowBox(ctx, "不能改变芯片代码数据!", "错误", MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    if (ui.IsChecked(id::kViewAscii)) {
        ShowBox(ctx, "不能在ASCII码方式改变代码!", "错误", MsgButtons::Ok, MsgIcon::Warning);
        return;
    }

    std::string addressText = label.substr(0, label.size() - 1) + "0123456789ABCDEF"[column - 1];
    for (char& c : addressText) c = char(std::toupper(static_cast<unsigned char>(c)));
    uint32_t address = uint32_t(ParseDigits(addressText, 16));
    if (address >= ctx.codeBuffer.size()) return;

    auto entered = ui.EditCodeDialog(ui.ListCell(id::kCodeList, row, column), addressText);
    if (!entered) return;
    std::string text = entered->substr(0, 99);
    if (!OnlyCharsFrom(HexCharset, text)) {
        ShowBox(ctx, "代码输入错误!", "VELDRIX", MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    // Only the last two characters count, however long the entry.
    std::string value;
    PadLeftZeros(text.size() > 2 ? std::string_view(text).substr(text.size() - 2) : std::string_view(text), 2, value);
    for (char& c : value) c = char(std::toupper(static_cast<unsigned char>(c)));  // the edit box is upper-case
    ui.ListSetCell(id::kCodeList, row, column, value);
    uint8_t byte = uint8_t(ParseDigits(value, 16));
    if (ctx.worker) ctx.worker->WaitForLinkCheck();

    ctx.codeBuffer[address] = byte;
    ctx.block[cb::kDataByte] = byte;
    ctx.block.Put24(cb::kStartAddress, address);
    // No traffic of its own: a later download carries the change.
    RunOperationNow(ctx, op::kEditByte);
}

}  // namespace veldrix
