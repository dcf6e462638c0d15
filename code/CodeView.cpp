#include "code/CodeView.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "app/AppContext.h"
#include "app/ControlIds.h"
#include "code/Fields.h"
#include "link/Session.h"
#include "link/Worker.h"

namespace veldrix {

namespace {

constexpr uint32_t kPageSize = 256;
constexpr uint32_t kLastPage = 0xFFF00;  // the last page that still lies inside 1 MB
constexpr size_t kReadCapacity = 2048;
constexpr int kRows = 16;

bool DebugMode(Ui& ui) { return ui.IsChecked(id::kDebugMode); }

std::string CellText(uint8_t byte, bool ascii) {
    if (!ascii) return Hex(byte, 2);
    if (byte >= 0x21 && byte <= 0x7E) return std::string(1, char(byte));
    return {};
}

// The page address the code asks for; false when the typed address is not
// hexadecimal text (the page then stays as it is).
bool NextViewAddress(AppContext& ctx, int opCode, uint32_t& address) {
    Ui& ui = *ctx.ui;
    address = ctx.viewAddress;
    switch (opCode) {
    case 61: {
        std::string typed = ui.GetText(id::kViewAddress).substr(0, 99);
        std::string padded;
        PadLeftZeros(typed, 5, padded);  // more than 40 characters: empty, so address 0
        if (!OnlyCharsFrom(HexCharset, padded)) {
            ctx.LinkErrorFlag = 1;
            SetStatus(ctx, "显示代码设置地址错误.");
            return false;
        }
        address = uint32_t(ParseDigits(padded, 16));
        ui.SetText(id::kViewAddress, Hex(address, 5));
        break;
    }
    case 63: address -= kPageSize; break;  // wraps below 0 onto the last page
    case 64: address += kPageSize; break;
    default: break;
    }
    if (address >= kLastPage) address = kLastPage;
    address &= ~0xFu;
    return true;
}

}  // namespace

void InitCodeView(AppContext& ctx) {
    Ui& ui = *ctx.ui;
    std::vector<std::pair<std::string, int>> columns{{"ADDR", 45}};
    for (int x = 0; x < 16; ++x) columns.push_back({std::string(1, "0123456789ABCDEF"[x]), 26});
    ui.ListSetColumns(id::kCodeList, columns);
    ctx.viewAddress = 0;
    ui.SetText(id::kViewAddress, "00000");
    ui.SetChecked(id::kViewMemory, true);
    ui.SetChecked(id::kViewChip, false);
    ui.SetChecked(id::kViewMaster, false);
    ui.SetChecked(id::kViewAscii, false);
    ctx.codeViewInitialised = true;
}

void ShowCodeView(AppContext& ctx, bool open) {
    Ui& ui = *ctx.ui;
    for (int group : {id::kChipGroup, id::kAuxGroup, id::kChipTypeGroup, id::kCommGroup, id::kVppGroup, id::kVddGroup,
                      id::kSystemGroup, id::kDataGroup, id::kOperationsGroup, id::kFileGroup, id::kQuit,
                      id::kLinkLabel})
        ui.SetVisible(group, !open);
    for (int part : {id::kViewGroup, id::kCodeList, id::kViewBack}) ui.SetVisible(part, open);
}

void ShowCodePage(AppContext& ctx, int opCode) {
    if (!ctx.ConnectedFlag) return;
    Ui& ui = *ctx.ui;
    uint32_t address;
    if (!NextViewAddress(ctx, opCode, address)) return;
    ctx.viewAddress = address;

    for (int r = 0; r < kRows; ++r) ui.ListSetCell(id::kCodeList, r, 0, Hex(address + 16 * uint32_t(r), 5));

    bool ascii = ui.IsChecked(id::kViewAscii);
    uint8_t source = 5;
    if (ui.IsChecked(id::kViewChip)) {
        source = 14;
    } else if (ui.IsChecked(id::kViewMaster)) {
        source = 20;
        ctx.block[cb::kBlockNumber] = uint8_t(ui.ComboSelection(id::kDirectory) + 1);
    }
    SetStatus(ctx, "调入代码......");

    std::vector<uint8_t> page(kReadCapacity, 0xFF);
    bool have;
    if (source == 5 && DebugMode(ui)) {
        std::copy_n(ctx.codeBuffer.begin() + address, kPageSize, page.begin());
        have = true;
    } else {
        size_t count = 0;
        have = ReadDataBlock(ctx, source, address, address + kPageSize - 1, page, kReadCapacity, count);
    }

    // What a failed read left in the buffer means nothing: those cells stay empty.
    for (int r = 0; r < kRows; ++r)
        for (int x = 0; x < 16; ++x)
            ui.ListSetCell(id::kCodeList, r, x + 1, have ? CellText(page[size_t(r * 16 + x)], ascii) : std::string());

    ui.SetText(id::kViewAddress, Hex(address, 5));
    // After a failed read the status line keeps what went wrong.
    if (have)
        SetStatus(ctx, "当前显示代码区段:  " + Hex(address, 5) + "~" + Hex((address + kPageSize - 1) & 0xFFFFF, 5));
}

void EditCodeByte(AppContext& ctx, int row, int column) {
    Ui& ui = *ctx.ui;
    if (ctx.BusyFlag || !DebugMode(ui)) return;
    if (row < 0 || row >= kRows || column < 1 || column > 16) return;
    std::string label = ui.ListCell(id::kCodeList, row, 0);
    if (label.empty()) return;  // no page shown yet: the list has no rows to hit

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

    ctx.codeBuffer[address] = byte;
    ctx.block[cb::kDataByte] = byte;
    ctx.block.Put24(cb::kStartAddress, address);
    // No traffic of its own: a later download carries the change.
    RunOperationNow(ctx, 48);
}

}  // namespace veldrix
