#include "state/AppContext.h"

#include "state/ControlIds.h"

namespace veldrix {

void SetStatus(AppContext& ctx, const std::string& text) { ctx.ui->SetText(id::kStatusLine, text); }

MsgAnswer ShowBox(AppContext& ctx, const std::string& text, const std::string& caption, MsgButtons buttons,
                  MsgIcon icon, int defaultButton) {
    return ctx.ui->MessageBox({text, caption, buttons, icon, defaultButton});
}

}  // namespace veldrix
