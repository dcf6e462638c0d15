#include "state/AppContext.h"

#include "state/ControlIds.h"

namespace veldrix {

void SetStatus(AppContext& ctx, const std::string& text) { ctx.ui->SetText(id::kStatusLine, text); }

void StartOutcome(AppContext& ctx) { ctx.outcome = OperationOutcome{}; }

void NoteOutcome(AppContext& ctx, OutcomeClass cls) { ctx.outcome.cls = cls; }

void NoteVerdict(AppContext& ctx, const std::string& verdict) { ctx.outcome.verdict = verdict; }

void SettleOutcome(AppContext& ctx) {
    if (ctx.outcome.cls == OutcomeClass::None)
        ctx.outcome.cls = ctx.LinkErrorFlag ? OutcomeClass::ChipFailed : OutcomeClass::Success;
}

void ReportProgress(AppContext& ctx, const std::string& stage, uint32_t address, uint32_t start, uint32_t end) {
    if (ctx.progress) ctx.progress(ProgressReport{stage, address, start, end});
}

MsgAnswer ShowBox(AppContext& ctx, const std::string& text, const std::string& caption, MsgButtons buttons,
                  MsgIcon icon, int defaultButton) {
    return ctx.ui->MessageBox({text, caption, buttons, icon, defaultButton, {}});
}

MsgAnswer Ask(AppContext& ctx, const std::string& question, const std::string& text, const std::string& caption,
              MsgButtons buttons, MsgIcon icon, int defaultButton) {
    return ctx.ui->MessageBox({text, caption, buttons, icon, defaultButton, question});
}

}  // namespace veldrix
