#include "code/CodeView.h"

#include "app/AppContext.h"
#include "app/ControlIds.h"

namespace veldrix {

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
