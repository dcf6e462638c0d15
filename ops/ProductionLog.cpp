#include "ops/ProductionLog.h"

#include "code/Fields.h"
#include "state/AppContext.h"
#include "state/ControlIds.h"

namespace veldrix {

RecordedRun::RecordedRun(AppContext& ctx) : ctx_(ctx), startMs_(ctx.clock->NowMs()) {}

void RecordedRun::Finish(RecordResult result, std::optional<uint32_t> idCode, std::optional<uint32_t> idAddress) {
    if (!ctx_.records) return;
    Ui& ui = *ctx_.ui;
    ProductionRecord r;
    r.time = ctx_.clock->LocalNow();
    r.result = result;
    r.status = ui.GetText(id::kStatusLine);
    r.chip = ui.GetText(id::kChipCombo);
    r.codeFile = ui.GetText(id::kCodeFile);
    std::string sum = ui.GetText(id::kChecksum).substr(0, 4);
    if (!sum.empty() && OnlyCharsFrom(HexCharset, sum)) r.checksum = uint16_t(ParseDigits(sum, 16));
    r.rangeStart = ctx_.programmingRange.start;
    r.rangeEnd = ctx_.programmingRange.end;
    r.idCode = idCode;
    r.idAddress = idAddress;
    r.successCount = ctx_.successCount;
    r.failureCount = ctx_.failureCount;
    r.durationMs = ctx_.clock->NowMs() - startMs_;
    r.port = ctx_.rememberedPort.Get();
    if (ctx_.records->Append(r) == RecordKept::Stored || ctx_.recordsWarned) return;
    ctx_.recordsWarned = true;
    ShowBox(ctx_,
            "生产记录写入失败,记录文件夹可能无法建立,磁盘空间可能不足或记录文件被其它软件(如电子表格)占用!\n" +
                ctx_.records->Location() + "\n编程操作将继续进行,本次运行期间不再提示.",
            "警告", MsgButtons::Ok, MsgIcon::Warning);
}

bool IdCodeUnusedOrAccepted(AppContext& ctx, uint32_t idCode) {
    if (!ctx.records) return true;
    std::optional<std::string> day = ctx.records->IdCodeOnGoodChip(idCode);
    if (!day) return true;
    return ShowBox(ctx,
                   "ID码 " + Dec(idCode) + " 已于" + *day +
                       "写入过一块合格芯片,\n再次写入将使两块芯片具有相同的ID码!\n\n"
                       "是否继续进行当前操作?",
                   "提示:", MsgButtons::YesNo, MsgIcon::Warning, 1) == MsgAnswer::Yes;
}

}  // namespace veldrix
