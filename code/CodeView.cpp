#include "code/CodeView.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "state/AppContext.h"
#include "state/ControlIds.h"
#include "state/OpCodes.h"
#include "code/Fields.h"

namespace veldrix {

namespace {
constexpr uint32_t kLastPage = 0xFFF00;  // the last page that still lies inside 1 MB
}  // namespace

std::string CodeCellText(uint8_t byte, bool ascii) {
    if (!ascii) return Hex(byte, 2);
    if (byte >= 0x21 && byte <= 0x7E) return std::string(1, char(byte));
    return {};
}

bool NextViewAddress(AppContext& ctx, int opCode, uint32_t& address) {
    Ui& ui = *ctx.ui;
    address = ctx.viewAddress;
    switch (opCode) {
    case op::kViewSet: {
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
    case op::kPrevPage: address -= kCodePageSize; break;  // wraps below 0 onto the last page
    case op::kNextPage: address += kCodePageSize; break;
    default: break;
    }
    if (address >= kLastPage) address = kLastPage;
    address &= ~0xFu;
    return true;
}

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

}  // namespace veldrix
